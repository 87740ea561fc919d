// Mp3Stream: the PCM of one MP3 file, decoded frame by frame through the plug-in.
//
// The bytes come from a block in memory (not owned; it must outlive the stream) or from a file
// read as the stream plays (sound_source.h); a file cut short while it plays ends the data there. Audio starts after any ID3v2 tag and ends before any ID3v1 tag. Each read
// decodes whole frames until the request is met; what a frame gives beyond the request is kept for
// the next read. At the end of the data a looping read starts again from the first frame with a
// fresh decoder, so every pass sounds the same; a read that does not loop marks the stream finished.
//
// A stream that opens with an encoder's information frame (mp3_info_frame.h) plays only the sound
// that frame describes: the frame itself is neither decoded nor counted, and the encoder's and the
// decoder's delay at the start and the padding at the end are left out. Streams without one play
// every sample every frame gives.
//
// A seek lands on the first sample of a whole frame. The stream remembers where each frame it has
// passed starts, so going back costs nothing and going forward walks frame headers only; the few
// frames before the one landed on are decoded and not played, so the decoder has the bit reservoir
// and the overlap those frames leave, and the frame sounds as it does when played through.
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
#include "player/audio/sound_source.h"
#include "player/audio/sound_stream.h"

namespace reel {

class Mp3Stream final : public SoundStream {
 public:
  Mp3Stream() = default;  // takes a reference on the plug-in
  Mp3Stream(const Mp3Stream&) = delete;
  Mp3Stream& operator=(const Mp3Stream&) = delete;
  ~Mp3Stream() override;

  // kUnsupported also when the plug-in is missing; kNotThisFormat when the decoder refuses the
  // first frame.
  Status OpenMemory(std::span<const uint8_t> data, const std::string& name = "") override;
  Status OpenFile(const std::string& path) override;
  void Close() override;
  std::size_t ReadPcm(std::span<int16_t> samples, bool loop) override;
  uint64_t Seek(uint64_t frame) override;

  bool IsOpen() const override { return decoder_ != nullptr; }
  bool Finished() const override { return finished_; }
  const PcmFormat& Format() const override { return format_; }
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
  // A fresh decoder at the pass's frame `index`, whose start is known; false when it is refused.
  bool RestartAt(std::size_t index);
  // Walks frame headers until the start of frame `index` is known; false when the data ends first.
  bool FindFrame(std::size_t index);
  // The first sample of the sound and one past its last, in decoded samples per channel of a pass.
  uint64_t SoundStart() const { return info_ ? info_->FirstSample() : 0; }
  uint64_t SoundEnd() const { return info_ ? info_->EndSample().value_or(UINT64_MAX) : UINT64_MAX; }

  Mp3Plugin plugin_;
  bool finished_ = false;
  void* decoder_ = nullptr;
  SoundSource source_;
  std::size_t dataStart_ = 0;
  std::size_t dataEnd_ = 0;
  std::size_t readPos_ = 0;
  std::size_t audioStart_ = 0;   // the first frame of sound, after any information frame
  uint64_t passSample_ = 0;      // samples per channel decoded in this pass
  std::size_t passFrame_ = 0;    // the frame of the pass decoded next
  std::vector<std::size_t> frameStarts_;  // where each audio frame met so far starts
  uint32_t samplesPerFrame_ = 1152;
  std::optional<Mp3InfoFrame> info_;
  PcmFormat format_;
  std::vector<int16_t> overflow_;
  std::size_t overflowPos_ = 0;
  std::vector<uint8_t> frameCopy_ = std::vector<uint8_t>(kMp3FrameCopyBytes);
  std::vector<int16_t> pcmOut_ = std::vector<int16_t>(kLodestarPcmAreaBytes / 2);
};

}  // namespace reel
