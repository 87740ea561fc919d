// Bringing a soundtrack to 16-bit PCM, and PCM to the format an encoder wants.
//
// Every change of format is one whole-buffer conversion: the complete track in one call. Three
// variants exist; they differ in how the stream is opened and how large the destination starts:
//   decoding         (first stage: compressed soundtrack to PCM)   estimate + 16 bytes
//   MP3 preparation  (second stage before MP3 encoding)            2 x estimate, reset after open
//   Ogg preparation  (second stage before Ogg encoding)            estimate
// where the estimate is the converter's expected output size for the whole source. Should a
// conversion produce more than its destination holds, the destination grows: no sound is lost.
// A long soundtrack goes through the same conversion in pieces (ConvertPieces, sound_pieces.h),
// which gives these functions' bytes without holding the track.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/acm/wave_format.h"

namespace reel {

enum class AcmVariant { kDecoding, kMp3Preparation, kOggPreparation };

// The size the destination block starts at for an estimate of `estimate` bytes.
std::size_t AcmDestinationCapacity(AcmVariant variant, std::size_t estimate);

// Converts the whole source block from `source` to the PCM format `destination`. The result holds
// exactly the bytes produced (possibly none); nothing means the pair of formats cannot be
// converted (no codec for the source, an impossible destination) or memory ran out.
std::optional<std::vector<uint8_t>> AcmConvertBuffer(AcmVariant variant, const AudioFormat& source,
                                                     const WAVEFORMATEX& destination,
                                                     std::span<const uint8_t> sourceData);

// The format in which sound reaches an encoder: 16-bit PCM, 44100 Hz when `highRate`, else
// 22050 Hz; two channels when `stereo`, else one. The extra-size field reads 16, as PCM ignores it.
WAVEFORMATEX CompanionTargetFormat(bool highRate, bool stereo);

// Whether a block must be converted before encoding: its rate, channel count or sample width
// differs from the target's. The tag is not compared.
bool NeedsSecondStage(const WAVEFORMATEX& format, const WAVEFORMATEX& target);

// A soundtrack in PCM with its format.
struct PcmSoundtrack {
  WAVEFORMATEX format;
  std::vector<uint8_t> data;
};

// The first stage for a soundtrack read from a stream with the given format. A PCM stream (tag 1)
// passes unchanged, whatever its width. Any other stream is decoded to the PCM format the
// converter suggests (16 bits, the source's rate and channel count); when it cannot be decoded the
// data comes back empty, so the encoder gets an empty input, and `decoded` is false.
struct FirstStageResult {
  PcmSoundtrack soundtrack;
  bool decoded = true;
};
FirstStageResult ConvertSoundtrackToPcm(const AudioFormat& streamFormat, std::vector<uint8_t> streamData);

}  // namespace reel
