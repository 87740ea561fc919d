// Per-frame costs of playback at 320 x 240: loading a coded frame through the reader, decoding
// it, drawing it on the display, and the three together; and a movie showing its frames with the
// pictures decoded straight into the surface beside decoded and copied. REEL_BENCH_MOVIE may name
// a movie of 320 x 240 or less to play instead of the generated one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>
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

// The movie REEL_BENCH_MOVIE names, else the generated one, as a folder and a file name.
std::pair<std::string, std::string> PlayedMovie() {
  const char* named = std::getenv("REEL_BENCH_MOVIE");
  const std::filesystem::path path = named != nullptr && *named != '\0' ? std::filesystem::path(named) : std::filesystem::path(MoviePath());
  std::string folder = std::filesystem::absolute(path).parent_path().string() + "/";
  return {folder, path.filename().string()};
}

// A companion sound that plays nothing; its position is the benchmark's clock.
class SilentMovieSound : public MovieSound {
 public:
  explicit SilentMovieSound(const uint32_t& now) : now_(now) {}
  void StartMusic(const std::string&, const std::string&, int32_t, bool) override {}
  int32_t MusicPosition() override { return static_cast<int32_t>(now_); }

 private:
  const uint32_t& now_;
};

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

// One frame shown per iteration, by the tick clock, as the player shows a movie without sound: the
// movie starts again after its last frame.
void BM_ShowFrames(benchmark::State& state) {
  NullPresenter presenter;
  Display display;
  display.Open(&presenter);
  uint32_t now = 0;
  SilentMovieSound sound(now);
  MovieSlot slot(display, sound, [&now] { return now; });
  slot.SetPictureDrawing(state.range(0) == 0 ? PictureDrawing::kDirect : PictureDrawing::kCopied);
  const auto [folder, name] = PlayedMovie();
  if (!slot.OpenMovie(folder, name, 100, false)) state.SkipWithError("the movie does not open");
  const uint32_t rate = std::max(slot.Current() ? slot.Current()->Reader().FrameRate() : 15u, 1u);
  uint32_t frame = 0;
  for (auto _ : state) {
    now = static_cast<uint32_t>(TimeOfFrame(++frame, rate));
    if (!slot.TickMovie()) {
      state.PauseTiming();
      static_cast<void>(slot.OpenMovie(folder, name, 100, false));
      frame = 0;
      now = 0;
      state.ResumeTiming();
    }
  }
  state.SetLabel(state.range(0) == 0 ? "into the surface" : "decoded and copied");
}
BENCHMARK(BM_ShowFrames)->Arg(0)->Arg(1);

}  // namespace
}  // namespace reel
