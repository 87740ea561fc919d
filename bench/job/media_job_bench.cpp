// Media-framework sources: 30-second 640 x 480 29.97 fps clips with sound, MPEG-1 (program
// stream, MP2 sound) and H.264 MP4 (AAC sound), converted in frame sync at the default settings,
// beside the ffmpeg tool doing the nearest job on the same clip: decode, keep every second frame,
// scale to 320 x 240, Motion-JPEG, MP3 at 64 kbit/s, 22050 Hz stereo (FfmpegEquivalent). The
// counter "vs_ffmpeg" is the job's wall time over the tool's, "cpu_vs_ffmpeg" its processor time.
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
    std::filesystem::path path = std::filesystem::path(REEL_BENCH_TMP_DIR) / "media_job";
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

std::string Clip(const std::string& name, const std::string& codecs) {
  const std::string path = (Folder() / name).string();
  if (!std::filesystem::exists(path)) {
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=30000/1001 "
        "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 30 " + codecs + " '" + path + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("the ffmpeg tool could not make the clip");
  }
  return path;
}

void ConvertMedia(benchmark::State& state, const std::string& clip) {
  JobSettings settings;
  settings.sourcePath = clip;
  settings.outputFolder = (Folder() / "out").string();
  std::filesystem::create_directories(settings.outputFolder);
  ConvertBesideFfmpeg(state, settings, -1, true, (Folder() / "ffmpeg").string());
}

void BM_MediaJobMpeg1(benchmark::State& state) {
  ConvertMedia(state, Clip("clip30.mpg", "-c:v mpeg1video -q:v 3 -c:a mp2 -b:a 224k"));
}
void BM_MediaJobH264(benchmark::State& state) {
  ConvertMedia(state, Clip("clip30.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"));
}
// Each iteration runs the job and the tool once; the time shown is both together.
BENCHMARK(BM_MediaJobMpeg1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_MediaJobH264)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace reel
