// Decoding speed of whole frames: natural-picture coefficients at quality 50, coded by the real
// frame coder, decoded into an owner's picture buffer as the player does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "player/video/frame_decoder.h"
#include "player/video/frame_entropy_decoder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

constexpr int32_t kQuality = 50;
constexpr uint32_t kFramesInLoop = 8;  // consecutive frames, so the ball moves as in a clip

std::vector<std::vector<uint8_t>> CodedSampleFrames(uint32_t width, uint32_t height) {
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t index = 0; index < kFramesInLoop; ++index) {
    auto coded = CodeCoefficients(MakeSampleCoefficients(width, height, kQuality, index), kQuality);
    if (coded) frames.push_back(std::move(*coded));
  }
  return frames;
}

void BM_DecodeFrame(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const auto frames = CodedSampleFrames(width, height);
  if (frames.empty()) {
    state.SkipWithError("the coder refused the sample frames");
    return;
  }
  std::vector<uint16_t> pixels(std::size_t{width} * height);
  FrameDecoder decoder;
  decoder.SetPictureBuffer(pixels);
  std::size_t next = 0;
  for (auto _ : state) {
    const bool decoded = decoder.DecodeFrame(frames[next]).ok();
    benchmark::DoNotOptimize(decoded);
    benchmark::DoNotOptimize(pixels.data());
    next = (next + 1) % frames.size();
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["coded_bytes"] = static_cast<double>(frames.front().size());
}
BENCHMARK(BM_DecodeFrame)->Args({320, 240})->Args({640, 480});

// The entropy stage alone, table-driven against the plain tree walk.
void BM_DecodeCoefficients(benchmark::State& state) {
  const auto decoding = state.range(0) == 0 ? SymbolDecoding::kLookupTable : SymbolDecoding::kTreeWalk;
  const auto frames = CodedSampleFrames(320, 240);
  std::size_t next = 0;
  for (auto _ : state) {
    auto coefficients = DecodeFrameCoefficients(frames[next], decoding);
    benchmark::DoNotOptimize(coefficients);
    next = (next + 1) % frames.size();
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeCoefficients)->Arg(0)->Arg(1);

}  // namespace
}  // namespace reel
