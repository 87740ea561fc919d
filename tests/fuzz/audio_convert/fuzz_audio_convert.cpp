// Soundtrack conversion of untrusted stream headers and data: the first byte picks the companion
// format, then come a format block (record and codec data) and the stream's bytes. Every input
// must be converted or refused cleanly, with whole destination frames.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "converter/audio/sound_format_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + reel::kWaveFormatSize) return 0;
  const uint8_t choice = data[0];
  const std::span<const uint8_t> rest(data + 1, size - 1);
  const auto format = reel::ReadAudioFormat(rest);
  if (!format) return 0;
  const std::span<const uint8_t> stream = rest.subspan(reel::kWaveFormatSize + format->extra.size());
  const reel::WAVEFORMATEX target = reel::CompanionTargetFormat((choice & 1) != 0, (choice & 2) != 0);
  const auto variant = (choice & 4) != 0 ? reel::AcmVariant::kDecoding : reel::AcmVariant::kMp3Preparation;
  const auto converted = reel::AcmConvertBuffer(variant, *format, target, stream);
  if (converted && converted->size() % target.blockAlign != 0) std::abort();
  return 0;
}
