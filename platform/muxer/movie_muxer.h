// MovieMuxer: motion-JPEG pictures and the packets of a sound file into one movie file (Matroska,
// AVI or MP4), through libavformat.
//
// Pictures come one JPEG at a time at a fixed frame rate; the sound file's packets are copied as
// they stand, never decoded, and interleaved with the pictures by time. Where the sound is heard
// from is the caller's to say: its first `leadSamples` decoded samples (an encoder's delay, and the
// decoder's) come before the moment of picture 0, and the samples from `endSample` on (the
// encoder's padding) are not heard. The lead becomes the containers' own start offsets: in
// Matroska and MP4 the pictures start that much after the sound; an AVI stream can start only at
// a whole number of its own units (a frame, or a packet of sound), so both streams get a start,
// the pair picked to meet within two milliseconds where whole units allow. Packets that hold only
// padding are left out, and Matroska also trims the last one to the sample.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

enum class MovieContainer { kMatroska, kAvi, kMp4 };

// The container an output name asks for by its extension (".mkv", ".avi", ".mp4", in any case);
// none for any other name.
std::optional<MovieContainer> ContainerForName(const std::string& path);

enum class SoundCodec { kMp3, kVorbis };

// What a sound file holds, as the muxer copies it.
struct SoundFileFacts {
  SoundCodec codec = SoundCodec::kMp3;
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  // Byte offset of the first packet the muxer copies: an MP3's information frame and any tag
  // before the audio lie before it.
  uint64_t firstPacketOffset = 0;
  // Samples (per channel) from the start of the first packet to the first sample a decoder gives:
  // a Vorbis decoder gives none for the first packet, whose window only overlaps the next; an MP3
  // decoder gives samples from the first (its own delay lies within them).
  uint64_t decoderLeadSamples = 0;
};

// Reads a sound file as the format its name says (".mp3" MP3, ".ogg" Ogg Vorbis, in any case).
// An error naming the file when it cannot be read or holds no such sound.
Result<SoundFileFacts> ProbeSoundFile(const std::string& path);

// Beyond what the containers' headers hold, and far beyond any movie the converter writes.
inline constexpr uint32_t kMuxedLargestSide = 65535;
inline constexpr uint32_t kMuxedFastestRate = 1000;

struct MuxedPictures {
  uint32_t width = 0;      // 1 ... kMuxedLargestSide
  uint32_t height = 0;
  uint32_t frameRate = 0;  // frames per second, 1 ... kMuxedFastestRate
};

struct MuxedSound {
  std::string path;
  uint64_t leadSamples = 0;               // per channel
  std::optional<uint64_t> endSample;      // none: every sample is heard
};

class MovieMuxer {
 public:
  // Writes to `writePath` (the container is `container`, whatever that name says); error messages
  // name `outputName`. A kUnsupported error when the container cannot carry the sound (Ogg Vorbis
  // goes only into Matroska).
  static Result<MovieMuxer> Open(const std::string& writePath, const std::string& outputName,
                                 MovieContainer container, const MuxedPictures& pictures,
                                 const std::optional<MuxedSound>& sound);

  MovieMuxer(MovieMuxer&& other) noexcept;
  MovieMuxer& operator=(MovieMuxer&& other) noexcept;
  MovieMuxer(const MovieMuxer&) = delete;
  MovieMuxer& operator=(const MovieMuxer&) = delete;
  // Closes the file; one not finished is incomplete and the caller removes it.
  ~MovieMuxer();

  // The next picture, a whole baseline JPEG.
  Status WriteFrame(std::span<const uint8_t> jpeg);
  // Writes the rest of the sound and the file's index and closes it.
  Status Finish();

  struct State;

 private:
  explicit MovieMuxer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace reel
