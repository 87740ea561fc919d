// Frames per second of the frame coder on the coefficients of a generated natural scene at
// quality 50: the reference CodeCoefficients and the reusable FrameCoder, from dequantised values
// and from quantised ones.
#include <benchmark/benchmark.h>

#include "common/zigzag.h"
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

// The job's own form: the values still quantised, as the JPEG encoder keeps them.
void BM_FrameCoderQuantised(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const reel::CoefficientSet set = reel::MakeSampleCoefficients(width, height, 50, 7);
  reel::QuantisedSet quantised{set.width, set.height, std::vector<reel::QuantisedBlock>(set.blocks.size()),
                               set.quantTables};
  for (std::size_t b = 0; b < set.blocks.size(); ++b) {
    const reel::QuantTable& table = set.quantTables[b % 6 < 4 ? 0 : 1];
    for (std::size_t i = 0; i < 64; ++i) {
      const std::size_t natural = reel::kZigZag[i];
      quantised.blocks[b][natural] = static_cast<int16_t>(set.blocks[b][natural] / table[i]);
    }
  }
  reel::FrameCoder coder;
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto frame = coder.Code(quantised, 50);
    bytes = frame->size();
    benchmark::DoNotOptimize(frame);
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["frame bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_CodeCoefficients)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameCoder)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameCoderQuantised)->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);

}  // namespace
