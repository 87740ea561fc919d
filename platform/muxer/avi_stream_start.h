// Start offsets for the streams of an AVI file.
//
// An AVI stream's header ("strh") says at which of the stream's own units it starts (dwStart, 28
// bytes into the chunk's data): frames for the pictures, packets for a sound whose packets each
// hold the same number of samples. Readers place the stream's first chunk there. So two streams
// can be put in step only to whole units of each, and the pair of starts is picked to bring them
// as close as they come.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

struct AviStarts {
  uint32_t pictureFrames = 0;
  uint32_t soundPackets = 0;
};

// The starts that put picture 0 at the moment sample `leadSamples` of the sound (counted from its
// first packet) plays, as closely as whole frames and packets allow with the pictures starting
// within two seconds; the first pair within two milliseconds is taken.
AviStarts ChooseAviStarts(uint64_t leadSamples, uint32_t sampleRate, uint32_t samplesPerPacket,
                          uint32_t frameRate);

// Sets the starts of the streams of an AVI file already written, in the order of their headers
// (starts[i] for the i-th "strh"). A kDamaged error naming `outputName` when the file's header
// list does not hold that many stream headers, kCannotWrite when the file cannot be changed.
Status WriteAviStreamStarts(const std::string& path, const std::string& outputName,
                            std::span<const uint32_t> starts);

}  // namespace reel
