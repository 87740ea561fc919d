#include "bench/job/job_beside_tool.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>

#include "platform/process/job_memory.h"
#include "converter/engine/thread_master.h"

namespace reel {
namespace {

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Processor time (user + system) of this process's threads, or of its finished children.
double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double WallSeconds(const std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// The frames are picked with select: source frame n is kept when some k has
// floor(k x step / 100) = n, that is when the next multiple of step at or above 100 n is below
// 100 n + 100. setpts and -r give the kept frames the movie's rate, so the tool neither drops nor
// repeats any; -frames:v stops at the movie's frame count.
std::string FfmpegEquivalent(const std::string& source, const JobReport& report, bool sound,
                             const std::string& outputStem) {
  const uint32_t step = report.movieRate == 0 ? 100 : report.sourceRate * 100 / report.movieRate;
  const std::string rate = std::to_string(report.movieRate);
  const std::string select = "select='lt(mod(" + std::to_string(step) + "-mod(n*100\\," + std::to_string(step) +
                             ")\\," + std::to_string(step) + ")\\,100)'";
  std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + source + "' -vf \"" + select +
                        ",setpts=N/" + rate + "/TB,scale=" + std::to_string(report.width) + ":" +
                        std::to_string(report.height) + "\" -r " + rate + " -frames:v " +
                        std::to_string(report.frames) + " -c:v mjpeg -q:v 4 -an '" + outputStem + ".avi'";
  if (sound) command += " -vn -c:a libmp3lame -b:a 64k -ar 22050 -ac 2 '" + outputStem + ".mp3'";
  return command;
}

void ConvertBesideFfmpeg(benchmark::State& state, const JobSettings& settings, int coders, bool sound,
                         const std::string& outputStem) {
  KeepFreedMemoryForReuse();  // as reelforge-cli does
  double ourWall = 0;
  double ourCpu = 0;
  double theirWall = 0;
  double theirCpu = 0;
  for (auto _ : state) {
    double cpu = ProcessorSeconds(RUSAGE_SELF);
    auto start = std::chrono::steady_clock::now();
    CWavFileMake job(settings);
    if (coders >= 0) job.SetFrameCoders(static_cast<unsigned>(coders));
    CThreadCtrl(&job).Start();
    CThreadCtrl(&job).Wait(kInfinite);
    ourWall += WallSeconds(start);
    ourCpu += ProcessorSeconds(RUSAGE_SELF) - cpu;
    if (job.Report().status != JobStatus::kSucceeded) {
      state.SkipWithError(job.Report().error.c_str());
      break;
    }
    state.counters["frames"] = job.Report().frames;
    const std::string command = FfmpegEquivalent(settings.sourcePath, job.Report(), sound, outputStem);
    cpu = ProcessorSeconds(RUSAGE_CHILDREN);
    start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("the ffmpeg tool failed");
      break;
    }
    theirWall += WallSeconds(start);
    theirCpu += ProcessorSeconds(RUSAGE_CHILDREN) - cpu;
  }
  const auto runs = static_cast<double>(state.iterations());
  state.counters["cpu_s"] = ourCpu / runs;
  state.counters["ffmpeg_s"] = theirWall / runs;
  state.counters["ffmpeg_cpu_s"] = theirCpu / runs;
  state.counters["vs_ffmpeg"] = theirWall > 0 ? ourWall / theirWall : 0;
  state.counters["cpu_vs_ffmpeg"] = theirCpu > 0 ? ourCpu / theirCpu : 0;
}

}  // namespace reel
