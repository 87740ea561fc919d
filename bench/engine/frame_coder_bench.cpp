// Frames per second of the frame coder on the coefficients of a generated natural scene at
// quality 50: the reference CodeCoefficients and the reusable FrameCoder.
#include <benchmark/benchmark.h>

#include "converter/coder/frame_coder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace {

void BM_CodeCoefficients(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const reel::CoefficientSet set = reel::MakeSampleCoefficients(width, height, 50, 7);
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto frame = reel::CodeCoefficients(set, 50);
    bytes = frame->size();
    benchmark::DoNotOptimize(frame);
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frame bytes"] = static_cast<double>(bytes);
}

// The reusable coder, the job's way: one coder for frame after frame.
void BM_FrameCoder(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const reel::CoefficientSet set = reel::MakeSampleCoefficients(width, height, 50, 7);
  reel::FrameCoder coder;
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto frame = coder.Code(set, 50);
    bytes = frame->size();
    benchmark::DoNotOptimize(frame);
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frame bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_CodeCoefficients)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameCoder)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);

}  // namespace
