// The soundtrack of a media-framework source, extracted and encoded to the companion format the
// job chose: whole (ExtractSoundtrackDShow), or in pieces for a track of any length
// (OpenSoundtrackDShow and EncodeSoundtrackPieces), with the same bytes.
//
// The primary audio stream is brought to the intermediate format, 16-bit stereo PCM at the
// source's rate when that is 44100 or 22050 Hz and at 22050 Hz otherwise, and the encoder then
// brings it to the companion target format and encodes it: MP3 at the job's bit rate, or Ogg
// Vorbis at the quality the bit rate maps to, so that the three lowest bit rates share Ogg's
// lowest quality.
//
// A long track is large in PCM (half an hour at 44100 Hz stereo is 318 MB), so the decoder
// delivers it already as far towards the target as the two stages would take it together: at the
// lower of the intermediate and the target rate (a track the intermediate format halves to
// 22050 Hz keeps that band limit when the target is 44100 Hz), and a mono track stays mono when
// the target is mono. Only what is left (doubling the rate, two channels to one) is converted
// after, and no full-size intermediate copy is held beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "converter/audio/audio_outcome.h"
#include "converter/audio/sound_pieces.h"
#include "converter/choices/job_choices.h"
#include "platform/acm/wave_format.h"
#include "platform/mediagraph/soundtrack_reader.h"

namespace reel {

// The intermediate format for a source stream of `sourceRate` Hz: stereo 16-bit PCM at 44100 or
// 22050 Hz.
WAVEFORMATEX IntermediateSoundtrackFormat(uint32_t sourceRate);

// The format the soundtrack is decoded to for a source stream of format `source` (see above).
WAVEFORMATEX DecodedSoundtrackFormat(const PcmFormat& source, const SoundSettings& settings);

// The companion file's extension for an encoder choice: ".mp3" or ".ogg"; none for another value,
// which encodes nothing.
std::optional<const char*> CompanionExtension(AudioEncoder encoderChoice);

// The encoded soundtrack of `path`. Nothing when the file has no audio stream or the encoder
// choice is neither MP3 nor Ogg; an error (naming the file) when the file or its audio stream
// cannot be read. With `startAt` (100-ns units on the file's timeline, the time of the movie's
// first picture) the sound begins there: led with silence or cut at the front by its own time
// stamps (see soundtrack_reader.h).
Result<std::optional<EncodedAudio>> ExtractSoundtrackDShow(const std::string& path, const SoundSettings& settings,
                                                           std::optional<int64_t> startAt = std::nullopt);

// The same soundtrack in pieces, for a track too long to hold whole: its decoded format and a way
// to read it from the start (as often as the encoder needs). Nothing and the errors as for
// ExtractSoundtrackDShow, found before any sound is decoded. Reading stops with a kStopped error
// once `stopped` returns true. Every opening of the file is made with `limits` (which may carry
// an earlier opening's verdict on the file, so that none probes it again).
struct SoundtrackSource {
  WAVEFORMATEX format;
  SoundPiecesOpener open;
};
Result<std::optional<SoundtrackSource>> OpenSoundtrackDShow(const std::string& path, const SoundSettings& settings,
                                                            std::function<bool()> stopped,
                                                            std::optional<int64_t> startAt = std::nullopt,
                                                            const SoundtrackLimits& limits = {});

// Encodes a soundtrack in pieces with the chosen encoder, as ExtractSoundtrackDShow would, the
// stream's bytes handed to `output` as they come.
Result<AudioOutcome> EncodeSoundtrackPieces(const SoundtrackSource& source, const SoundSettings& settings,
                                            const EncodedOutput& output);

}  // namespace reel
