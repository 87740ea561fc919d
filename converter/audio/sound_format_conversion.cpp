#include "converter/audio/sound_format_conversion.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#include "platform/acm/acm_stream.h"

namespace reel {
namespace {

// ACM counts a destination in 32 bits.
constexpr std::size_t kLargestDestination = std::numeric_limits<uint32_t>::max();

uint32_t OpenFlags(AcmVariant variant) {
  return variant == AcmVariant::kDecoding ? kAcmStreamOpenNonRealtime : 0;
}

}  // namespace

std::size_t AcmDestinationCapacity(AcmVariant variant, std::size_t estimate) {
  std::size_t capacity = estimate;
  switch (variant) {
    case AcmVariant::kDecoding: capacity = estimate + 16; break;
    case AcmVariant::kMp3Preparation: capacity = 2 * estimate; break;
    case AcmVariant::kOggPreparation: break;
  }
  return std::min(capacity, kLargestDestination);
}

std::optional<std::vector<uint8_t>> AcmConvertBuffer(AcmVariant variant, const AudioFormat& source,
                                                     const WAVEFORMATEX& destination,
                                                     std::span<const uint8_t> sourceData) {
  auto stream = AcmStream::Open(source, destination, OpenFlags(variant));
  if (!stream) return std::nullopt;
  if (variant == AcmVariant::kMp3Preparation) stream->Reset();
  const std::size_t estimate = stream->DestinationSize(sourceData.size());
  try {
    std::vector<uint8_t> block(AcmDestinationCapacity(variant, estimate), 0);
    const std::size_t produced = stream->Convert(sourceData, block);
    block.resize(produced);
    block.shrink_to_fit();
    return block;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

WAVEFORMATEX CompanionTargetFormat(bool highRate, bool stereo) {
  WAVEFORMATEX format = PcmWaveFormat(highRate ? 44100 : 22050, stereo ? 2 : 1, 16);
  format.extraSize = 16;
  return format;
}

bool NeedsSecondStage(const WAVEFORMATEX& format, const WAVEFORMATEX& target) {
  return format.samplesPerSec != target.samplesPerSec || format.channels != target.channels ||
         format.bitsPerSample != target.bitsPerSample;
}

FirstStageResult ConvertSoundtrackToPcm(const AudioFormat& streamFormat, std::vector<uint8_t> streamData) {
  FirstStageResult result;
  if (streamFormat.wave.formatTag == kWaveFormatPcm) {
    result.soundtrack = {streamFormat.wave, std::move(streamData)};
    return result;
  }
  WAVEFORMATEX suggested;
  suggested.formatTag = kWaveFormatPcm;
  AcmFormatSuggest(streamFormat, suggested, kAcmFormatSuggestTag);
  auto converted = AcmConvertBuffer(AcmVariant::kDecoding, streamFormat, suggested, streamData);
  result.soundtrack.format = suggested;
  result.decoded = converted.has_value();
  if (converted) result.soundtrack.data = std::move(*converted);
  return result;
}

}  // namespace reel
