#include "converter/cli/job_runner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <utility>

#include "common/format_text.h"
#include "converter/cli/json_report.h"
#include "converter/cli/progress_display.h"
#include "platform/process/stop_signals.h"
#include "converter/engine/thread_master.h"

namespace reel {
namespace {

constexpr long kTimerMilliseconds = 100;
// Once a stop was asked for, the job's end is looked for this often, so the program ends with it.
constexpr long kStoppingMilliseconds = 5;
// Within a progress period, stop signals are looked for this often; the job's end is met at once.
constexpr uint32_t kSignalLookMilliseconds = 10;

// Waits up to `milliseconds` for a stop signal or the end of the job's thread, whichever comes
// first: the signal's number, or 0. A short job's program ends when the job does, not at the next
// progress tick.
int WaitForStopSignalOrEnd(CWavFileMake& job, long milliseconds) {
  for (long waited = 0; waited < milliseconds; waited += kSignalLookMilliseconds) {
    if (const int signal = WaitForStopSignal(0); signal != 0) return signal;
    const auto slice = static_cast<uint32_t>(std::min<long>(kSignalLookMilliseconds, milliseconds - waited));
    if (CThreadCtrl(&job).Wait(slice) == 1) return 0;
  }
  return WaitForStopSignal(0);
}

std::string Thousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

void PrintSummary(const CWavFileMake& job, bool json) {
  const JobReport& report = job.Report();
  const std::string& source = job.Settings().sourcePath;
  if (json) {
    // The error goes to the error output as well, for the person reading the log.
    if (report.status == JobStatus::kFailed) std::cerr << "reelforge-cli: " << report.error << "\n";
    std::cout << ResultJson(source, report);
    std::cout.flush();
    return;
  }
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

JobEnd RunJobHere(JobSettings settings, const JobProgressTarget& progress, int& stopSignal) {
  CWavFileMake job(std::move(settings));
  try {
    CThreadCtrl(&job).Start();
  } catch (const CCtrlFailed&) {
    std::cerr << "reelforge-cli: " << job.Settings().sourcePath << ": cannot start the conversion thread\n";
    return JobEnd::kFailed;
  }
  ProgressDisplay display(progress.columns);
  int32_t shownDone = -1;
  int32_t shownTotal = -1;
  ProgressLines lines(progress.descriptor);
  bool stopRequested = false;
  const auto start = std::chrono::steady_clock::now();
  while (job.finished.load(std::memory_order_acquire) == 0) {
    const int signal = WaitForStopSignalOrEnd(job, stopRequested ? kStoppingMilliseconds : kTimerMilliseconds);
    if (signal != 0 && !stopRequested) {
      stopRequested = true;
      stopSignal = signal;
      CThreadCtrl(&job).Stop();
    }
    const int32_t done = job.framesDone.load();
    const int32_t total = job.framesTotal.load();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (progress.descriptor >= 0) {
      lines.Update(done, total);
    } else if (progress.json && (done != shownDone || total != shownTotal)) {
      std::cout << ProgressJson(job.Settings().sourcePath, done, total, elapsed.count()) << std::flush;
      shownDone = done;
      shownTotal = total;
    } else if (!progress.json) {
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
  PrintSummary(job, progress.json);
  switch (job.Report().status) {
    case JobStatus::kSucceeded: return JobEnd::kSucceeded;
    case JobStatus::kStopped: return JobEnd::kStopped;
    case JobStatus::kFailed: break;
  }
  return JobEnd::kFailed;
}

}  // namespace reel
