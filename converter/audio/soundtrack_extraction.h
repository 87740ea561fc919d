// The soundtrack of a media-framework source, extracted whole and encoded to the companion format
// the job chose.
//
// The primary audio stream is decoded to the intermediate format, 16-bit stereo PCM at the
// source's rate when that is 44100 or 22050 Hz and at 22050 Hz otherwise, straight from the
// decoder (no second copy of a long track). The encoder then brings it to the companion target
// format and encodes it: MP3 at the job's bit rate, or Ogg Vorbis at the quality the bit rate maps
// to, so that the three lowest bit rates share Ogg's lowest quality.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "converter/audio/audio_outcome.h"
#include "platform/acm/wave_format.h"

namespace reel {

// The companion encoders, numbered as the job record numbers them.
inline constexpr int32_t kEncoderMp3 = 0;
inline constexpr int32_t kEncoderOgg = 1;

struct SoundtrackSettings {
  int32_t encoderChoice = kEncoderMp3;
  int32_t bitRateIndex = 3;
  bool highRate = false;
  bool stereo = true;
};

// The intermediate format for a source stream of `sourceRate` Hz: stereo 16-bit PCM at 44100 or
// 22050 Hz.
WAVEFORMATEX IntermediateSoundtrackFormat(uint32_t sourceRate);

// The companion file's extension for an encoder choice: ".mp3" or ".ogg"; none for another value,
// which encodes nothing.
std::optional<const char*> CompanionExtension(int32_t encoderChoice);

// The encoded soundtrack of `path`. Nothing when the file has no audio stream or the encoder
// choice is neither MP3 nor Ogg; an error (naming the file) when the file or its audio stream
// cannot be read.
Result<std::optional<EncodedAudio>> ExtractSoundtrackDShow(const std::string& path, const SoundtrackSettings& settings);

}  // namespace reel
