#include "converter/audio/soundtrack_extraction.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "converter/audio/mp3_encoder.h"
#include "converter/audio/ogg_encoder.h"
#include "converter/audio/sound_format_conversion.h"
#include "platform/mediagraph/soundtrack_reader.h"

namespace reel {
namespace {

constexpr uint32_t kHighRate = 44100;
constexpr uint32_t kLowRate = 22050;

// The decoded track's pieces, read until `stopped` says otherwise.
class TrackPieces : public StoppableSource {
 public:
  TrackPieces(SoundtrackPieces track, std::function<bool()> stopped, std::string path)
      : StoppableSource(std::move(stopped), std::move(path)), track_(std::move(track)) {}

  Result<bool> Next(std::vector<uint8_t>& out) override {
    if (Status going = Interruption(); !going) return going.error();
    return track_.Next(out);
  }

 private:
  SoundtrackPieces track_;
};

}  // namespace

WAVEFORMATEX IntermediateSoundtrackFormat(uint32_t sourceRate) {
  const uint32_t rate = sourceRate == kHighRate || sourceRate == kLowRate ? sourceRate : kLowRate;
  WAVEFORMATEX format = PcmWaveFormat(rate, 2, 16);
  format.extraSize = 18;  // as the extracted track's record says; PCM ignores it
  return format;
}

WAVEFORMATEX DecodedSoundtrackFormat(const PcmFormat& source, const SoundSettings& settings) {
  const WAVEFORMATEX intermediate = IntermediateSoundtrackFormat(source.samplesPerSec);
  const WAVEFORMATEX target = CompanionTargetFormat(settings.highRate, settings.stereo);
  const uint32_t rate = std::min(intermediate.samplesPerSec, target.samplesPerSec);
  const uint16_t channels = source.channels == 1 && target.channels == 1 ? 1 : intermediate.channels;
  WAVEFORMATEX format = PcmWaveFormat(rate, channels, 16);
  format.extraSize = intermediate.extraSize;
  return format;
}

std::optional<const char*> CompanionExtension(AudioEncoder encoderChoice) {
  if (encoderChoice == AudioEncoder::kMp3) return ".mp3";
  if (encoderChoice == AudioEncoder::kOgg) return ".ogg";
  return std::nullopt;
}

Result<std::optional<EncodedAudio>> ExtractSoundtrackDShow(const std::string& path, const SoundSettings& settings,
                                                           std::optional<int64_t> startAt) {
  if (!CompanionExtension(settings.encoder)) return std::optional<EncodedAudio>();
  const Result<std::optional<PcmFormat>> probed = ProbeSoundtrack(path);
  if (!probed) return probed.error();
  if (!*probed) return std::optional<EncodedAudio>();
  const WAVEFORMATEX decoded = DecodedSoundtrackFormat(**probed, settings);
  Result<std::optional<DecodedSoundtrack>> track =
      ReadSoundtrack(path, PcmRequest{decoded.samplesPerSec, decoded.channels, startAt});
  if (!track) return track.error();
  if (!*track) return std::optional<EncodedAudio>();
  const std::vector<uint8_t>& pcm = (*track)->data;
  if (settings.encoder == AudioEncoder::kOgg) {
    return std::optional<EncodedAudio>(EncodeOgg(pcm, decoded, settings));
  }
  return std::optional<EncodedAudio>(
      EncodeMp3(pcm, decoded, settings));
}

Result<std::optional<SoundtrackSource>> OpenSoundtrackDShow(const std::string& path, const SoundSettings& settings,
                                                            std::function<bool()> stopped, std::optional<int64_t> startAt,
                                                            const SoundtrackLimits& limits) {
  if (!CompanionExtension(settings.encoder)) return std::optional<SoundtrackSource>();
  // The decoder is started once here, so that a track that cannot be read is known at once; that
  // opening, which also tells the track's own format, is the one the encoder's first reading takes.
  WAVEFORMATEX decoded;
  PcmRequest request;
  const SoundtrackPieces::RequestChoice choose = [&](const PcmFormat& byDefault) {
    decoded = DecodedSoundtrackFormat(byDefault, settings);
    request = PcmRequest{decoded.samplesPerSec, decoded.channels, startAt};
    return request;
  };
  Result<std::optional<SoundtrackPieces>> first = SoundtrackPieces::Open(path, choose, limits);
  if (!first) return first.error();
  if (!*first) return std::optional<SoundtrackSource>();
  auto unread = std::make_shared<std::optional<SoundtrackPieces>>(std::move(*first));
  SoundPiecesOpener open = [path, request, limits, stopped, unread]() -> Result<std::unique_ptr<SoundPieces>> {
    std::optional<SoundtrackPieces> track = std::exchange(*unread, std::nullopt);
    if (!track) {
      Result<std::optional<SoundtrackPieces>> again = SoundtrackPieces::Open(path, request, limits);
      if (!again) return again.error();
      if (!*again) return MakeError(ErrorKind::kCannotRead, path, "its soundtrack is gone");
      track = std::move(*again);
    }
    return std::unique_ptr<SoundPieces>(std::make_unique<TrackPieces>(std::move(*track), stopped, path));
  };
  return std::optional<SoundtrackSource>(SoundtrackSource{decoded, std::move(open)});
}

Result<AudioOutcome> EncodeSoundtrackPieces(const SoundtrackSource& source, const SoundSettings& settings,
                                            const EncodedOutput& output) {
  if (settings.encoder == AudioEncoder::kOgg) {
    return EncodeOggPieces(source.open, source.format, settings, output);
  }
  return EncodeMp3Pieces(source.open, source.format, settings, output);
}

}  // namespace reel
