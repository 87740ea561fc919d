// AudioOutput: the player's sound output. One per process, created at start-up.
//
// How the player uses it:
//   AudioOutput audio;                    // opens the sound device (22050 Hz, 16-bit stereo) and
//                                         // queues four silent 8192-byte buffers; never fails: with
//                                         // no usable device it plays into a silent sink whose
//                                         // clock still runs at real-time pace
//   audio.OpenChannel(0, "movie.mp3", "/path/to/folder/", volume, /*loop=*/false,
//                     /*start=*/true, wholeFile);   // stops whatever channel 0 played, opens the
//                                         // MP3 or Ogg Vorbis file (told by its first bytes;
//                                         // folder ends with "/"; a name of any length),
//                                         // starts it. An MP3 that
//                                         // cannot be decoded (or a missing "Lodestar.ovl")
//                                         // still gives a playing channel that plays silence.
//   audio.ChannelPosition(0)              // milliseconds of the channel's sound heard (what was
//                                         // handed to the device less what it still holds); 0
//                                         // until the fourth buffer after the start has been mixed
//                                         // and its first sample heard; never goes backwards; -1
//                                         // for an empty slot or a channel that is not playing.
//                                         // Keeps running after the MP3 has ended (the channel
//                                         // mixes silence).
//   audio.SetChannelVolume(0, volume)     // 0..100; anything else is ignored
//   audio.StartChannel(0, loop)           // starts a channel opened with start = false
//   audio.StopChannel(0)                  // ends the channel and frees its slot
//   audio.Pause(true)                     // silence at once; every clock stops until Pause(false)
//   audio.SeekChannel(0, ms)              // the channel's sound from the whole MP3 or Ogg frame
//                                         // that holds `ms` (the sound queued is dropped); its
//                                         // position then is where it landed
//   audio.CloseAudio()                    // at shut-down: stops requeuing, waits for the queued
//                                         // buffers (drops them when paused) and closes the device
// Channels 0..63 exist; the movie's sound is channel 0. Call all of these from one thread (the
// user-interface thread); decoding and mixing run on the device's thread.
// Link reel_player_audio; the decoder plug-in is the target reel_lodestar, built as
// bin/Lodestar.ovl beside the executables and found there by the normal library search (add it as
// a dependency of the player so it is built with it).
//
// Every refill happens when the device hands back a played buffer: the buffer is cleared, every
// playing channel in slot order decodes, converts and mixes its next 2048 stereo frames into it,
// channels asked to stop are freed, and the buffer is queued again unless the output is closing.
//
// The refill runs on the device's thread and is a boundary: nothing thrown there goes further. A
// channel whose refill fails plays silence from then on (its clock keeps running); a failure of the
// output itself leaves that buffer silent. The first such failure is reported once, naming the
// channel or the device, through the reporter given at construction (standard error by default).
// A sound device that cannot be opened is reported the same way, and the output plays into the
// silent sink.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/waveout/wave_out.h"
#include "player/audio/sound_channel.h"

namespace reel {

class AudioOutput {
 public:
  static constexpr uint32_t kRate = 22050;
  static constexpr std::size_t kBufferCount = 4;
  static constexpr std::size_t kSlotCount = 64;

  // Opens a device for a rate. The default opens the system's sound output.
  using DeviceOpener = std::function<Result<std::unique_ptr<WaveOutDevice>>(
      uint32_t rate, WaveOutDevice::DoneHandler onDone)>;
  // Told about a failure the output has recovered from by playing silence; may be called on the
  // device's thread.
  using FailureReporter = std::function<void(const Error& error)>;
  // Makes the channel OpenChannel puts into a slot; the default makes a plain SoundChannel.
  using ChannelMaker = std::function<std::shared_ptr<SoundChannel>(
      const std::string& name, std::size_t bufferBytes, uint32_t outputRate)>;

  // Opens the system's sound output; failures go to `report` (standard error when not given).
  explicit AudioOutput(FailureReporter report = nullptr);
  explicit AudioOutput(const DeviceOpener& openDevice, FailureReporter report = nullptr,
                       ChannelMaker makeChannel = nullptr);
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;
  ~AudioOutput();

  // Succeeds when the channel was put into the slot, even when its MP3 cannot be read (the
  // channel then plays silence and its clock runs), whatever the length of its name: a movie
  // whose sound has a long name must still have a clock. kUsage for a slot index outside 0..63;
  // nothing is put into a slot then.
  Status OpenChannel(int32_t index, const std::string& name, const std::string& folder,
                     int32_t volume, bool loop, bool start, bool wholeFile);
  void StartChannel(int32_t index, bool loop);
  void StopChannel(int32_t index);
  void SetChannelVolume(int32_t index, int32_t volume);
  int32_t ChannelPosition(int32_t index);
  // Pauses or resumes the output: paused, it plays silence and keeps what is queued, and the
  // positions of all channels stand still.
  void Pause(bool paused);
  // Moves a playing channel's sound to `milliseconds` (from its first sample), or as near before
  // it as a whole coded frame allows; the sound already queued is dropped, so the new place is
  // heard next. Waits for the device's thread to do it, and returns the channel's position then:
  // where the sound landed (past the end of the sound: `milliseconds`, the channel going on in
  // silence). None for a slot that plays nothing, or when the device does not answer.
  std::optional<int32_t> SeekChannel(int32_t index, int32_t milliseconds);
  // Where a playing channel's first sample plays, in output sample frames since the device opened;
  // none before its fourth mix or for a slot that plays nothing.
  std::optional<uint32_t> ChannelStartFrame(int32_t index);
  void CloseAudio();

  // Bytes per output buffer: 8192 at 22050 Hz, 16384 at any other rate.
  std::size_t BufferBytes() const { return bufferBytes_; }

  // The device's "done" for one buffer: refill, mix and requeue. Public so that a test or a
  // benchmark driving a device of its own can call it.
  // Never throws.
  void OnBufferDone(std::size_t bufferId) noexcept;

 private:
  std::shared_ptr<SoundChannel> ChannelAt(int32_t index) const;
  void FreeSlot(std::size_t index, const SoundChannel* channel);
  bool DeviceRunning() const;
  void RefillAndMix(std::size_t index, SoundChannel& channel, std::vector<int16_t>& buffer);
  void ReportOnce(const Error& error);

  uint32_t rate_ = kRate;
  std::size_t bufferBytes_ = 8192;
  std::array<std::vector<int16_t>, kBufferCount> buffers_;
  mutable std::mutex slotsMutex_;  // guards the slot table only, never held while decoding
  std::array<std::shared_ptr<SoundChannel>, kSlotCount> slots_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> closed_{false};
  std::atomic<bool> paused_{false};
  FailureReporter report_;
  ChannelMaker makeChannel_;
  std::atomic<bool> failureReported_{false};
  std::unique_ptr<WaveOutDevice> device_;  // declared last: closed first, before the buffers go
};

}  // namespace reel
