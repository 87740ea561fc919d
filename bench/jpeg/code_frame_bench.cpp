// Frames per second of the frame path at the movie sizes, whole and stage by stage: scaling a
// source picture to the movie size, JPEG encoding, parsing the JPEG back (table-driven and linear
// Huffman search), coding the coefficients, and the job's reusable FrameCoding. Pictures are
// natural-looking: gradients, a disc, waves and a little noise. Quality 50.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "converter/coder/frame_coder.h"
#include "converter/coder/picture_scaler.h"
#include "converter/jpeg/byte_source.h"
#include "converter/engine/code_frame.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"

namespace reel {
namespace {

constexpr int32_t kQuality = 50;

BmpImage NaturalPicture(uint32_t width, uint32_t height) {
  BmpImage picture = *BmpImage::Create(width, height, 24);
  uint32_t state = 99;
  for (uint32_t row = 0; row < height; ++row) {
    auto bytes = picture.Row(row);
    for (uint32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const double noise = static_cast<double>(state >> 29) - 4.0;
      const double distance = std::hypot(x - width * 0.6, row - height * 0.4);
      const double wave = 40.0 * std::sin(x * 0.07 + row * 0.03);
      const double values[3] = {128 + 90 * std::cos(distance * 0.05) - wave * 0.5 + noise,
                                distance < height * 0.3 ? 200 - distance : 80 + 120.0 * row / height + noise,
                                60 + 150.0 * x / width + wave + noise};
      for (int c = 0; c < 3; ++c) bytes[x * 3 + c] = static_cast<uint8_t>(std::clamp(values[c], 0.0, 255.0));
    }
  }
  return picture;
}

// Sources are scaled down from 2x the movie size.
void BM_Scale(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const BmpImage source = NaturalPicture(width * 2, height * 2);
  for (auto _ : state) benchmark::DoNotOptimize(ScalePicture(source, width, height));
  state.SetItemsProcessed(state.iterations());
}

void BM_Encode(benchmark::State& state) {
  const BmpImage picture = NaturalPicture(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(EncodeFrameJpeg(picture, kQuality));
  state.SetItemsProcessed(state.iterations());
}

void Parse(benchmark::State& state, CJpegCoefReader::HuffmanSearch search) {
  const BmpImage picture = NaturalPicture(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  const std::vector<uint8_t> jpeg = *EncodeFrameJpeg(picture, kQuality);
  for (auto _ : state) {
    CByteSource source(jpeg);
    CJpegCoefReader reader(search);
    benchmark::DoNotOptimize(reader.Decode(source).ok());
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_Parse(benchmark::State& state) { Parse(state, CJpegCoefReader::HuffmanSearch::Fast); }
void BM_ParseLinearSearch(benchmark::State& state) { Parse(state, CJpegCoefReader::HuffmanSearch::Linear); }

void BM_Code(benchmark::State& state) {
  const BmpImage picture = NaturalPicture(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  const std::vector<uint8_t> jpeg = *EncodeFrameJpeg(picture, kQuality);
  CByteSource source(jpeg);
  CJpegCoefReader reader;
  if (!reader.Decode(source)) state.SkipWithError("the reader refused the JPEG");
  const CoefficientSet coefficients = reader.TakeCoefficients();
  for (auto _ : state) benchmark::DoNotOptimize(CodeCoefficients(coefficients, kQuality));
  state.SetItemsProcessed(state.iterations());
}

void BM_CodeFrame(benchmark::State& state) {
  const BmpImage picture = NaturalPicture(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(CodeFrame(picture, kQuality));
  state.SetItemsProcessed(state.iterations());
}

// The job's way: one FrameCoding for frame after frame.
void BM_FrameCoding(benchmark::State& state) {
  const BmpImage picture = NaturalPicture(static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)));
  FrameCoding coding;
  for (auto _ : state) benchmark::DoNotOptimize(coding.Code(picture, kQuality));
  state.SetItemsProcessed(state.iterations());
}

void MovieSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Scale)->Apply(MovieSizes);
BENCHMARK(BM_Encode)->Apply(MovieSizes);
BENCHMARK(BM_Parse)->Apply(MovieSizes);
BENCHMARK(BM_ParseLinearSearch)->Apply(MovieSizes);
BENCHMARK(BM_Code)->Apply(MovieSizes);
BENCHMARK(BM_CodeFrame)->Apply(MovieSizes);
BENCHMARK(BM_FrameCoding)->Apply(MovieSizes);

}  // namespace
}  // namespace reel
