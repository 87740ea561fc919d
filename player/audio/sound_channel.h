// SoundChannel: one playing sound of the audio output, a companion file (MP3 or Ogg Vorbis)
// decoded through its SoundStream.
//
// The user-interface thread creates, starts, stops and sets the volume of a channel; the device's
// thread refills and mixes it. The values both threads touch (state, level, the position fields)
// are atomics; everything else belongs to the device's thread once the channel is in its slot.
//
// A seek is asked for on the device's thread, where the stream lives (the output asks from its
// device's flush): the next refill moves the stream to the whole coded frame that holds the place,
// and the clock counts on from that frame's first sample, which the next mix starts with.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/waveout/wave_out.h"
#include "player/audio/sound_stream.h"

namespace reel {

enum class ChannelState : int32_t { kIdle = 0, kPlaying = 1, kStopRequested = 3 };

class SoundChannel {
 public:
  static constexpr uint64_t kNoSeek = UINT64_MAX;

  // bufferBytes: bytes per output buffer; outputRate: the device's rate.
  SoundChannel(std::string name, std::size_t bufferBytes, uint32_t outputRate);
  SoundChannel(const SoundChannel&) = delete;
  SoundChannel& operator=(const SoundChannel&) = delete;
  virtual ~SoundChannel() = default;

  // Opens the sound file at path (MP3 or Ogg Vorbis, told by its first bytes), either read whole
  // into memory or read as it plays. An error naming the file when it cannot be read or its first
  // frame is refused; the channel then plays silence.
  Status Open(const std::string& path, bool wholeFile);

  void Start(bool loop);
  void RequestStop() { state_.store(ChannelState::kStopRequested); }
  ChannelState State() const { return state_.load(); }
  // A volume outside 0..100 is ignored.
  void SetVolume(int32_t volume);
  int32_t Volume() const { return volume_.load(); }

  // Device thread: the next refill moves the sound to output sample frame `outputFrame` (counted
  // from the sound's first sample), or as near before it as a whole coded frame allows.
  void RequestSeek(uint64_t outputFrame);
  // Device thread: carries out a requested seek, before the refill. The clock then stands at the
  // frame landed on until the next mix's first sample is heard. True when a seek was carried out.
  bool ApplySeek();
  // User-interface thread: true once the seek asked for last has been carried out; the clock is
  // then counted afresh from the frame landed on.
  bool TakeSeekDone();

  // Device thread: decode and convert the next output buffer's worth into pcm. May throw (the
  // output catches it and calls Fail); virtual so a test can make it fail.
  virtual void Refill();
  // Device thread: silences the channel for good after a failed refill.
  void Fail();
  bool Failed() const { return failed_.load(); }
  // Device thread: add pcm into the output buffer; the fourth mix after the start takes the
  // device's written position, where this mix's first sample will play, as the start of the clock.
  void MixInto(std::span<int16_t> buffer, const WaveOutDevice& device);

  // User-interface thread: milliseconds of this channel's sound heard, 0 before the fourth mix and
  // until its first sample is heard; never goes backwards, but for a seek.
  int32_t PositionMs(const WaveOutDevice& device);

  // Where this channel's first sample plays, in bytes of everything the device played; none before
  // the fourth mix.
  std::optional<uint32_t> StartBytes() const {
    if (!positionTaken_.load()) return std::nullopt;
    return startPos_.load();
  }

  const std::string& Name() const { return name_; }
  const PcmFormat& SourceFormat() const { return sourceFormat_; }

 private:
  std::string name_;
  std::unique_ptr<SoundStream> stream_;
  std::vector<uint8_t> wholeData_;
  std::vector<int16_t> decoded_;
  std::vector<int16_t> pcm_;
  std::size_t outputFrames_;
  PcmFormat sourceFormat_;
  std::atomic<ChannelState> state_{ChannelState::kIdle};
  std::atomic<bool> failed_{false};
  std::atomic<bool> loop_{false};
  std::atomic<int32_t> volume_{100};
  std::atomic<int32_t> level_{100};
  std::atomic<int32_t> mixes_{0};
  std::atomic<bool> positionTaken_{false};
  std::atomic<uint32_t> startPos_{0};
  std::atomic<uint64_t> seekTarget_{kNoSeek};  // output frames; kNoSeek when none is asked for
  std::atomic<uint64_t> baseBytes_{0};         // output bytes of the sound before the clock's start
  std::atomic<bool> seekDone_{false};
  int64_t playedBytes_ = 0;
  double secondsPerByte_;
};

}  // namespace reel
