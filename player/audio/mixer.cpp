#include "player/audio/mixer.h"

#include <algorithm>

namespace reel {
namespace {

constexpr int32_t kFullLevel = 100;

int16_t HalfSum(int16_t a, int16_t b) {
  // Each half rounds toward zero before the two are added.
  return static_cast<int16_t>(a / 2 + b / 2);
}

std::size_t ConvertHalved(std::span<const int16_t> source, uint16_t channels,
                          std::span<int16_t> output) {
  const std::size_t frames = std::min(source.size() / (2u * channels), output.size() / 2);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    if (channels == 1) {
      const int16_t value = HalfSum(source[2 * frame], source[2 * frame + 1]);
      output[2 * frame] = value;
      output[2 * frame + 1] = value;
    } else {
      const std::size_t at = 4 * frame;
      output[2 * frame] = HalfSum(source[at], source[at + 2]);
      output[2 * frame + 1] = HalfSum(source[at + 1], source[at + 3]);
    }
  }
  return frames;
}

std::size_t ConvertFrameForFrame(std::span<const int16_t> source, uint16_t channels,
                                 std::span<int16_t> output) {
  const std::size_t frames = std::min(source.size() / channels, output.size() / 2);
  if (channels == 2) {
    std::copy_n(source.begin(), 2 * frames, output.begin());
    return frames;
  }
  for (std::size_t frame = 0; frame < frames; ++frame) {
    output[2 * frame] = source[frame];
    output[2 * frame + 1] = source[frame];
  }
  return frames;
}

}  // namespace

std::size_t SourceSamplesFor(std::size_t outputFrames, uint16_t channels, uint32_t rate) {
  const std::size_t perFrame = rate == kHalvedSourceRate ? 2 : 1;
  return outputFrames * channels * perFrame;
}

std::size_t ConvertToOutput(std::span<const int16_t> source, uint16_t channels, uint32_t rate,
                            std::span<int16_t> output) {
  if (channels != 1 && channels != 2) return 0;
  if (rate == kHalvedSourceRate) return ConvertHalved(source, channels, output);
  return ConvertFrameForFrame(source, channels, output);
}

void MixInto(std::span<int16_t> buffer, std::span<const int16_t> pcm, int32_t level) {
  const std::size_t count = std::min(buffer.size(), pcm.size());
  const bool scale = level < kFullLevel;
  for (std::size_t i = 0; i < count; ++i) {
    int32_t sample = pcm[i];
    if (scale) sample = level * sample / kFullLevel;  // truncates toward zero
    buffer[i] = static_cast<int16_t>(std::clamp(buffer[i] + sample, -32768, 32767));
  }
}

}  // namespace reel
