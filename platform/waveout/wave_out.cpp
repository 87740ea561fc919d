// The waveform output device on SDL audio, and the silent sink used when there is none.
//
// SDL pulls sound through a callback; the device here keeps the written buffers in a queue and
// copies from its head into what SDL asks for. When the head has been copied whole it is taken off
// the queue and handed back through the done call, outside the queue's lock so the handler can
// write it again. Both devices share that queue; they differ only in who pulls: SDL's audio thread,
// or a thread of our own that pulls one chunk per chunk's worth of real time. Whatever is thrown on
// the pulling thread is caught there: that pull plays silence and the first failure is kept.
//
// What has been heard: each pull hands the sound library one chunk, which it plays over the next
// chunk's worth of time. So the position heard is the bytes handed over less that chunk, plus the
// time since the pull at the rate of play (never more than the chunk), and it never goes backwards.
#include "platform/waveout/wave_out.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/exception_text.h"

namespace reel {
namespace {

constexpr uint16_t kFullVolume = 0xFFFF;
// Frames per pull: about 93 ms at 22050 Hz, one of the player's 8192-byte buffers, so that each
// pull wakes the device's thread once and refills one buffer (a smaller pull wakes it twice as
// often for the same sound). The position heard is taken between pulls from the clock, so it
// moves smoothly whatever the pull's size.
constexpr uint16_t kDeviceFrames = 2048;
// The silent sink pulls half that: its first pull comes the moment the first buffer is written, and
// must not hand that buffer back (to be written again) before the writer has queued the others.
constexpr uint16_t kSilentSinkFrames = 1024;

// The bytes heard at `now`, given the last pull: it handed over `chunk` bytes, ending at `written`,
// at `pulledAt`; the device plays `bytesPerSecond`. Whole sample frames of 4 bytes.
uint64_t HeardBytes(uint64_t written, uint64_t chunk, std::chrono::steady_clock::time_point pulledAt,
                    std::chrono::steady_clock::time_point now, uint32_t bytesPerSecond) {
  const uint64_t start = written - std::min(written, chunk);
  const double seconds = std::chrono::duration<double>(now - pulledAt).count();
  const double played = std::max(seconds, 0.0) * bytesPerSecond;
  const uint64_t within = std::min(chunk, static_cast<uint64_t>(played)) / 4 * 4;
  return start + within;
}

class QueuedWaveOut : public WaveOutDevice {
 public:
  QueuedWaveOut(uint32_t rate, DoneHandler onDone)
      : onDone_(std::move(onDone)), bytesPerSecond_(4 * std::max(rate, 1u)) {}

  void Write(std::size_t bufferId, std::span<const int16_t> samples) override {
    std::unique_lock lock(mutex_);
    if (stopped_) return;
    queue_.push_back(Queued{bufferId, samples, 0});
    if (started_) return;
    started_ = true;
    lock.unlock();
    Begin();
  }

  uint32_t WrittenBytes() const override { return position_.load(); }

  uint32_t PositionBytes() const override {
    std::lock_guard lock(heardMutex_);
    const uint64_t heard = HeardBytes(pullEnd_, pullBytes_, pulledAt_,
                                      std::chrono::steady_clock::now(), bytesPerSecond_);
    heard_ = std::max(heard_, heard);
    return static_cast<uint32_t>(heard_);
  }

  void SetVolume(uint16_t left, uint16_t right) override {
    leftVolume_.store(left);
    rightVolume_.store(right);
  }

  void Pause(bool paused) override { paused_.store(paused); }

  void Flush(std::function<void()> atFlush) override {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    flushes_.push_back(std::move(atFlush));
  }

  bool Close() override {
    {
      std::lock_guard lock(mutex_);
      if (!stopped_ && (!queue_.empty() || inDone_)) return false;
      stopped_ = true;
    }
    Stop();
    return true;
  }

  void Shutdown() override {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
      queue_.clear();
    }
    Stop();
  }

  std::optional<Error> Failure() const override {
    std::lock_guard lock(failureMutex_);
    return failure_;
  }

 protected:
  // Starts pulling; called once, on the first write.
  virtual void Begin() = 0;
  // Stops pulling and waits for a pull in progress; must be safe to call more than once.
  virtual void Stop() = 0;

  // Fills out with queued sound, silence where the queue runs dry, and hands back every buffer
  // played to its end.
  void Pump(std::span<int16_t> out) {
    std::size_t filled = 0;
    std::unique_lock lock(mutex_);
    FlushRequested(lock);
    while (!paused_.load() && filled < out.size() && !stopped_ && !queue_.empty()) {
      Queued& head = queue_.front();
      const std::size_t count = std::min(out.size() - filled, head.samples.size() - head.played);
      CopyScaled(head.samples.subspan(head.played, count), out.subspan(filled, count), filled);
      head.played += count;
      filled += count;
      position_.fetch_add(static_cast<uint32_t>(2 * count));
      if (head.played < head.samples.size()) continue;
      const std::size_t doneId = head.id;
      queue_.pop_front();
      inDone_ = true;
      lock.unlock();
      HandBack(doneId);
      lock.lock();
      inDone_ = false;
    }
    lock.unlock();
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(filled), out.end(), int16_t{0});
    // Only queued sound counts as handed over: silence where the queue ran dry is no part of it.
    std::lock_guard heardLock(heardMutex_);
    pullEnd_ += 2 * filled;
    pullBytes_ = 2 * filled;
    pulledAt_ = std::chrono::steady_clock::now();
  }

  // Counts `bytes` of silence the sound library played on its own before the first pull as handed
  // over, so that positions are offsets into everything the device played since it opened.
  void CountLeadingSilence(uint64_t bytes) {
    position_.fetch_add(static_cast<uint32_t>(bytes));
    std::lock_guard heardLock(heardMutex_);
    pullEnd_ += bytes;
  }

  // Called inside a catch block on the pulling thread: keeps the first failure.
  void RecordFailure(const std::string& where) {
    const Error error = MakeError(ErrorKind::kDevice, "sound device",
                                  where + " failed: " + CurrentExceptionText());
    std::lock_guard lock(failureMutex_);
    if (!failure_) failure_ = error;
  }

 private:
  struct Queued {
    std::size_t id;
    std::span<const int16_t> samples;
    std::size_t played;
  };

  // Called with the queue's lock held, which it lets go while the handlers run.
  void FlushRequested(std::unique_lock<std::mutex>& lock) {
    while (!flushes_.empty() && !stopped_) {
      std::function<void()> atFlush = std::move(flushes_.front());
      flushes_.pop_front();
      std::deque<Queued> dropped;
      dropped.swap(queue_);
      inDone_ = true;
      lock.unlock();
      try {
        if (atFlush) atFlush();
      } catch (...) {
        RecordFailure("flushing");
      }
      for (const Queued& buffer : dropped) HandBack(buffer.id);
      lock.lock();
      inDone_ = false;
    }
  }

  void HandBack(std::size_t bufferId) {
    try {
      onDone_(bufferId);
    } catch (...) {
      RecordFailure("refilling a played buffer");  // that buffer is not queued again
    }
  }

  // outOffset tells which side the first sample is on (even: left).
  void CopyScaled(std::span<const int16_t> from, std::span<int16_t> to, std::size_t outOffset) {
    const uint32_t left = leftVolume_.load();
    const uint32_t right = rightVolume_.load();
    if (left == kFullVolume && right == kFullVolume) {
      std::copy(from.begin(), from.end(), to.begin());
      return;
    }
    for (std::size_t i = 0; i < from.size(); ++i) {
      const int32_t volume = static_cast<int32_t>(((outOffset + i) % 2 == 0) ? left : right);
      to[i] = static_cast<int16_t>(from[i] * volume / kFullVolume);
    }
  }

  DoneHandler onDone_;
  std::mutex mutex_;
  std::deque<Queued> queue_;
  std::deque<std::function<void()>> flushes_;
  std::atomic<bool> paused_{false};
  bool started_ = false;
  bool stopped_ = false;
  bool inDone_ = false;
  std::atomic<uint32_t> position_{0};
  uint32_t bytesPerSecond_;
  mutable std::mutex heardMutex_;
  uint64_t pullEnd_ = 0;    // bytes handed over at the end of the last pull
  uint64_t pullBytes_ = 0;  // what the last pull handed over
  std::chrono::steady_clock::time_point pulledAt_{};
  mutable uint64_t heard_ = 0;
  std::atomic<uint16_t> leftVolume_{kFullVolume};
  std::atomic<uint16_t> rightVolume_{kFullVolume};
  mutable std::mutex failureMutex_;
  std::optional<Error> failure_;
};

class SdlWaveOut final : public QueuedWaveOut {
 public:
  SdlWaveOut(uint32_t rate, DoneHandler onDone) : QueuedWaveOut(rate, std::move(onDone)) {}
  ~SdlWaveOut() override { Shutdown(); }

  bool OpenDevice(uint32_t rate) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_ = true;
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = kDeviceFrames;
    wanted.callback = &SdlWaveOut::Callback;
    wanted.userdata = this;
    SDL_AudioSpec obtained{};
    // No changes allowed: SDL converts to whatever the hardware wants.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    openedAt_ = std::chrono::steady_clock::now();
    chunkTime_ = std::chrono::duration<double>(static_cast<double>(obtained.samples) / std::max(obtained.freq, 1));
    return device_ != 0;
  }

 private:
  // Called by SDL's audio thread: nothing may be thrown back into SDL.
  static void SDLCALL Callback(void* self, Uint8* stream, int length) {
    auto& device = *static_cast<SdlWaveOut*>(self);
    const auto bytes = static_cast<std::size_t>(std::max(length, 0));
    try {
      device.Pull(stream, bytes);
    } catch (...) {
      SDL_memset(stream, 0, bytes);
      device.RecordFailure("playing");
    }
  }

  void Pull(Uint8* stream, std::size_t length) {
    if (!pulled_) {
      pulled_ = true;
      CountLeadingSilence(LeadingSilenceBytes(length));
    }
    scratch_.resize(length / 2);
    Pump(scratch_);
    SDL_memcpy(stream, scratch_.data(), scratch_.size() * 2);
    if (length % 2 != 0) stream[length - 1] = 0;
  }

  // SDL plays silence from the moment the device opens until it is unpaused, a whole chunk at a
  // time and a chunk's time apart. The disk driver's file holds exactly what was played; for any
  // other driver the time to the first pull tells how many chunks that was.
  uint64_t LeadingSilenceBytes(std::size_t chunkBytes) const {
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver != nullptr && std::string_view(driver) == "disk") {
      const char* file = std::getenv("SDL_DISKAUDIOFILE");
      std::error_code error;
      const auto bytes = std::filesystem::file_size(file != nullptr ? file : "sdlaudio.raw", error);
      if (!error) return bytes;
    }
    const double chunks = (std::chrono::steady_clock::now() - openedAt_) / chunkTime_;
    return static_cast<uint64_t>(std::llround(std::max(chunks, 0.0))) * chunkBytes;
  }

  void Begin() override { SDL_PauseAudioDevice(device_, 0); }

  void Stop() override {
    std::lock_guard lock(stopMutex_);
    if (device_ != 0) SDL_CloseAudioDevice(device_);  // waits for the callback to return
    device_ = 0;
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
  }

  std::mutex stopMutex_;
  SDL_AudioDeviceID device_ = 0;
  bool subsystem_ = false;
  std::chrono::steady_clock::time_point openedAt_{};
  std::chrono::duration<double> chunkTime_{1.0};
  bool pulled_ = false;  // touched by SDL's audio thread only
  std::vector<int16_t> scratch_;
};

class SilentWaveOut final : public QueuedWaveOut {
 public:
  SilentWaveOut(uint32_t rate, DoneHandler onDone)
      : QueuedWaveOut(rate, std::move(onDone)),
        chunkTime_(std::chrono::duration<double>(double{kSilentSinkFrames} / std::max(rate, 1u))),
        scratch_(2 * kSilentSinkFrames) {}
  ~SilentWaveOut() override { Shutdown(); }

 private:
  void Begin() override {
    thread_ = std::jthread([this](std::stop_token stop) {
      auto next = std::chrono::steady_clock::now();
      while (!stop.stop_requested()) {
        try {
          Pump(scratch_);
        } catch (...) {
          RecordFailure("playing");
        }
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(chunkTime_);
        std::this_thread::sleep_until(next);
      }
    });
  }

  void Stop() override {
    std::lock_guard lock(stopMutex_);
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
  }

  std::chrono::duration<double> chunkTime_;
  std::vector<int16_t> scratch_;
  std::mutex stopMutex_;
  std::jthread thread_;
};

}  // namespace

Result<std::unique_ptr<WaveOutDevice>> OpenWaveOut(uint32_t rate,
                                                   WaveOutDevice::DoneHandler onDone) {
  auto device = std::make_unique<SdlWaveOut>(rate, std::move(onDone));
  if (!device->OpenDevice(rate)) {
    return MakeError(ErrorKind::kDevice, "sound device",
                     "cannot be opened at " + std::to_string(rate) + " Hz: " + SDL_GetError());
  }
  return std::unique_ptr<WaveOutDevice>(std::move(device));
}

std::unique_ptr<WaveOutDevice> OpenSilentWaveOut(uint32_t rate,
                                                 WaveOutDevice::DoneHandler onDone) {
  return std::make_unique<SilentWaveOut>(rate, std::move(onDone));
}

}  // namespace reel
