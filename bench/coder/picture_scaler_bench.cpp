// The picture scaler, fast and reference, at the sizes the jobs meet most: a 640 x 480 source
// to a 320 x 240 movie (halving), a 480 x 272 source to 320 x 181 (fractional steps both ways),
// the shared 720 x 480 AVI to its 320 x 213 (three-tap windows) and a 480 x 360 AVI to 320 x 240
// (steps of 1.5 both ways).
// The fast scaler runs with the widest lanes the processor has and with SSE2 alone.
// Sources are the generated natural scene, stored bottom-up as a decoded frame is.
#include <benchmark/benchmark.h>

#include "converter/coder/picture_scaler.h"
#include "converter/coder/picture_scaler_reference.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

BmpImage Scene(uint32_t width, uint32_t height) {
  const RgbPicture scene = MakeSamplePicture(width, height, 3);
  BmpImage picture = *BmpImage::Create(width, height, 24);
  for (uint32_t y = 0; y < height; ++y) {
    auto row = picture.Row(height - 1 - y);
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t at = (std::size_t{y} * width + x) * 3;
      row[x * 3] = scene.rgb[at + 2];
      row[x * 3 + 1] = scene.rgb[at + 1];
      row[x * 3 + 2] = scene.rgb[at];
    }
  }
  return picture;
}

template <auto Scale>
void BM_ScalePicture(benchmark::State& state) {
  const BmpImage source = Scene(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  const auto width = static_cast<uint32_t>(state.range(2));
  const auto height = static_cast<uint32_t>(state.range(3));
  for (auto _ : state) benchmark::DoNotOptimize(Scale(source, width, height));
  state.SetItemsProcessed(state.iterations());
}

void JobSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Args({640, 480, 320, 240})->Args({480, 272, 320, 181})->Args({720, 480, 320, 213})->Args({480, 360, 320, 240})->Unit(benchmark::kMicrosecond);
}

std::optional<BmpImage> Widest(const BmpImage& picture, uint32_t width, uint32_t height) {
  return ScalePicture(picture, width, height, ScalerLanes::Widest);
}
std::optional<BmpImage> Sse2(const BmpImage& picture, uint32_t width, uint32_t height) {
  return ScalePicture(picture, width, height, ScalerLanes::Sse2);
}

BENCHMARK(BM_ScalePicture<Widest>)->Name("ScalePicture/fast")->Apply(JobSizes);
BENCHMARK(BM_ScalePicture<Sse2>)->Name("ScalePicture/fast_sse2")->Apply(JobSizes);
BENCHMARK(BM_ScalePicture<ScalePictureReference>)->Name("ScalePicture/reference")->Apply(JobSizes);

}  // namespace
}  // namespace reel
