#include "job_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "converter/engine/thread_master.h"
#include "tests/support/external_tools.h"

namespace reel::test {

std::optional<double> AudioDuration(const std::string& path) {
  const CommandResult probe = RunCommand(
      "ffprobe -v error -select_streams a:0 -show_entries stream=duration:format=duration "
      "-of default=noprint_wrappers=1:nokey=1 " + ShellQuoted(std::string_view(path)));
  std::istringstream lines(probe.output);
  std::string line;
  while (std::getline(lines, line)) {
    char* end = nullptr;
    const double value = std::strtod(line.c_str(), &end);
    if (end != line.c_str() && value > 0.0) return value;
  }
  return std::nullopt;
}

JobSettings SettingsFor(const std::string& source, const std::string& outputFolder) {
  JobSettings settings;
  settings.sourcePath = source;
  settings.sourceKind = IsMjPath(source) ? SourceKind::kMj : SourceKind::kVideoFile;
  settings.outputFolder = outputFolder;
  return settings;
}

JobReport RunJob(const JobSettings& settings, std::optional<int32_t> stopAfterFrames, uint32_t* exitCode,
                 std::optional<unsigned> frameCoders) {
  CWavFileMake job(settings);
  if (frameCoders) job.SetFrameCoders(*frameCoders);
  CThreadCtrl(&job).Start();
  while (job.finished.load() == 0) {
    if (stopAfterFrames && job.framesDone.load() >= *stopAfterFrames) CThreadCtrl(&job).Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  CThreadCtrl control(&job);
  control.Stop();
  EXPECT_EQ(control.Wait(kInfinite), 1);
  if (exitCode != nullptr) *exitCode = job.ExitCode();
  return job.Report();
}

}  // namespace reel::test
