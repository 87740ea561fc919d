// The waveform output devices: SDL's dummy driver and the silent sink play queued buffers in
// order, hand each one back, count played bytes at the real-time pace, contain a done handler that
// throws and close cleanly.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/waveout/wave_out.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

// Four buffers requeued on every done call, as the audio output does; records the order.
struct Requeuer {
  std::array<std::vector<int16_t>, 4> buffers;
  std::mutex mutex;
  std::vector<std::size_t> order;
  std::atomic<bool> stop{false};
  WaveOutDevice* device = nullptr;

  void OnDone(std::size_t id) {
    {
      std::lock_guard guard(mutex);
      order.push_back(id);
    }
    if (!stop.load()) device->Write(id, buffers[id]);
  }
};

using Opener = std::function<Result<std::unique_ptr<WaveOutDevice>>(WaveOutDevice::DoneHandler)>;

void ExpectPlaysInOrderAtRealTimePace(const Opener& open) {
  Requeuer requeuer;
  for (auto& buffer : requeuer.buffers) buffer.assign(4096, 0);
  Result<std::unique_ptr<WaveOutDevice>> opened =
      open([&requeuer](std::size_t id) { requeuer.OnDone(id); });
  ASSERT_TRUE(opened) << opened.error().message;
  std::unique_ptr<WaveOutDevice> device = std::move(*opened);
  ASSERT_NE(device, nullptr);
  requeuer.device = device.get();
  const auto started = std::chrono::steady_clock::now();
  for (std::size_t id = 0; id < 4; ++id) device->Write(id, requeuer.buffers[id]);
  std::this_thread::sleep_for(600ms);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double played = device->PositionBytes() / 88200.0;
  // What is heard trails what was handed over by at most the one chunk the device holds, and never
  // goes backwards.
  uint32_t last = 0;
  for (int i = 0; i < 50; ++i) {
    const uint32_t heard = device->PositionBytes();
    const uint32_t written = device->WrittenBytes();
    EXPECT_GE(heard, last);
    EXPECT_LE(heard, written);
    EXPECT_LE(written - heard, 8192u);  // one chunk heard, one being handed over
    last = heard;
    std::this_thread::sleep_for(2ms);
  }
  // Paced, not instant: no more than what real time allows plus what the device pulls ahead.
  EXPECT_GT(played, 0.2);
  EXPECT_LT(played, seconds + 0.4);
  EXPECT_FALSE(device->Close());  // buffers still queued
  requeuer.stop = true;
  const auto giveUp = std::chrono::steady_clock::now() + 3s;
  while (!device->Close() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(device->Close());
  std::lock_guard guard(requeuer.mutex);
  ASSERT_GE(requeuer.order.size(), 4u);
  for (std::size_t i = 0; i < requeuer.order.size(); ++i) EXPECT_EQ(requeuer.order[i], i % 4);
  EXPECT_FALSE(device->Failure());
}

// A done handler that throws is caught on the device's thread: the device keeps pulling (silence
// where the buffer was not queued again), closes cleanly and keeps the failure for the player.
void ExpectAThrowingDoneHandlerIsContained(const Opener& open) {
  std::vector<int16_t> buffer(4096, 0);
  std::atomic<int> calls{0};
  Result<std::unique_ptr<WaveOutDevice>> opened = open([&calls](std::size_t) {
    ++calls;
    throw std::runtime_error("refill broke");
  });
  ASSERT_TRUE(opened) << opened.error().message;
  std::unique_ptr<WaveOutDevice> device = std::move(*opened);
  device->Write(0, buffer);
  device->Write(1, buffer);
  const auto giveUp = std::chrono::steady_clock::now() + 3s;
  while (calls.load() < 2 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(calls.load(), 2);
  std::this_thread::sleep_for(100ms);  // the last chunk handed over has been heard
  const uint32_t position = device->PositionBytes();
  EXPECT_EQ(position, device->WrittenBytes());
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(device->PositionBytes(), position);  // nothing queued: nothing counted as played
  const std::optional<Error> failure = device->Failure();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->kind, ErrorKind::kDevice);
  EXPECT_EQ(failure->message, "sound device: refilling a played buffer failed: refill broke");
  EXPECT_TRUE(device->Close());
}

TEST(WaveOutTest, ThrowingDoneHandlerIsContainedBySilentSinkAndSdlDevice) {
  ExpectAThrowingDoneHandlerIsContained(
      [](WaveOutDevice::DoneHandler onDone) { return OpenSilentWaveOut(22050, onDone); });
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ExpectAThrowingDoneHandlerIsContained(
      [](WaveOutDevice::DoneHandler onDone) { return OpenWaveOut(22050, onDone); });
}

TEST(WaveOutTest, SilentSinkPlaysBuffersInOrderAtRealTimePace) {
  ExpectPlaysInOrderAtRealTimePace(
      [](WaveOutDevice::DoneHandler onDone) { return OpenSilentWaveOut(22050, onDone); });
}

TEST(WaveOutTest, SdlDummyDriverPlaysBuffersInOrder) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ExpectPlaysInOrderAtRealTimePace(
      [](WaveOutDevice::DoneHandler onDone) { return OpenWaveOut(22050, onDone); });
}

// Paused, a device plays nothing on: no buffer comes back and neither position moves. A flush,
// paused or not, runs its task and then hands back every queued buffer in the order written; what
// was dropped was never handed over, so the positions stay.
TEST(WaveOutTest, PauseHoldsTheQueueAndTheClockAndAFlushHandsEveryBufferBack) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  for (const bool sdl : {false, true}) {
    SCOPED_TRACE(sdl ? "SDL" : "silent sink");
    Requeuer requeuer;
    for (auto& buffer : requeuer.buffers) buffer.assign(4096, 0);
    const auto onDone = [&requeuer](std::size_t id) { requeuer.OnDone(id); };
    Result<std::unique_ptr<WaveOutDevice>> opened = sdl ? OpenWaveOut(22050, onDone) : OpenSilentWaveOut(22050, onDone);
    ASSERT_TRUE(opened) << opened.error().message;
    std::unique_ptr<WaveOutDevice> device = std::move(*opened);
    requeuer.device = device.get();
    for (std::size_t id = 0; id < 4; ++id) device->Write(id, requeuer.buffers[id]);
    std::this_thread::sleep_for(200ms);
    device->Pause(true);
    std::this_thread::sleep_for(150ms);  // the chunk handed over before the pause has been heard
    const uint32_t heard = device->PositionBytes();
    const uint32_t written = device->WrittenBytes();
    const std::size_t done = [&] {
      std::lock_guard guard(requeuer.mutex);
      return requeuer.order.size();
    }();
    EXPECT_EQ(heard, written);
    std::atomic<bool> flushed{false};
    device->Flush([&] {
      std::lock_guard guard(requeuer.mutex);
      flushed = requeuer.order.size() == done;  // runs before the buffers come back
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(flushed.load());
    EXPECT_EQ(device->PositionBytes(), heard);
    EXPECT_EQ(device->WrittenBytes(), written);
    {
      std::lock_guard guard(requeuer.mutex);
      ASSERT_EQ(requeuer.order.size(), done + 4);  // each once, however long the pause
      for (std::size_t i = done; i < done + 4; ++i) EXPECT_EQ(requeuer.order[i], i % 4) << i;
    }
    device->Pause(false);
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(device->PositionBytes(), heard);
    requeuer.stop = true;
    device->Shutdown();
  }
}

TEST(WaveOutTest, AnUnknownSdlDriverIsRefusedWithItsReason) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  const Result<std::unique_ptr<WaveOutDevice>> refused = OpenWaveOut(22050, [](std::size_t) {});
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.kind(), ErrorKind::kDevice);
  EXPECT_EQ(refused.error().message.rfind("sound device: cannot be opened at 22050 Hz: ", 0), 0u)
      << refused.error().message;
}

}  // namespace
}  // namespace reel
