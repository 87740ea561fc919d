#include "converter/audio/audio_outcome.h"

namespace reel {

const char* DescribeAudioOutcome(AudioOutcome outcome) {
  switch (outcome) {
    case AudioOutcome::kEncoded: return "The soundtrack was encoded.";
    case AudioOutcome::kUnconvertible: return "The soundtrack's audio format cannot be converted, so the encoder was given no sound.";
    case AudioOutcome::kEncoderMissing: return "The MP3 encoder module gogo.dll could not be loaded.";
    case AudioOutcome::kEncoderRefused: return "The audio encoder refused the soundtrack.";
    case AudioOutcome::kBadSetting: return "The audio bit-rate setting is out of range, so nothing was encoded.";
  }
  return "Unknown audio outcome.";
}

bool EncoderGaveNoBlock(AudioOutcome outcome) {
  return outcome == AudioOutcome::kEncoderMissing || outcome == AudioOutcome::kEncoderRefused ||
         outcome == AudioOutcome::kBadSetting;
}

}  // namespace reel
