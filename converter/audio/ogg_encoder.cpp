#include "converter/audio/ogg_encoder.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "converter/audio/pcm_conversion.h"
#include "modules/oggenc/ogg_encode_memory.h"

namespace reel {
namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

}  // namespace

int32_t OggQualityIndex(int32_t bitRateIndex) { return bitRateIndex <= 1 ? 0 : bitRateIndex - 2; }

EncodedAudio EncodeOgg(std::span<const uint8_t> pcm, const WAVEFORMATEX& format, int32_t qualityIndex, bool highRate,
                       bool stereo) {
  if (qualityIndex < 0 || static_cast<std::size_t>(qualityIndex) >= kOggQualities.size()) {
    return {AudioOutcome::kBadSetting, {}};
  }
  const WAVEFORMATEX target = CompanionTargetFormat(highRate, stereo);
  const float quality = kOggQualities[static_cast<std::size_t>(qualityIndex)];

  AudioOutcome outcome = AudioOutcome::kEncoded;
  std::span<const uint8_t> input = pcm;
  std::optional<std::vector<uint8_t>> converted;
  if (NeedsSecondStage(format, target)) {
    converted = AcmConvertBuffer(AcmVariant::kOggPreparation, format, target, pcm);
    if (!converted) outcome = AudioOutcome::kUnconvertible;
    input = converted ? std::span<const uint8_t>(*converted) : std::span<const uint8_t>();
  }
  if (input.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return {AudioOutcome::kEncoderRefused, {}};
  }
  int32_t length = static_cast<int32_t>(input.size());
  const std::unique_ptr<void, FreeDeleter> stream(GetOggEncodeProcessMemory(quality, &target, input.data(), &length));
  if (!stream || length <= 0) return {AudioOutcome::kEncoderRefused, {}};
  const auto* bytes = static_cast<const uint8_t*>(stream.get());
  return {outcome, std::vector<uint8_t>(bytes, bytes + length)};
}

}  // namespace reel
