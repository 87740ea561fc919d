// SoundChannel: refill, mix and the position clock of one channel.
#include "player/audio/sound_channel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "player/audio/mixer.h"

namespace reel {
namespace {

// The decode area holds the PCM of one refill; 65536 samples cover any buffer size this output
// uses (at most 16384 bytes of output, doubled for a 44100 Hz source).
constexpr std::size_t kDecodedSamples = 65536;
constexpr int32_t kFirstMix = -3;  // the fourth mix counts from -3 up to 0

Result<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    const ErrorKind kind =
        std::filesystem::exists(path) ? ErrorKind::kCannotRead : ErrorKind::kNotFound;
    return MakeError(kind, path, "cannot be opened");
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (file.bad()) return MakeError(ErrorKind::kCannotRead, path, "cannot be read");
  return bytes;
}

// The first bytes of a file, which tell its format; fewer (or none) when it is shorter or unreadable.
std::vector<uint8_t> ReadHead(const std::string& path) {
  std::array<char, 4> head{};
  std::ifstream file(path, std::ios::binary);
  file.read(head.data(), head.size());
  const auto got = static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0));
  return std::vector<uint8_t>(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(got));
}

}  // namespace

SoundChannel::SoundChannel(std::string name, std::size_t bufferBytes, uint32_t outputRate)
    : name_(std::move(name)),
      decoded_(kDecodedSamples),
      pcm_(bufferBytes / 2 + 4),  // silent; four spare samples as the device buffer has
      outputFrames_(bufferBytes / 4),
      secondsPerByte_(1.0 / (4.0 * outputRate)) {}

Status SoundChannel::Open(const std::string& path, bool wholeFile) {
  Status opened;
  if (wholeFile) {
    Result<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (bytes) {
      wholeData_ = std::move(*bytes);
      stream_ = MakeSoundStream(wholeData_);
      opened = stream_->OpenMemory(wholeData_, path);
    } else {
      opened = bytes.error();
    }
  } else {
    stream_ = MakeSoundStream(ReadHead(path));
    opened = stream_->OpenFile(path);
  }
  if (stream_) sourceFormat_ = stream_->Format();
  return opened;
}

void SoundChannel::Start(bool loop) {
  if (state_.load() == ChannelState::kPlaying) return;
  loop_.store(loop);
  mixes_.store(kFirstMix);
  positionTaken_.store(false);
  startPos_.store(0);
  baseBytes_.store(0);
  seekTarget_.store(kNoSeek);
  seekDone_.store(false);
  playedBytes_ = 0;
  state_.store(ChannelState::kPlaying);
}

void SoundChannel::RequestSeek(uint64_t outputFrame) { seekTarget_.store(outputFrame); }

bool SoundChannel::ApplySeek() {
  const uint64_t target = seekTarget_.exchange(kNoSeek);
  if (target == kNoSeek) return false;
  uint64_t landed = target;
  const uint16_t channels = sourceFormat_.channels;
  if (stream_ && stream_->IsOpen() && channels != 0) {
    // Source frames per output frame: 2 at 44100 Hz, 1 at every other rate.
    const uint64_t perOutputFrame = SourceSamplesFor(1, channels, sourceFormat_.sampleRate) / channels;
    landed = stream_->Seek(target * perOutputFrame) / perOutputFrame;
  }
  baseBytes_.store(landed * 4);  // 16-bit stereo output
  positionTaken_.store(false);
  mixes_.store(0);  // the queue was dropped: this refill's sound is the next heard
  seekDone_.store(true);
  return true;
}

bool SoundChannel::TakeSeekDone() {
  if (!seekDone_.exchange(false)) return false;
  playedBytes_ = 0;
  return true;
}

void SoundChannel::SetVolume(int32_t volume) {
  if (volume < 0 || volume > 100) return;
  volume_.store(volume);
  level_.store(std::min(100, volume));
}

void SoundChannel::Refill() {
  std::fill(pcm_.begin(), pcm_.end(), int16_t{0});
  if (!stream_ || stream_->Finished() || !stream_->IsOpen()) return;  // silence from here on
  const std::size_t wanted =
      SourceSamplesFor(outputFrames_, sourceFormat_.channels, sourceFormat_.sampleRate);
  const std::span<int16_t> request = std::span(decoded_).first(std::min(wanted, decoded_.size()));
  const std::size_t got = stream_->ReadPcm(request, loop_.load());
  ConvertToOutput(request.first(got), sourceFormat_.channels, sourceFormat_.sampleRate,
                  std::span(pcm_).first(2 * outputFrames_));
}

void SoundChannel::Fail() {
  failed_.store(true);
  std::fill(pcm_.begin(), pcm_.end(), int16_t{0});
}

void SoundChannel::MixInto(std::span<int16_t> buffer, const WaveOutDevice& device) {
  if (mixes_.fetch_add(1) == 0) {
    // The three buffers queued before this one have been handed over: this one's first sample is
    // the next byte the device is given, and the clock counts from there.
    startPos_.store(device.WrittenBytes());
    positionTaken_.store(true);
  }
  reel::MixInto(buffer, std::span(pcm_).first(2 * outputFrames_), level_.load());
}

// The sound heard since the channel's first sample, never less than the last answer: the device's
// heard position trails what was handed over, so it may still lie before the start.
int32_t SoundChannel::PositionMs(const WaveOutDevice& device) {
  if (positionTaken_.load()) {
    // Signed difference of the wrapping byte counters.
    const auto played = static_cast<int32_t>(device.PositionBytes() - startPos_.load());
    playedBytes_ = std::max<int64_t>(playedBytes_, played);
  }
  const int64_t heard = static_cast<int64_t>(baseBytes_.load()) + std::max<int64_t>(playedBytes_, 0);
  if (heard <= 0) return 0;
  const double milliseconds = static_cast<double>(heard) * secondsPerByte_ * 1000.0;
  return static_cast<int32_t>(std::min(milliseconds, double{INT32_MAX}));
}

}  // namespace reel
