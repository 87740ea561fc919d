// SoundChannel: refill, mix and the position clock of one channel.
#include "player/audio/sound_channel.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <fstream>
#include <iterator>

#include "player/audio/pcm_conversion.h"

namespace reel {
namespace {

// The decode area holds the PCM of one refill; 65536 samples cover any buffer size this output
// uses (at most 16384 bytes of output, doubled for a 44100 Hz source).
constexpr std::size_t kDecodedSamples = 65536;
constexpr int32_t kFirstMix = -3;  // the fourth mix counts from -3 up to 0

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

SoundChannel::SoundChannel(std::string name, std::size_t buffer_bytes, uint32_t output_rate)
    : name_(std::move(name)),
      decoded_(kDecodedSamples),
      pcm_(buffer_bytes / 2 + 4),  // silent; four spare samples as the device buffer has
      output_frames_(buffer_bytes / 4),
      seconds_per_byte_(1.0 / (4.0 * output_rate)) {}

bool SoundChannel::Open(const std::string& path, bool whole_file) {
  bool opened = false;
  if (whole_file) {
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (bytes) {
      whole_data_ = std::move(*bytes);
      opened = stream_.OpenMemory(whole_data_);
    }
  } else {
    opened = stream_.OpenFile(path);
  }
  source_format_ = stream_.Format();
  return opened;
}

void SoundChannel::Start(bool loop) {
  if (state_.load() == ChannelState::kPlaying) return;
  loop_.store(loop);
  mixes_.store(kFirstMix);
  position_taken_.store(false);
  start_pos_.store(0);
  state_.store(ChannelState::kPlaying);
}

void SoundChannel::SetVolume(int32_t volume) {
  if (volume < 0 || volume > 100) return;
  volume_.store(volume);
  level_.store(std::min(100, volume));
}

void SoundChannel::Refill() {
  std::fill(pcm_.begin(), pcm_.end(), int16_t{0});
  if (stream_.Finished() || !stream_.IsOpen()) return;  // silence from here on
  const std::size_t wanted =
      SourceSamplesFor(output_frames_, source_format_.channels, source_format_.sample_rate);
  const std::span<int16_t> request = std::span(decoded_).first(std::min(wanted, decoded_.size()));
  const std::size_t got = stream_.ReadPcm(request, loop_.load());
  ConvertToOutput(request.first(got), source_format_.channels, source_format_.sample_rate,
                  std::span(pcm_).first(2 * output_frames_));
}

void SoundChannel::MixInto(std::span<int16_t> buffer, const WaveOutDevice& device) {
  if (mixes_.fetch_add(1) == 0) {
    // The three buffers queued before this one have been played: the clock starts here.
    const uint32_t position = device.PositionBytes();
    start_pos_.store(position);
    last_pos_.store(position);
    position_taken_.store(true);
  }
  reel::MixInto(buffer, std::span(pcm_).first(2 * output_frames_), level_.load());
}

int32_t SoundChannel::PositionMs(const WaveOutDevice& device) {
  if (!position_taken_.load()) return 0;
  const uint32_t position = device.PositionBytes();
  // Unsigned difference: correct across the byte counter's wrap.
  played_bytes_ += static_cast<uint32_t>(position - last_pos_.load());
  last_pos_.store(position);
  if (played_bytes_ <= 0) return 0;
  const double milliseconds = static_cast<double>(played_bytes_) * seconds_per_byte_ * 1000.0;
  return static_cast<int32_t>(std::min(milliseconds, double{INT32_MAX}));
}

}  // namespace reel
