// A 30-second 640 x 480 29.97 fps clip with sound, converted at the default settings (15 fps,
// 320 x 240, quality 50, MP3 at 64 kbit/s, 22050 Hz stereo), and the same clip put through the
// ffmpeg tool doing the nearest equivalent job: decode, keep every second frame, scale to
// 320 x 240, Motion-JPEG, MP3 at 64 kbit/s. Both are timed by the wall clock.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "converter/engine/job_memory.h"
#include "converter/engine/thread_master.h"
#include "converter/engine/conversion_job.h"

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

void BM_ConvertJob(benchmark::State& state) {
  const std::string clip = Clip();
  KeepFreedMemoryForReuse();  // as reelforge-cli does
  JobSettings settings;
  settings.sourcePath = clip;
  settings.outputFolder = (Folder() / "out").string();
  std::filesystem::create_directories(settings.outputFolder);
  for (auto _ : state) {
    CWavFileMake job(settings);
    job.SetFrameCoders(static_cast<unsigned>(state.range(0)));
    CThreadCtrl(&job).Start();
    CThreadCtrl(&job).Wait(kInfinite);
    if (job.Report().status != JobStatus::kSucceeded) state.SkipWithError(job.Report().error.c_str());
    state.counters["frames"] = job.Report().frames;
  }
}
BENCHMARK(BM_ConvertJob)->ArgName("coders")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

void BM_FfmpegEquivalent(benchmark::State& state) {
  const std::string clip = Clip();
  const std::string out = (Folder() / "ffmpeg").string();
  const std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + clip +
                              "' -vf \"select='not(mod(n\\,2))',setpts=N/15/TB,scale=320:240\" -r 15 "
                              "-c:v mjpeg -q:v 4 -an '" + out + ".avi' -vn -c:a libmp3lame -b:a 64k -ar 22050 -ac 2 '" +
                              out + ".mp3'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("the ffmpeg tool failed");
  }
}
BENCHMARK(BM_FfmpegEquivalent)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace reel
