// Per-frame costs of playback at 320 x 240: loading a coded frame through the reader, decoding
// it, drawing it on the display, and the three together.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "player/video/display.h"
#include "player/video/movie.h"
#include "player/video/qrx_reader.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

constexpr uint32_t kFrames = 60;

class NullPresenter : public WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return 320; }
  uint32_t ClientHeight() const override { return 240; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const WindowRect&) override {}
};

const std::vector<std::vector<uint8_t>>& Frames() {
  static const auto frames = [] {
    std::vector<std::vector<uint8_t>> coded;
    for (uint32_t k = 0; k < kFrames; ++k) coded.push_back(*CodeCoefficients(MakeSampleCoefficients(320, 240, 50, k), 50));
    return coded;
  }();
  return frames;
}

const std::string& MoviePath() {
  static const std::string path = [] {
    std::filesystem::create_directories(REEL_BENCH_TMP_DIR);
    std::string file = std::string(REEL_BENCH_TMP_DIR) + "/player-bench-" + std::to_string(::getpid()) + ".qrx";
    QrxOutput movie = CreateQrxFile(file);
    static_cast<void>(BeginQrx(movie, kFrames, 15, PictureSizeChoice::k320x240));
    for (const auto& frame : Frames()) static_cast<void>(AppendQrxFrame(movie, frame));
    static_cast<void>(FinishQrx(movie));
    return file;
  }();
  return path;
}

// The benchmark's movie, opened; it was just written, so it opens.
std::unique_ptr<QrxReader> OpenMovieFile() { return std::move(*QrxReader::Open(MoviePath())); }

void BM_ReadFrame(benchmark::State& state) {
  std::unique_ptr<QrxReader> reader = OpenMovieFile();
  uint32_t k = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    const auto frame = reader->GetFrame(k);
    benchmark::DoNotOptimize(frame.data());
    bytes += frame.size();
    if (++k == kFrames) {
      state.PauseTiming();
      reader = OpenMovieFile();
      k = 0;
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadFrame);

void BM_DecodeFrame(benchmark::State& state) {
  PictureHolder picture;
  uint32_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(picture.Decode(Frames()[k]).ok());
    k = (k + 1) % kFrames;
  }
}
BENCHMARK(BM_DecodeFrame);

template <void (*Draw)(Display&, const PictureView&)>
void BM_Draw(benchmark::State& state) {
  NullPresenter presenter;
  Display display;
  display.Open(&presenter);
  PictureHolder picture;
  if (!picture.Decode(Frames()[0])) state.SkipWithError("the first frame does not decode");
  const PictureView view = picture.View(320, 240);
  for (auto _ : state) {
    Draw(display, view);
    benchmark::DoNotOptimize(display.Bits().data());
  }
}
BENCHMARK(BM_Draw<DrawPicture>)->Name("BM_DrawPicture");
BENCHMARK(BM_Draw<DrawPicturePlain>)->Name("BM_DrawPicturePlain");

void BM_ReadDecodeDraw(benchmark::State& state) {
  NullPresenter presenter;
  Display display;
  display.Open(&presenter);
  PictureHolder picture;
  std::unique_ptr<QrxReader> reader = OpenMovieFile();
  uint32_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(picture.Decode(reader->GetFrame(k)).ok());
    DrawPicture(display, picture.View(320, 240));
    if (++k == kFrames) {
      state.PauseTiming();
      reader = OpenMovieFile();
      k = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_ReadDecodeDraw);

}  // namespace
}  // namespace reel
