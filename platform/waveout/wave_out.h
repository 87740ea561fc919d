// The waveform output device: four (or any number of) caller-owned buffers written to a queue,
// played in the order written, each handed back through a "done" call when the device has played
// it, plus the byte position played so far, the volume and closing.
//
// The device plays 16-bit signed stereo at the rate asked for. A written buffer belongs to the
// device until its done call; the caller refills it there and writes it again. Done calls come on
// the device's own thread, one at a time, in the order the buffers were written; a done handler may
// write buffers but must not close the device. Playback begins with the first write.
//
// The device's thread is a boundary: nothing thrown on it reaches the sound library. A done handler
// should not throw; if it (or the device's own work) does, the device plays silence where the sound
// was to come from and keeps the first failure for Failure(), which the user-interface thread may
// ask for and report.
//
// OpenWaveOut opens the system's sound output through SDL audio (SDL_AUDIODRIVER=dummy or disk
// work without a sound card). OpenSilentWaveOut is a device without sound that consumes queued
// buffers at the real-time pace of the rate, so a player whose sound output cannot be opened still
// has a running clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "common/result.h"

namespace reel {

class WaveOutDevice {
 public:
  using DoneHandler = std::function<void(std::size_t bufferId)>;

  virtual ~WaveOutDevice() = default;

  // Queues samples (interleaved left, right) under an id that the done call reports back.
  virtual void Write(std::size_t bufferId, std::span<const int16_t> samples) = 0;

  // Bytes handed over to be played since the device was opened (silence the sound library played
  // on its own before the first write included): the offset in everything the device played at
  // which the next written byte will be played. Wraps at 2^32 as a 32-bit byte counter does.
  virtual uint32_t WrittenBytes() const = 0;

  // Bytes heard so far: those handed over less what the device still holds, never going backwards.
  // Wraps at 2^32 like WrittenBytes, and never passes it.
  virtual uint32_t PositionBytes() const = 0;

  // 0 is silent, 0xFFFF is full level, per side.
  virtual void SetVolume(uint16_t left, uint16_t right) = 0;

  // Paused, the device plays silence and keeps what is queued: no buffer is played on or handed
  // back, and neither position moves (time paused is no part of them), until it is resumed.
  virtual void Pause(bool paused) = 0;

  // Drops every queued buffer, the one playing included: on the device's thread, at the start of
  // its next pull, `atFlush` runs and then each dropped buffer is handed back through its done
  // call in the order written, so that what the handler writes again is the next thing played.
  // Returns at once; a paused device flushes too. What was dropped was never handed over, so the
  // positions stay as they were.
  virtual void Flush(std::function<void()> atFlush) = 0;

  // Stops the device for good. False while buffers are still queued (nothing is changed then);
  // after true no done call comes any more.
  virtual bool Close() = 0;

  // Stops the device at once, dropping whatever is queued; waits for a running done call to end.
  // After it returns no done call comes any more. Closing twice, or after Close, is harmless.
  virtual void Shutdown() = 0;

  // The first failure caught on the device's thread, if any (kind kDevice, naming what failed).
  virtual std::optional<Error> Failure() const = 0;
};

// An error of kind kDevice, naming the sound library's reason, when the sound output cannot be
// opened.
Result<std::unique_ptr<WaveOutDevice>> OpenWaveOut(uint32_t rate,
                                                   WaveOutDevice::DoneHandler onDone);

// Never null.
std::unique_ptr<WaveOutDevice> OpenSilentWaveOut(uint32_t rate,
                                                 WaveOutDevice::DoneHandler onDone);

}  // namespace reel
