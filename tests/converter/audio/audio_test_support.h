// Sound for the audio tests: generated tones, clips coded by the ffmpeg tool, the soundtrack of an
// AVI file, MP3 frame bit rates, and an Ogg Vorbis decoder that reads the encoder's streams back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/acm/wave_format.h"

namespace reel::test {

// A sine tone as interleaved 16-bit little-endian PCM; the right channel is at half the left's
// frequency so that swapped or merged channels show.
std::vector<uint8_t> Tone16(uint32_t rate, uint16_t channels, double seconds, double frequency = 440.0,
                            double amplitude = 0.5);
// The same tone as 8-bit unsigned PCM.
std::vector<uint8_t> Tone8(uint32_t rate, uint16_t channels, double seconds, double frequency = 440.0);

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes);
// One channel of interleaved samples.
std::vector<int16_t> Channel(const std::vector<int16_t>& samples, uint16_t channels, uint16_t which);
// The number of upward zero crossings per second: a tone's frequency.
double CrossingsPerSecond(const std::vector<int16_t>& samples, uint32_t rate);
// The number of upward zero crossings: a tone's periods, wherever it lies in the samples.
std::size_t Crossings(const std::vector<int16_t>& samples);
double Rms(const std::vector<int16_t>& samples);

// Codes raw 16-bit PCM with the ffmpeg tool into a WAV file with the given codec and returns the
// format block and data of that file; nothing when ffmpeg is missing or fails.
struct CodedClip {
  AudioFormat format;
  std::vector<uint8_t> data;
};
std::optional<CodedClip> CodeWithFfmpeg(const std::vector<uint8_t>& pcm, uint32_t rate, uint16_t channels,
                                        const std::string& codecArguments);

// The first audio stream of an AVI file: its format block and all its chunks back to back, as a
// whole-stream read gives them; nothing when the file has no audio stream.
std::optional<CodedClip> ReadAviSoundtrack(const std::filesystem::path& path);

// The bit rate of every frame of an MP3 stream, in order; empty when the stream is not frames
// back to back.
std::vector<uint32_t> Mp3FrameBitRates(const std::vector<uint8_t>& mp3);

struct DecodedStream {
  bool ok = false;
  long rate = 0;
  int channels = 0;
  std::size_t frames = 0;  // samples per channel
  std::vector<int16_t> samples;
};
// Decodes an Ogg Vorbis stream with libvorbisfile.
DecodedStream DecodeOgg(const std::vector<uint8_t>& ogg);

}  // namespace reel::test
