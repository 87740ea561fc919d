#include "converter/audio/ogg_encoder.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "converter/audio/sound_format_conversion.h"
#include "modules/oggenc/ogg_encode_memory.h"

namespace reel {
namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

}  // namespace

int32_t OggQualityIndex(int32_t bitRateIndex) { return bitRateIndex <= 1 ? 0 : bitRateIndex - 2; }

EncodedAudio EncodeOgg(std::span<const uint8_t> pcm, const WAVEFORMATEX& format, const SoundSettings& sound) {
  const int32_t qualityIndex = OggQualityIndex(sound.bitRateIndex);
  if (qualityIndex < 0 || static_cast<std::size_t>(qualityIndex) >= kOggQualities.size()) {
    return {AudioOutcome::kBadSetting, {}};
  }
  const WAVEFORMATEX target = CompanionTargetFormat(sound.highRate, sound.stereo);
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

namespace {

struct OggOutputContext {
  const EncodedOutput* output;
  Status status;
};

int32_t PassOggBytes(void* context, const void* bytes, int32_t length) {
  auto* sink = static_cast<OggOutputContext*>(context);
  if (!sink->status) return 1;
  sink->status = (*sink->output)(std::span<const uint8_t>(static_cast<const uint8_t*>(bytes), static_cast<std::size_t>(length)));
  return sink->status ? 0 : 1;
}

// Ends an Ogg session however the encoding leaves.
struct OggSession {
  void* handle = nullptr;
  ~OggSession() {
    if (handle != nullptr) OggEncodeEnd(handle, 0);
  }
  int32_t End() { return OggEncodeEnd(std::exchange(handle, nullptr), 1); }
};

}  // namespace

Result<AudioOutcome> EncodeOggPieces(const SoundPiecesOpener& open, const WAVEFORMATEX& format, const SoundSettings& sound,
                                     const EncodedOutput& output) {
  const int32_t qualityIndex = OggQualityIndex(sound.bitRateIndex);
  if (qualityIndex < 0 || static_cast<std::size_t>(qualityIndex) >= kOggQualities.size()) {
    return AudioOutcome::kBadSetting;
  }
  const WAVEFORMATEX target = CompanionTargetFormat(sound.highRate, sound.stereo);
  const float quality = kOggQualities[static_cast<std::size_t>(qualityIndex)];

  AudioOutcome outcome = AudioOutcome::kEncoded;
  Result<std::unique_ptr<SoundPieces>> pieces = open();
  if (!pieces) return pieces.error();
  if (NeedsSecondStage(format, target)) {
    std::unique_ptr<SoundPieces> converted = ConvertPieces(AcmVariant::kOggPreparation, format, target, std::move(*pieces));
    if (!converted) {
      outcome = AudioOutcome::kUnconvertible;
      converted = MemoryPieces({}, 1);
    }
    *pieces = std::move(converted);
  }
  OggOutputContext sink{&output, {}};
  OggSession session{OggEncodeBegin(quality, &target, &PassOggBytes, &sink)};
  if (session.handle == nullptr) {
    if (!sink.status) return sink.status.error();
    return AudioOutcome::kEncoderRefused;
  }
  std::vector<uint8_t> piece;
  for (bool more = true; more;) {
    piece.clear();
    const Result<bool> next = (*pieces)->Next(piece);
    if (!next) return next.error();
    more = *next;
    if (piece.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
        OggEncodeWrite(session.handle, piece.data(), static_cast<int32_t>(piece.size())) != 0) {
      if (!sink.status) return sink.status.error();
      return AudioOutcome::kEncoderRefused;
    }
  }
  if (session.End() != 0) {
    if (!sink.status) return sink.status.error();
    return AudioOutcome::kEncoderRefused;
  }
  return outcome;
}

}  // namespace reel
