// SoundStream: the PCM of one companion sound file, whatever its format. A sound channel plays one;
// Mp3Stream (through the decoder plug-in) and OggStream (through libvorbisfile) are the two kinds,
// and MakeSoundStream picks the one a file's first bytes call for.
//
// Positions are sample frames of the sound: 0 is its first sample, whatever the file put before it
// (an MP3 encoder's delay, a Vorbis stream's samples before granule position 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

struct PcmFormat {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t BlockAlign() const { return static_cast<uint16_t>(2 * channels); }
  uint32_t BytesPerSecond() const { return 2u * channels * sampleRate; }
};

class SoundStream {
 public:
  virtual ~SoundStream() = default;

  // Succeeds when the file's first sound can be decoded. Any open stream is closed first. The
  // block given to OpenMemory is not owned and must outlive the stream. Errors name the file
  // (`name` for a block in memory): kNotFound or kCannotRead for a file that cannot be read,
  // kUnsupported for a format the output cannot play, kNotThisFormat when the data is no sound of
  // the stream's kind.
  virtual Status OpenMemory(std::span<const uint8_t> data, const std::string& name = "") = 0;
  virtual Status OpenFile(const std::string& path) = 0;
  virtual void Close() = 0;

  // Fills samples with decoded PCM (interleaved, the stream's format) and returns how many samples
  // were written; fewer than asked only at the end of the data without loop, after which the
  // stream is finished. At the end of the data a looping read starts again from the first sample,
  // and every pass gives the same samples. A closed stream delivers nothing and reports finished.
  virtual std::size_t ReadPcm(std::span<int16_t> samples, bool loop) = 0;

  // Moves to the start of the whole coded frame that holds `frame` (a sample frame of the sound)
  // and returns where that frame's sound begins; the next read goes on from there. At or past the
  // end of the sound the stream is finished and `frame` itself is returned.
  virtual uint64_t Seek(uint64_t frame) = 0;

  virtual bool IsOpen() const = 0;
  virtual bool Finished() const = 0;
  virtual const PcmFormat& Format() const = 0;
};

// An Ogg Vorbis stream for data that begins with an Ogg page ("OggS"), an MP3 stream otherwise.
std::unique_ptr<SoundStream> MakeSoundStream(std::span<const uint8_t> firstBytes);

}  // namespace reel
