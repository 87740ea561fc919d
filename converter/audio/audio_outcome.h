// What became of a soundtrack handed to an encoder, so that the job can tell the user.
#pragma once

#include <cstdint>
#include <vector>

namespace reel {

enum class AudioOutcome {
  kEncoded,           // the stream was encoded; its bytes may still be few for a short track
  kUnconvertible,     // the soundtrack could not be brought to the encoder's PCM format, so an
                      // empty input was encoded
  kEncoderMissing,    // the MP3 module could not be loaded (or lacks entry points): nothing encoded
  kEncoderRefused,    // the encoder refused the format or failed: no stream
  kBadSetting,        // a bit-rate or quality index outside its table: nothing encoded
};

struct EncodedAudio {
  AudioOutcome outcome = AudioOutcome::kEncoded;
  std::vector<uint8_t> bytes;
};

// A short English sentence for the job's report: what happened to the sound, not what was written
// (the caller says that).
const char* DescribeAudioOutcome(AudioOutcome outcome);

// True for an outcome after which the encoder gave no block to write (nothing at all, or a stream
// it gave up before its end).
bool EncoderGaveNoBlock(AudioOutcome outcome);

}  // namespace reel
