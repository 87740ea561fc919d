// reelforge-cli: converts video files into QRX movies with companion MP3 or Ogg files, one job
// after another, each on the job's own worker thread.
//
// The main thread plays the part of the dialog's timer: every 100 ms it reads the job's progress
// fields and redraws the progress, until the job reports it has finished. SIGINT and SIGTERM are
// blocked on every thread and taken here with sigtimedwait, so an interrupt becomes a stop request
// to the running job, which then removes its unfinished output.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/format_text.h"
#include "converter/cli/cli_options.h"
#include "converter/cli/progress_display.h"
#include "converter/engine/job_memory.h"
#include "converter/engine/thread_master.h"
#include "converter/engine/conversion_job.h"

namespace reel {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr long kTimerNanoseconds = 100'000'000;

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// Waits up to one timer period for a stop signal; true when one came.
bool StopSignalArrived(const sigset_t& signals) {
  const timespec period{0, kTimerNanoseconds};
  return sigtimedwait(&signals, nullptr, &period) > 0;
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
}

// Runs one job to its end; false when it did not succeed. `stopped` is set when a stop signal
// came during the job.
bool RunJob(JobSettings settings, const sigset_t& signals, bool& stopped) {
  CWavFileMake job(std::move(settings));
  try {
    CThreadCtrl(&job).Start();
  } catch (const CCtrlFailed&) {
    std::cerr << "reelforge-cli: " << job.Settings().sourcePath << ": cannot start the conversion thread\n";
    return false;
  }
  ProgressDisplay display(isatty(STDERR_FILENO) != 0);
  const auto start = std::chrono::steady_clock::now();
  while (job.finished.load(std::memory_order_acquire) == 0) {
    if (StopSignalArrived(signals) && !stopped) {
      stopped = true;
      CThreadCtrl(&job).Stop();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::cerr << display.Update(job.framesDone.load(), job.framesTotal.load(), elapsed.count());
  }
  std::cerr << display.Finish();
  try {
    CThreadCtrl control(&job);
    control.Stop();
    control.Wait(kInfinite);
  } catch (const CCtrlFailed&) {
    std::cerr << "reelforge-cli: the conversion thread could not be collected\n";
  }
  PrintSummary(job);
  return job.Report().status == JobStatus::kSucceeded;
}

int Main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::error_code failure;
  const std::string current = std::filesystem::current_path(failure).string();
  const Result<CliOptions> options = ParseCliOptions(arguments, current);
  if (!options) {
    std::cerr << "reelforge-cli: " << options.error().message << "\nTry 'reelforge-cli --help' for the options.\n";
    return kExitUsage;
  }
  if (options->help) {
    std::cout << CliHelpText();
    return kExitOk;
  }
  KeepFreedMemoryForReuse();
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int status = kExitOk;
  bool stopped = false;
  for (const std::string& source : options->sources) {
    if (stopped) break;
    JobSettings settings = options->settings;
    settings.sourcePath = source;
    settings.sourceKind = IsMjPath(source) ? SourceKind::kMj : SourceKind::kVideoFile;
    if (!RunJob(std::move(settings), signals, stopped)) status = kExitFailed;
  }
  return status;
}

}  // namespace
}  // namespace reel

int main(int argc, char** argv) { return reel::Main(argc, argv); }
