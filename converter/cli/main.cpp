// reelforge-cli: converts video files into QRX movies with companion MP3 or Ogg files.
//
// One source, or --jobs 1, runs each job in this process, one after another (job_runner.h);
// several sources with more than one job allowed run each job in a process of its own
// (batch_run.h). The stop signals are blocked on every thread from the start and taken where
// the program waits for its jobs (stop_signals.h).
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/format_text.h"
#include "common/project_version.h"
#include "converter/cli/batch_run.h"
#include "converter/cli/cli_options.h"
#include "converter/cli/job_count.h"
#include "converter/cli/job_runner.h"
#include "converter/cli/json_report.h"
#include "converter/cli/progress_display.h"
#include "converter/cli/source_outputs.h"
#include "platform/process/job_memory.h"
#include "platform/process/stop_signals.h"

namespace reel {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

JobProgressTarget ProgressTarget(const CliOptions& options) {
  JobProgressTarget target;
  target.descriptor = options.progressDescriptor;
  target.columns = options.progress == ProgressStyle::kAuto ? ProgressColumns(STDERR_FILENO) : 0;
  target.json = options.progress == ProgressStyle::kJson;
  return target;
}

// With --no-overwrite, a source whose movie exists is skipped, and says so.
bool SkipConverted(const CliOptions& options, const std::string& source) {
  const std::optional<std::string> movie = ExistingMovie(options, source);
  if (!movie) return false;
  if (options.progress == ProgressStyle::kJson) {
    std::cout << SkippedJson(source, *movie);
  } else {
    std::cout << source << ": skipped, " << *movie << " exists\n";
  }
  std::cout.flush();
  return true;
}

int RunOneAfterAnother(const CliOptions& options) {
  const JobProgressTarget progress = ProgressTarget(options);
  int status = kExitOk;
  int stopSignal = 0;
  std::size_t started = 0;
  for (const std::string& source : options.sources) {
    if (stopSignal != 0) break;
    ++started;
    if (SkipConverted(options, source)) continue;
    if (RunJobHere(SettingsForSource(options, source), progress, stopSignal) != JobEnd::kSucceeded) {
      status = kExitFailed;
    }
  }
  if (stopSignal == 0) return status;
  if (started < options.sources.size()) {
    std::cerr << FormatText("reelforge-cli: stopped; %d sources were not started\n",
                            static_cast<int32_t>(options.sources.size() - started));
  }
  // A signal that came too late to stop anything left every job's files complete.
  if (status == kExitOk && started == options.sources.size()) return kExitOk;
  return ExitStatusForSignal(stopSignal);
}

int Main(int argc, char** argv) {
  TakeOverSignals();
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
  if (options->version) {
    std::cout << "reelforge-cli " << kProjectVersion << "\n";
    return kExitOk;
  }
  if (options->progressDescriptor >= 0 && fcntl(options->progressDescriptor, F_GETFD) < 0) {
    std::cerr << "reelforge-cli: --progress-fd: descriptor " << options->progressDescriptor << " is not open\n";
    return kExitUsage;
  }
  const int32_t jobs = options->jobs > 0 ? options->jobs : MachineJobCount();
  if (jobs > 1 && options->sources.size() > 1) return RunBatch(*options, jobs);
  KeepFreedMemoryForReuse();
  return RunOneAfterAnother(*options);
}

}  // namespace
}  // namespace reel

int main(int argc, char** argv) { return reel::Main(argc, argv); }
