// Mp3Stream: the PCM of one MP3 file, decoded frame by frame through the plug-in.
//
// The bytes come from a block in memory (not owned; it must outlive the stream) or from a file
// read as the stream plays (mp3_source.h); a file cut short while it plays ends the data there. Audio starts after any ID3v2 tag and ends before any ID3v1 tag. Each read
// decodes whole frames until the request is met; what a frame gives beyond the request is kept for
// the next read. At the end of the data a looping read starts again from the first frame with a
// fresh decoder, so every pass sounds the same; a read that does not loop marks the stream finished.
//
// A stream that opens with an encoder's information frame (mp3_info_frame.h) plays only the sound
// that frame describes: the frame itself is neither decoded nor counted, and the encoder's and the
// decoder's delay at the start and the padding at the end are left out. Streams without one play
// every sample every frame gives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "player/audio/mp3_info_frame.h"
#include "player/audio/mp3_plugin.h"
#include "player/audio/mp3_source.h"

namespace reel {

struct PcmFormat {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t BlockAlign() const { return static_cast<uint16_t>(2 * channels); }
  uint32_t BytesPerSecond() const { return 2u * channels * sampleRate; }
};

class Mp3Stream {
 public:
  Mp3Stream() = default;  // takes a reference on the plug-in
  Mp3Stream(const Mp3Stream&) = delete;
  Mp3Stream& operator=(const Mp3Stream&) = delete;
  ~Mp3Stream();

  // Succeeds when the decoder accepts the first frame. Any open stream is closed first. Errors
  // name the file (`name` for a block in memory): kNotFound or kCannotRead for a file that cannot
  // be mapped, kUnsupported when the plug-in is missing or the format is one the output cannot
  // play, kNotThisFormat when the decoder refuses the first frame.
  Status OpenMemory(std::span<const uint8_t> data, const std::string& name = "");
  Status OpenFile(const std::string& path);
  void Close();

  // Fills samples with decoded PCM (interleaved, the stream's format) and returns how many samples
  // were written; fewer than asked only at the end of the data without loop, after which the
  // stream is finished. A closed stream delivers nothing and reports finished.
  std::size_t ReadPcm(std::span<int16_t> samples, bool loop);

  bool IsOpen() const { return decoder_ != nullptr; }
  bool Finished() const { return finished_; }
  const PcmFormat& Format() const { return format_; }
  // The stream's information frame, when it has one.
  const std::optional<Mp3InfoFrame>& InfoFrame() const { return info_; }

 private:
  Status OpenData(const std::string& name);
  std::size_t TakeOverflow(std::span<int16_t> samples);
  // The four bytes of a frame header at `offset`; false when the data holds fewer there.
  bool HeaderAt(std::size_t offset, std::array<uint8_t, 4>& header);
  // Under the lock: takes the information frame, if the data starts with one, out of the audio.
  void FindInfoFrame(const Mp3PluginEntries& entries, void* decoder);
  // What one frame gave: the samples of pcmOut_ that are sound, or the end of the data.
  struct Decoded {
    bool ended = false;
    std::size_t first = 0;  // interleaved samples
    std::size_t count = 0;
  };
  Decoded DecodeNextFrame();
  // Back to the first audio frame with a fresh decoder; false when the decoder refuses it.
  bool Restart();

  Mp3Plugin plugin_;
  bool finished_ = false;
  void* decoder_ = nullptr;
  Mp3Source source_;
  std::size_t dataStart_ = 0;
  std::size_t dataEnd_ = 0;
  std::size_t readPos_ = 0;
  std::size_t audioStart_ = 0;   // the first frame of sound, after any information frame
  uint64_t passSample_ = 0;      // samples per channel decoded in this pass
  std::optional<Mp3InfoFrame> info_;
  PcmFormat format_;
  std::vector<int16_t> overflow_;
  std::size_t overflowPos_ = 0;
  std::vector<uint8_t> frameCopy_ = std::vector<uint8_t>(kMp3FrameCopyBytes);
  std::vector<int16_t> pcmOut_ = std::vector<int16_t>(kLodestarPcmAreaBytes / 2);
};

}  // namespace reel
