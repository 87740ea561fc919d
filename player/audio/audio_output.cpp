// AudioOutput: the device, its four buffers, the 64 channel slots and the refill on each "done".
//
// The slot table is the only thing the two threads share beyond a channel's own atomics. A channel
// is owned through shared pointers: the device's thread holds one while it refills and mixes, so a
// slot may be cleared by either thread without the channel going away under the other.
#include "player/audio/audio_output.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <thread>

#include "common/exception_text.h"

namespace reel {
namespace {

constexpr uint16_t kFullDeviceVolume = 0xFFFF;
constexpr auto kCloseDrainLimit = std::chrono::milliseconds(1000);
constexpr auto kCloseRetryPause = std::chrono::milliseconds(100);
constexpr int kCloseRetries = 32;
constexpr auto kStopPollPause = std::chrono::milliseconds(1);
// A stop (or a seek) is normally done by the next refill, within one buffer's time; a device that
// has stopped calling back must not hang the player, so after this long the wait ends.
constexpr auto kStopWaitLimit = std::chrono::milliseconds(2000);

std::size_t BufferBytesFor(uint32_t rate) { return rate == AudioOutput::kRate ? 8192 : 16384; }

void ReportOnStandardError(const Error& error) { std::cerr << error.message << std::endl; }

}  // namespace

AudioOutput::AudioOutput(FailureReporter report)
    : AudioOutput(
          [](uint32_t rate, WaveOutDevice::DoneHandler onDone) {
            return OpenWaveOut(rate, std::move(onDone));
          },
          std::move(report)) {}

AudioOutput::AudioOutput(const DeviceOpener& openDevice, FailureReporter report,
                         ChannelMaker makeChannel)
    : report_(report ? std::move(report) : FailureReporter(ReportOnStandardError)),
      makeChannel_(std::move(makeChannel)) {
  auto onDone = [this](std::size_t bufferId) { OnBufferDone(bufferId); };
  Result<std::unique_ptr<WaveOutDevice>> opened = openDevice(rate_, onDone);
  if (!opened) opened = openDevice(kRate, onDone);  // the second try is always 22050 Hz
  if (opened && *opened) device_ = std::move(*opened);
  if (!device_) {
    // With no usable device the output plays into a silent sink, so the clock still runs.
    const std::string reason = opened ? "sound device: cannot be opened" : opened.error().message;
    report_(Error{ErrorKind::kDevice, reason + "; playing without sound"});
    device_ = OpenSilentWaveOut(kRate, onDone);
  }
  device_->SetVolume(kFullDeviceVolume, kFullDeviceVolume);
  bufferBytes_ = BufferBytesFor(rate_);
  for (std::size_t id = 0; id < kBufferCount; ++id) {
    buffers_[id].assign(bufferBytes_ / 2, 0);
  }
  for (std::size_t id = 0; id < kBufferCount; ++id) device_->Write(id, buffers_[id]);
}

AudioOutput::~AudioOutput() {
  closing_.store(true);
  device_->Shutdown();  // no done call runs after this, so the device can go before the buffers
}

void AudioOutput::OnBufferDone(std::size_t bufferId) noexcept {
  if (bufferId >= kBufferCount) return;
  try {
    std::vector<int16_t>& buffer = buffers_[bufferId];
    std::fill(buffer.begin(), buffer.end(), int16_t{0});
    std::array<std::shared_ptr<SoundChannel>, kSlotCount> channels;
    {
      std::lock_guard guard(slotsMutex_);
      channels = slots_;
    }
    for (std::size_t index = 0; index < kSlotCount; ++index) {
      const std::shared_ptr<SoundChannel>& channel = channels[index];
      if (!channel) continue;
      if (channel->State() == ChannelState::kPlaying) RefillAndMix(index, *channel, buffer);
      if (channel->State() == ChannelState::kStopRequested) FreeSlot(index, channel.get());
    }
    if (!closing_.load()) device_->Write(bufferId, buffer);
  } catch (...) {
    ReportOnce(MakeError(ErrorKind::kDevice, "sound output",
                         "refilling a buffer failed: " + CurrentExceptionText() +
                             "; that buffer stays silent"));
  }
}

// A channel that fails is silenced for good but still mixed, so its clock runs on.
void AudioOutput::RefillAndMix(std::size_t index, SoundChannel& channel,
                               std::vector<int16_t>& buffer) {
  try {
    channel.ApplySeek();
    if (!channel.Failed()) channel.Refill();
  } catch (...) {
    channel.Fail();
    ReportOnce(MakeError(ErrorKind::kDevice,
                         "sound channel " + std::to_string(index) + " (" + channel.Name() + ")",
                         "decoding failed: " + CurrentExceptionText() + "; it plays silence"));
  }
  channel.MixInto(buffer, *device_);
}

void AudioOutput::ReportOnce(const Error& error) {
  if (failureReported_.exchange(true)) return;
  try {
    report_(error);
  } catch (...) {
    // A reporter that fails has nowhere left to report to.
  }
}

void AudioOutput::FreeSlot(std::size_t index, const SoundChannel* channel) {
  std::shared_ptr<SoundChannel> freed;  // let go outside the lock: closing a stream takes time
  std::lock_guard guard(slotsMutex_);
  if (slots_[index].get() == channel) freed = std::move(slots_[index]);
}

std::shared_ptr<SoundChannel> AudioOutput::ChannelAt(int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= kSlotCount) return nullptr;
  std::lock_guard guard(slotsMutex_);
  return slots_[static_cast<std::size_t>(index)];
}

bool AudioOutput::DeviceRunning() const { return !closing_.load() && !closed_.load(); }

Status AudioOutput::OpenChannel(int32_t index, const std::string& name, const std::string& folder,
                                int32_t volume, bool loop, bool start, bool wholeFile) {
  if (index < 0 || static_cast<std::size_t>(index) >= kSlotCount) {
    return MakeError(ErrorKind::kUsage, "sound channel " + std::to_string(index), "there is no such channel");
  }
  StopChannel(index);
  std::shared_ptr<SoundChannel> channel =
      makeChannel_ ? makeChannel_(name, bufferBytes_, rate_)
                   : std::make_shared<SoundChannel>(name, bufferBytes_, rate_);
  // An MP3 that cannot be read leaves a channel that plays silence: its clock still runs.
  static_cast<void>(channel->Open(folder + name, wholeFile));
  channel->SetVolume(volume);
  {
    std::lock_guard guard(slotsMutex_);
    slots_[static_cast<std::size_t>(index)] = channel;
  }
  if (start) StartChannel(index, loop);
  return {};
}

void AudioOutput::StartChannel(int32_t index, bool loop) {
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (channel) channel->Start(loop);
}

void AudioOutput::StopChannel(int32_t index) {
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (!channel) return;
  channel->RequestStop();
  const auto giveUp = std::chrono::steady_clock::now() + kStopWaitLimit;
  while (DeviceRunning() && std::chrono::steady_clock::now() < giveUp) {
    if (ChannelAt(index) != channel) return;  // the refill has freed it
    std::this_thread::sleep_for(kStopPollPause);
  }
  FreeSlot(static_cast<std::size_t>(index), channel.get());
}

void AudioOutput::SetChannelVolume(int32_t index, int32_t volume) {
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (channel) channel->SetVolume(volume);
}

int32_t AudioOutput::ChannelPosition(int32_t index) {
  if (std::optional<Error> failure = device_->Failure()) ReportOnce(*failure);
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (!channel || channel->State() != ChannelState::kPlaying) return -1;
  return channel->PositionMs(*device_);
}

void AudioOutput::Pause(bool paused) {
  paused_.store(paused);
  device_->Pause(paused);
}

std::optional<int32_t> AudioOutput::SeekChannel(int32_t index, int32_t milliseconds) {
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (!channel || channel->State() != ChannelState::kPlaying || !DeviceRunning()) return std::nullopt;
  const auto outputFrame = static_cast<uint64_t>(std::max(milliseconds, 0)) * rate_ / 1000;
  channel->TakeSeekDone();  // a seek the device carried out after its asker gave up
  device_->Flush([channel, outputFrame] { channel->RequestSeek(outputFrame); });
  const auto giveUp = std::chrono::steady_clock::now() + kStopWaitLimit;
  while (!channel->TakeSeekDone()) {
    if (!DeviceRunning() || std::chrono::steady_clock::now() >= giveUp) return std::nullopt;
    std::this_thread::sleep_for(kStopPollPause);
  }
  return channel->PositionMs(*device_);
}

std::optional<uint32_t> AudioOutput::ChannelStartFrame(int32_t index) {
  std::shared_ptr<SoundChannel> channel = ChannelAt(index);
  if (!channel || channel->State() != ChannelState::kPlaying) return std::nullopt;
  const std::optional<uint32_t> bytes = channel->StartBytes();
  if (!bytes) return std::nullopt;
  return *bytes / 4;  // 16-bit stereo
}

void AudioOutput::CloseAudio() {
  if (closed_.load()) return;
  closing_.store(true);
  if (paused_.load()) {
    // A paused output keeps its queue for good: what it holds is not to be heard any more.
    device_->Shutdown();
    closed_.store(true);
    return;
  }
  // No buffer is queued again from now on; the ones queued play out within a few hundred ms.
  const auto drainedBy = std::chrono::steady_clock::now() + kCloseDrainLimit;
  while (!device_->Close()) {
    if (std::chrono::steady_clock::now() >= drainedBy) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int attempt = 0; attempt < kCloseRetries && !device_->Close(); ++attempt) {
    std::this_thread::sleep_for(kCloseRetryPause);
  }
  closed_.store(true);
}

}  // namespace reel
