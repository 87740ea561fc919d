// A 30-second 640 x 480 29.97 fps clip with sound, converted at the default settings (15 fps,
// 320 x 240, quality 50, MP3 at 64 kbit/s, 22050 Hz stereo), and the same clip put through the
// ffmpeg tool doing the nearest equivalent job (FfmpegEquivalent): decode, keep every second
// frame, scale to 320 x 240, Motion-JPEG, MP3 at 64 kbit/s, 22050 Hz stereo.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/job/job_beside_tool.h"

namespace reel {
namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path path = std::filesystem::path(REEL_BENCH_TMP_DIR) / "job";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

std::string Clip() {
  const std::string path = (Folder() / "clip30.avi").string();
  if (!std::filesystem::exists(path)) {
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=30000/1001 "
        "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 30 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 '" +
        path + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("the ffmpeg tool could not make the clip");
  }
  return path;
}

// Each iteration runs the job and the tool once; the time shown is both together.
void BM_ConvertJob(benchmark::State& state) {
  JobSettings settings;
  settings.sourcePath = Clip();
  settings.outputFolder = (Folder() / "out").string();
  std::filesystem::create_directories(settings.outputFolder);
  ConvertBesideFfmpeg(state, settings, static_cast<int>(state.range(0)), true, (Folder() / "ffmpeg").string());
}
BENCHMARK(BM_ConvertJob)->ArgName("coders")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace reel
