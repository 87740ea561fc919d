// The mixer: each playing channel's decoded PCM brought to the output format and summed into the
// output buffer.
//
// The output is 22050 Hz 16-bit stereo. A 44100 Hz source is halved by averaging each pair of
// frames (each half rounded toward zero before adding); a mono source goes to both sides; any other
// rate is taken one source frame per output frame, without resampling, so it plays faster or
// slower by 22050 / rate. Mixing scales by the channel's level (0..100, truncating) and adds to
// the buffer with clamping to the 16-bit range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

inline constexpr uint32_t kHalvedSourceRate = 44100;

// Source samples that make the given number of output frames (2 samples each).
std::size_t SourceSamplesFor(std::size_t outputFrames, uint16_t channels, uint32_t rate);

// Converts interleaved source samples to stereo output frames; returns the frames written
// (limited by both spans).
std::size_t ConvertToOutput(std::span<const int16_t> source, uint16_t channels, uint32_t rate,
                            std::span<int16_t> output);

// buffer[i] = clamp(buffer[i] + scaled pcm[i]) over the shorter of the two.
void MixInto(std::span<int16_t> buffer, std::span<const int16_t> pcm, int32_t level);

}  // namespace reel
