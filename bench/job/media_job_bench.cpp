// Media-framework sources: 30-second 640 x 480 29.97 fps clips with sound, MPEG-1 (program
// stream, MP2 sound) and H.264 MP4 (AAC sound), converted in frame sync at the default settings,
// beside the ffmpeg tool doing the nearest job on the same clip: decode, keep every second frame,
// scale to 320 x 240, Motion-JPEG, MP3 at 64 kbit/s. The counter "vs_ffmpeg" is the job's time over
// the tool's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "converter/engine/conversion_job.h"
#include "converter/engine/job_memory.h"
#include "converter/engine/thread_master.h"

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

double Seconds(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ConvertBesideFfmpeg(benchmark::State& state, const std::string& clip) {
  KeepFreedMemoryForReuse();  // as reelforge-cli does
  JobSettings settings;
  settings.sourcePath = clip;
  settings.outputFolder = (Folder() / "out").string();
  std::filesystem::create_directories(settings.outputFolder);
  const std::string out = (Folder() / "ffmpeg").string();
  const std::string ffmpeg = "ffmpeg -nostdin -loglevel error -y -i '" + clip +
                             "' -vf \"select='not(mod(n\\,2))',setpts=N/15/TB,scale=320:240\" -r 15 "
                             "-c:v mjpeg -q:v 4 -an '" + out + ".avi' -vn -c:a libmp3lame -b:a 64k -ar 22050 -ac 2 '" +
                             out + ".mp3'";
  double ours = 0;
  double theirs = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    CWavFileMake job(settings);
    CThreadCtrl(&job).Start();
    CThreadCtrl(&job).Wait(kInfinite);
    ours += Seconds(start);
    if (job.Report().status != JobStatus::kSucceeded) state.SkipWithError(job.Report().error.c_str());
    state.counters["frames"] = job.Report().frames;
    start = std::chrono::steady_clock::now();
    if (std::system(ffmpeg.c_str()) != 0) state.SkipWithError("the ffmpeg tool failed");
    theirs += Seconds(start);
  }
  state.counters["ffmpeg_s"] = theirs / static_cast<double>(state.iterations());
  state.counters["vs_ffmpeg"] = theirs > 0 ? ours / theirs : 0;
}

void BM_MediaJobMpeg1(benchmark::State& state) {
  ConvertBesideFfmpeg(state, Clip("clip30.mpg", "-c:v mpeg1video -q:v 3 -c:a mp2 -b:a 224k"));
}
void BM_MediaJobH264(benchmark::State& state) {
  ConvertBesideFfmpeg(state, Clip("clip30.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"));
}
// Each iteration runs the job and the tool once; the time shown is both together.
BENCHMARK(BM_MediaJobMpeg1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_MediaJobH264)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace reel
