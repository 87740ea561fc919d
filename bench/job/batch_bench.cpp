// A batch of the shared media's AVI files (all of them carry video) converted by reelforge-cli
// with --jobs 2 against the same sources converted one after another (--jobs 1, one process), at
// the default settings. Each iteration runs the program as a user would; besides the wall time,
// the CPU time of the program and its job processes is reported ("cpu_s", user + system), since
// the machine may be shared while it runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace reel {
namespace {

std::vector<std::string> SharedAvis() {
  std::vector<std::string> sources;
  std::error_code failure;
  for (const auto& entry : std::filesystem::directory_iterator(REEL_SHARED_MEDIA_DIR, failure)) {
    if (entry.path().extension() == ".avi") sources.push_back(entry.path().string());
  }
  std::sort(sources.begin(), sources.end());
  return sources;
}

double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs reelforge-cli quietly; its exit status, or -1.
int RunCli(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{REEL_CLI};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, REEL_CLI, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void BM_SharedAviBatch(benchmark::State& state) {
  const std::vector<std::string> sources = SharedAvis();
  if (sources.empty()) {
    state.SkipWithError("the shared media folder is absent");
    return;
  }
  const std::string output = std::string(REEL_BENCH_TMP_DIR) + "/batch";
  std::filesystem::create_directories(output);
  std::vector<std::string> arguments{"--jobs", std::to_string(state.range(0)), "-o", output};
  arguments.insert(arguments.end(), sources.begin(), sources.end());
  double cpu = 0.0;
  for (auto _ : state) {
    const double before = ChildrenCpuSeconds();
    if (RunCli(arguments) != 0) state.SkipWithError("reelforge-cli failed on the batch");
    cpu += ChildrenCpuSeconds() - before;
  }
  state.counters["sources"] = static_cast<double>(sources.size());
  state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  std::filesystem::remove_all(output);
}
BENCHMARK(BM_SharedAviBatch)->ArgName("jobs")->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace reel
