#include "converter/audio/audio_outcome.h"

namespace reel {

const char* DescribeAudioOutcome(AudioOutcome outcome) {
  switch (outcome) {
    case AudioOutcome::kEncoded: return "The soundtrack was encoded.";
    case AudioOutcome::kUnconvertible: return "The soundtrack's audio format cannot be converted; the companion file holds no sound.";
    case AudioOutcome::kEncoderMissing: return "The MP3 encoder module gogo.dll could not be loaded; no companion file was made.";
    case AudioOutcome::kEncoderRefused: return "The audio encoder refused the soundtrack; no sound was encoded.";
    case AudioOutcome::kBadSetting: return "The audio bit-rate setting is out of range; no sound was encoded.";
  }
  return "Unknown audio outcome.";
}

}  // namespace reel
