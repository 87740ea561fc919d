// The information frame an encoder may put at the start of an MP3 stream.
//
// It is an ordinary-looking Layer III frame whose audio part holds a "Xing" tag (variable bit rate)
// or an "Info" tag (constant bit rate) instead of sound: flags, then the optional frame count, byte
// count, seek table and quality, then, from encoders that write it, an extension that begins with a
// nine-character encoder name and carries the encoder's delay and padding (two 12-bit numbers, in
// samples per channel). The frame is no sound: a decoder that plays it gives one frame of silence.
//
// What a stream decodes to, frame by frame, after its information frame: the encoder's delay plus
// the decoder's own delay of kMp3DecoderDelay samples, then the encoded sound, then what is left of
// the padding. So the sound is decoded samples [delay + 529, frames x samples per frame - padding
// + 529) of the frames after the information frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace reel {

// Samples per channel by which a Layer III decoder's output trails its input.
inline constexpr uint32_t kMp3DecoderDelay = 529;

struct Mp3InfoFrame {
  std::optional<uint32_t> frames;  // audio frames after the information frame, when given
  uint32_t encoderDelay = 0;       // samples per channel, 0 without the encoder's extension
  uint32_t padding = 0;
  uint32_t samplesPerFrame = 1152;

  // The decoded samples (per channel, counted from the first frame after this one) that are sound.
  uint64_t FirstSample() const { return uint64_t{encoderDelay} + kMp3DecoderDelay; }
  // One past the last; nothing when the frame count is not given (the sound then runs to the end).
  std::optional<uint64_t> EndSample() const;
};

// The information frame's contents when `frame` (a whole frame, its header first) is one; nothing
// for a frame of sound, a frame of another layer, or a tag cut short.
std::optional<Mp3InfoFrame> ReadMp3InfoFrame(std::span<const uint8_t> frame);

}  // namespace reel
