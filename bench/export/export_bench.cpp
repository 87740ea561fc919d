// Export speed, as ratios measured in one run on the same frames (natural-picture coefficients
// coded by the real frame coder):
//
// BM_FrameExportBesideDecode: per frame, what `qrxtool export` does (the frame's coefficients
// decoded from its bit streams and written as a baseline JPEG with optimised Huffman tables)
// beside what `qrxtool frame` does (the whole decode to 5-6-5 pixels and their widening to RGB).
// Counters: export_fps, decode_fps, and export_vs_decode (export time over decode time).
//
// BM_MovieExportBesideFfmpeg: a whole 30-frame movie exported to Matroska, beside the ffmpeg
// tool doing the nearest job it can: encoding the movie's decoded pictures as motion JPEG into
// Matroska (its own quantiser, -q:v 2; the tool cannot reach the frames' coefficients, so it
// decodes nothing but re-encodes every picture, losing quality where the export loses none).
// Counters: export_fps, ffmpeg_fps, vs_ffmpeg (wall time) and cpu_vs_ffmpeg (processor time).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "player/video/frame_decoder.h"
#include "tools/qrxtool/frame_export.h"
#include "tools/qrxtool/movie_export.h"
#include "tools/qrxtool/movie_file.h"
#include "tools/qrxtool/picture_output.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

constexpr uint32_t kDistinctFrames = 8;  // consecutive frames, so the ball moves as in a clip
constexpr uint32_t kMovieFrames = 30;
constexpr uint32_t kFrameRate = 15;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::filesystem::path Scratch() {
  const std::filesystem::path folder = std::filesystem::path(REEL_BENCH_TMP_DIR) / "export";
  std::filesystem::create_directories(folder);
  return folder;
}

// A movie of kMovieFrames frames cycling through kDistinctFrames coded pictures, read back.
std::optional<MovieFile> SampleMovie(uint32_t width, uint32_t height, int32_t quality, const std::string& path) {
  std::vector<std::vector<uint8_t>> coded;
  for (uint32_t k = 0; k < kDistinctFrames; ++k) {
    auto frame = CodeCoefficients(MakeSampleCoefficients(width, height, quality, k), quality);
    if (!frame) return std::nullopt;
    coded.push_back(std::move(*frame));
  }
  QrxOutput out = CreateQrxFile(path);
  static_cast<void>(BeginQrx(out, kMovieFrames, kFrameRate, PictureSizeChoice::k320x240));
  SetQrxPictureSize(out, width, height);
  for (uint32_t k = 0; k < kMovieFrames; ++k) static_cast<void>(AppendQrxFrame(out, coded[k % kDistinctFrames]));
  if (!FinishQrx(out)) return std::nullopt;
  Result<std::vector<uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  Result<MovieFile> movie = ParseMovie(std::move(*bytes));
  if (!movie) return std::nullopt;
  return std::move(*movie);
}

void BM_FrameExportBesideDecode(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = width * 3 / 4;
  const auto quality = static_cast<int32_t>(state.range(1));
  const auto movie = SampleMovie(width, height, quality, (Scratch() / "frames.qrx").string());
  if (!movie) {
    state.SkipWithError("the sample movie could not be made");
    return;
  }
  FrameDecoder decoder;
  FrameJpegWriter writer;
  double decodeSeconds = 0;
  double exportSeconds = 0;
  std::size_t k = 0;
  for (auto _ : state) {
    const auto frame = *movie->FrameBytes(k);
    auto start = Clock::now();
    benchmark::DoNotOptimize(decoder.DecodeFrame(frame).ok());
    benchmark::DoNotOptimize(RgbOfPicture(decoder));
    decodeSeconds += Seconds(Clock::now() - start);
    start = Clock::now();
    benchmark::DoNotOptimize(writer.Write(frame));
    exportSeconds += Seconds(Clock::now() - start);
    k = (k + 1) % kDistinctFrames;
  }
  const auto frames = static_cast<double>(state.iterations());
  state.counters["export_fps"] = frames / exportSeconds;
  state.counters["decode_fps"] = frames / decodeSeconds;
  state.counters["export_vs_decode"] = exportSeconds / decodeSeconds;
}
BENCHMARK(BM_FrameExportBesideDecode)->Args({320, 50})->Args({640, 50})->Args({640, 100})->Unit(benchmark::kMicrosecond);

void BM_MovieExportBesideFfmpeg(benchmark::State& state) {
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = width * 3 / 4;
  const std::filesystem::path folder = Scratch();
  const std::string moviePath = (folder / "movie.qrx").string();
  const auto movie = SampleMovie(width, height, 50, moviePath);
  if (!movie) {
    state.SkipWithError("the sample movie could not be made");
    return;
  }
  // The movie's pictures as the ffmpeg tool's input.
  const std::filesystem::path pictures = folder / "pictures.rgb";
  {
    std::ofstream out(pictures, std::ios::binary);
    FrameDecoder decoder;
    for (std::size_t k = 0; k < movie->index.size(); ++k) {
      if (!decoder.DecodeFrame(*movie->FrameBytes(k))) {
        state.SkipWithError("a sample frame does not decode");
        return;
      }
      const std::vector<uint8_t> rgb = RgbOfPicture(decoder);
      out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    }
  }
  const std::string tool = "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(width) + "x" +
                           std::to_string(height) + " -r " + std::to_string(kFrameRate) + " -i '" + pictures.string() +
                           "' -c:v mjpeg -q:v 2 '" + (folder / "tool.mkv").string() + "'";
  double ourWall = 0, ourCpu = 0, theirWall = 0, theirCpu = 0;
  for (auto _ : state) {
    double cpu = ProcessorSeconds(RUSAGE_SELF);
    auto start = Clock::now();
    if (const auto exported = ExportMovie(*movie, moviePath, (folder / "export.mkv").string(), {}); !exported) {
      state.SkipWithError(exported.error().message.c_str());
      return;
    }
    ourWall += Seconds(Clock::now() - start);
    ourCpu += ProcessorSeconds(RUSAGE_SELF) - cpu;
    cpu = ProcessorSeconds(RUSAGE_CHILDREN);
    start = Clock::now();
    if (std::system(tool.c_str()) != 0) {
      state.SkipWithError("the ffmpeg tool failed");
      return;
    }
    theirWall += Seconds(Clock::now() - start);
    theirCpu += ProcessorSeconds(RUSAGE_CHILDREN) - cpu;
  }
  const double frames = static_cast<double>(state.iterations() * kMovieFrames);
  state.counters["export_fps"] = frames / ourWall;
  state.counters["ffmpeg_fps"] = frames / theirWall;
  state.counters["vs_ffmpeg"] = ourWall / theirWall;
  state.counters["cpu_vs_ffmpeg"] = ourCpu / theirCpu;
}
BENCHMARK(BM_MovieExportBesideFfmpeg)->Arg(320)->Arg(640)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace reel
