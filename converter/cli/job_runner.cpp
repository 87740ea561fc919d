#include "converter/cli/job_runner.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <utility>

#include "common/format_text.h"
#include "converter/cli/progress_display.h"
#include "platform/process/stop_signals.h"
#include "converter/engine/thread_master.h"

namespace reel {
namespace {

constexpr long kTimerMilliseconds = 100;

std::string Thousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

void PrintSummary(const CWavFileMake& job) {
  const JobReport& report = job.Report();
  const std::string& source = job.Settings().sourcePath;
  if (report.status != JobStatus::kSucceeded) {
    std::cerr << "reelforge-cli: " << report.error << "\n";
  } else {
    std::cout << source << ": done\n";
    if (!report.moviePath.empty()) {
      std::cout << FormatText("  movie:    %s\n", report.moviePath)
                << FormatText("            %d frames at %d fps (source %d fps), %d x %d, ", report.frames,
                              report.movieRate, report.sourceRate, report.width, report.height)
                << Thousands(report.movieBytes) << " bytes\n";
    }
    if (!report.audioPath.empty()) {
      std::cout << FormatText("  sound:    %s, ", report.audioPath) << Thousands(report.audioBytes) << " bytes\n";
    }
  }
  for (const std::string& warning : report.warnings) std::cout << "  warning:  " << warning << "\n";
  std::cout.flush();
  std::cerr.flush();
}

// "DONE TOTAL" lines for a program that runs this one, written when the counts change.
class ProgressLines {
 public:
  explicit ProgressLines(int descriptor) : descriptor_(descriptor) {}
  void Update(int32_t done, int32_t total) {
    if (done == done_ && total == total_) return;
    done_ = done;
    total_ = total;
    const std::string line = FormatText("%d %d\n", done, total);
    // A reader that went away costs only the progress (EPIPE; SIGPIPE is ignored).
    [[maybe_unused]] const ssize_t written = ::write(descriptor_, line.data(), line.size());
  }

 private:
  int descriptor_;
  int32_t done_ = -1;
  int32_t total_ = -1;
};

}  // namespace

JobSettings SettingsForSource(const JobSettings& common, const std::string& source) {
  JobSettings settings = common;
  settings.sourcePath = source;
  settings.sourceKind = IsMjPath(source) ? SourceKind::kMj : SourceKind::kVideoFile;
  return settings;
}

JobEnd RunJobHere(JobSettings settings, const JobProgressTarget& progress, int& stopSignal) {
  CWavFileMake job(std::move(settings));
  try {
    CThreadCtrl(&job).Start();
  } catch (const CCtrlFailed&) {
    std::cerr << "reelforge-cli: " << job.Settings().sourcePath << ": cannot start the conversion thread\n";
    return JobEnd::kFailed;
  }
  ProgressDisplay display(progress.terminal);
  ProgressLines lines(progress.descriptor);
  bool stopRequested = false;
  const auto start = std::chrono::steady_clock::now();
  while (job.finished.load(std::memory_order_acquire) == 0) {
    if (const int signal = WaitForStopSignal(kTimerMilliseconds); signal != 0 && !stopRequested) {
      stopRequested = true;
      stopSignal = signal;
      CThreadCtrl(&job).Stop();
    }
    const int32_t done = job.framesDone.load();
    const int32_t total = job.framesTotal.load();
    if (progress.descriptor >= 0) {
      lines.Update(done, total);
    } else {
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      std::cerr << display.Update(done, total, elapsed.count());
    }
  }
  if (progress.descriptor >= 0) lines.Update(job.framesDone.load(), job.framesTotal.load());
  std::cerr << display.Finish();
  try {
    CThreadCtrl control(&job);
    control.Stop();
    control.Wait(kInfinite);
  } catch (const CCtrlFailed&) {
    std::cerr << "reelforge-cli: the conversion thread could not be collected\n";
  }
  PrintSummary(job);
  switch (job.Report().status) {
    case JobStatus::kSucceeded: return JobEnd::kSucceeded;
    case JobStatus::kStopped: return JobEnd::kStopped;
    case JobStatus::kFailed: break;
  }
  return JobEnd::kFailed;
}

}  // namespace reel
