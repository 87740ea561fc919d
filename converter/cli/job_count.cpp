#include "converter/cli/job_count.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace reel {
namespace {

constexpr uint64_t kKibibyte = 1024;
constexpr uint64_t kMostJobs = 1024;

unsigned ProcessorsForThisProcess() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

int32_t DefaultJobCount(unsigned processors, std::optional<uint64_t> availableBytes) {
  uint64_t jobs = std::clamp<uint64_t>(processors, 1, kMostJobs);
  if (availableBytes) jobs = std::min(jobs, std::max<uint64_t>(1, *availableBytes / kJobMemoryBudget));
  return static_cast<int32_t>(jobs);
}

std::optional<uint64_t> ParseMemAvailable(std::string_view meminfo) {
  constexpr std::string_view kKey = "MemAvailable:";
  std::size_t at = meminfo.find(kKey);
  while (at != std::string_view::npos && at != 0 && meminfo[at - 1] != '\n') at = meminfo.find(kKey, at + 1);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = meminfo.substr(at + kKey.size());
  rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
  uint64_t kibibytes = 0;
  const auto [end, failure] = std::from_chars(rest.data(), rest.data() + rest.size(), kibibytes);
  if (failure != std::errc() || end == rest.data()) return std::nullopt;
  if (kibibytes > UINT64_MAX / kKibibyte) return std::nullopt;
  return kibibytes * kKibibyte;
}

int32_t MachineJobCount() {
  std::ifstream file("/proc/meminfo");
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return DefaultJobCount(ProcessorsForThisProcess(), ParseMemAvailable(text));
}

}  // namespace reel
