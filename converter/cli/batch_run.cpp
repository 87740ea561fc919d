#include "converter/cli/batch_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <deque>
#include <iostream>
#include <string>
#include <vector>

#include "common/format_text.h"
#include "converter/cli/json_report.h"
#include "converter/cli/progress_display.h"
#include "converter/cli/source_outputs.h"
#include "converter/engine/output_name.h"
#include "platform/process/stop_signals.h"
#include "converter/engine/staged_output.h"

namespace reel {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCannotStart = 127;
constexpr int kTimerMilliseconds = 100;
// The descriptor a job process writes its progress lines to.
constexpr int kProgressDescriptor = 3;
// Where a job process parks its pipe ends before moving them to 1, 2 and 3.
constexpr int kFirstSpareDescriptor = 10;

// A pipe's two ends, closed on exec and when the object goes.
class Pipe {
 public:
  Pipe() {
    if (pipe2(ends_.data(), O_CLOEXEC) != 0) ends_ = {-1, -1};
  }
  ~Pipe() {
    for (int end : ends_) {
      if (end >= 0) close(end);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool Ok() const { return ends_[0] >= 0; }
  int ReadEnd() const { return ends_[0]; }
  int WriteEnd() const { return ends_[1]; }
  int TakeReadEnd() { return std::exchange(ends_[0], -1); }

 private:
  std::array<int, 2> ends_{-1, -1};
};

// Text arriving from one of a job process's pipes.
struct Stream {
  int descriptor = -1;
  std::string text;

  bool Open() const { return descriptor >= 0; }
  // Reads what is there; closes the descriptor at the end of the stream.
  void Drain() {
    std::array<char, 4096> buffer{};
    for (;;) {
      const ssize_t got = read(descriptor, buffer.data(), buffer.size());
      if (got > 0) {
        text.append(buffer.data(), static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno == EAGAIN) return;
      close(descriptor);
      descriptor = -1;
      return;
    }
  }
};

struct JobProcess {
  int32_t id = 0;
  std::string source;
  std::vector<std::string> outputs;  // the real names it may write
  pid_t pid = -1;
  Stream progress;
  Stream out;
  Stream err;
  int32_t done = 0;
  int32_t total = 0;
  std::chrono::steady_clock::time_point started;

  bool Ended() const { return !progress.Open() && !out.Open() && !err.Open(); }
};

// Everything the job process's start needs, made before the fork: after it only calls that are
// safe in a child of a forked process are made.
struct Launch {
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  std::string failure;
};

Launch MakeLaunch(const CliOptions& options, const std::string& source) {
  Launch launch;
  launch.arguments.push_back("reelforge-cli");
  launch.arguments.insert(launch.arguments.end(), options.jobArguments.begin(), options.jobArguments.end());
  launch.arguments.insert(launch.arguments.end(),
                          {"--progress-fd", std::to_string(kProgressDescriptor), "--", source});
  for (std::string& argument : launch.arguments) launch.argv.push_back(argument.data());
  launch.argv.push_back(nullptr);
  launch.failure = "reelforge-cli: " + source + ": cannot start the job's process\n";
  return launch;
}

// In the new process: the pipes become its output, error output and progress descriptor, and it
// runs this program again. Never returns.
[[noreturn]] void BecomeJob(const Launch& launch, pid_t parent, int out, int err, int progress) {
  // The job stops, cleaning up, if this process dies; a parent that died already is noticed here.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(kExitCannotStart);
  // F_DUPFD copies are not closed on exec; dup2 onto 1, 2 and 3 keeps that.
  const int spareOut = fcntl(out, F_DUPFD, kFirstSpareDescriptor);
  const int spareErr = fcntl(err, F_DUPFD, kFirstSpareDescriptor);
  const int spareProgress = fcntl(progress, F_DUPFD, kFirstSpareDescriptor);
  if (spareOut < 0 || spareErr < 0 || spareProgress < 0 || dup2(spareOut, STDOUT_FILENO) < 0 ||
      dup2(spareErr, STDERR_FILENO) < 0 || dup2(spareProgress, kProgressDescriptor) < 0) {
    _exit(kExitCannotStart);
  }
  close(spareOut);
  close(spareErr);
  close(spareProgress);
  execv("/proc/self/exe", launch.argv.data());
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, launch.failure.data(), launch.failure.size());
  _exit(kExitCannotStart);
}

void SetNonBlocking(int descriptor) { fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK); }

// Starts the job's process; false (with a message) when it cannot be.
bool StartJob(const CliOptions& options, JobProcess& job) {
  Launch launch = MakeLaunch(options, job.source);
  Pipe out;
  Pipe err;
  Pipe progress;
  if (!out.Ok() || !err.Ok() || !progress.Ok()) {
    std::cerr << "reelforge-cli: " << job.source << ": cannot start the job's process: " << std::strerror(errno) << "\n";
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    std::cerr << "reelforge-cli: " << job.source << ": cannot start the job's process: " << std::strerror(errno) << "\n";
    return false;
  }
  if (pid == 0) BecomeJob(launch, parent, out.WriteEnd(), err.WriteEnd(), progress.WriteEnd());
  job.pid = pid;
  job.out.descriptor = out.TakeReadEnd();
  job.err.descriptor = err.TakeReadEnd();
  job.progress.descriptor = progress.TakeReadEnd();
  for (const int descriptor : {job.out.descriptor, job.err.descriptor, job.progress.descriptor}) SetNonBlocking(descriptor);
  return true;
}

// The last complete "DONE TOTAL" line received; the partial rest is kept for the next read.
bool TakeProgress(JobProcess& job) {
  std::string& text = job.progress.text;
  const auto lineEnd = text.rfind('\n');
  if (lineEnd == std::string::npos) return false;
  std::size_t lineStart = 0;
  if (lineEnd > 0) {
    const auto previous = text.rfind('\n', lineEnd - 1);
    if (previous != std::string::npos) lineStart = previous + 1;
  }
  const std::string line = text.substr(lineStart, lineEnd - lineStart);
  text.erase(0, lineEnd + 1);
  int32_t done = 0;
  int32_t total = 0;
  const char* end = line.data() + line.size();
  auto [next, failure] = std::from_chars(line.data(), end, done);
  if (failure != std::errc() || next == end || *next != ' ') return false;
  auto [last, failure2] = std::from_chars(next + 1, end, total);
  if (failure2 != std::errc() || last != end) return false;
  job.done = done;
  job.total = total;
  return true;
}

bool IsStopSignal(int signal) { return signal == SIGINT || signal == SIGTERM || signal == SIGHUP; }

class BatchRun {
 public:
  BatchRun(const CliOptions& options, int32_t jobs)
      : options_(options),
        jobs_(jobs),
        json_(options.progress == ProgressStyle::kJson),
        display_(options.progress == ProgressStyle::kAuto ? ProgressColumns(STDERR_FILENO) : 0,
                 static_cast<int32_t>(options.sources.size())) {
    for (std::size_t i = 0; i < options.sources.size(); ++i) {
      JobProcess job;
      job.id = static_cast<int32_t>(i);
      job.source = options.sources[i];
      job.outputs = OutputNamesFor(options, job.source);
      waiting_.push_back(std::move(job));
    }
  }

  int Run() {
    SkipConverted();
    while (!waiting_.empty() || !running_.empty()) {
      StartWaitingJobs();
      if (running_.empty()) break;
      WaitForJobs();
      if (const int signal = WaitForStopSignal(0); signal != 0) Stop(signal);
      CollectEndedJobs();
      Redraw();
    }
    std::cerr << display_.Clear();
    if (stopSignal_ != 0) {
      if (notStarted_ > 0) std::cerr << FormatText("reelforge-cli: stopped; %d sources were not started\n", notStarted_);
      return ExitStatusForSignal(stopSignal_);
    }
    if (!failedSources_.empty()) {
      std::string names;
      for (const std::string& source : failedSources_) names += (names.empty() ? "" : ", ") + source;
      std::cerr << FormatText("reelforge-cli: %d of %d sources failed: %s\n", static_cast<int32_t>(failedSources_.size()),
                              static_cast<int32_t>(options_.sources.size()), names);
    }
    return failedSources_.empty() ? kExitOk : kExitFailed;
  }

 private:
  // With --no-overwrite, the sources whose movies exist are done already.
  void SkipConverted() {
    for (auto job = waiting_.begin(); job != waiting_.end();) {
      const auto movie = ExistingMovie(options_, job->source);
      if (!movie) {
        ++job;
        continue;
      }
      std::cout << (json_ ? SkippedJson(job->source, *movie) : job->source + ": skipped, " + *movie + " exists\n");
      display_.Remove(job->id);
      job = waiting_.erase(job);
    }
    std::cout.flush();
  }

  bool SharesOutputs(const JobProcess& a, const JobProcess& b) const { return a.outputs.front() == b.outputs.front(); }

  // Starts waiting jobs in order while there is room, keeping jobs with the same outputs in order.
  void StartWaitingJobs() {
    for (auto job = waiting_.begin(); job != waiting_.end() && static_cast<int32_t>(running_.size()) < jobs_;) {
      const auto same = [&](const JobProcess& other) { return SharesOutputs(*job, other); };
      if (std::any_of(running_.begin(), running_.end(), same) || std::any_of(waiting_.begin(), job, same)) {
        ++job;
        continue;
      }
      if (StartJob(options_, *job)) {
        job->started = std::chrono::steady_clock::now();
        display_.Add(job->id, job->source);
        running_.push_back(std::move(*job));
        changed_ = true;
      } else {
        failedSources_.push_back(job->source);
        if (json_) std::cout << FailedJson(job->source, "cannot start the job's process") << std::flush;
      }
      job = waiting_.erase(job);
    }
  }

  void WaitForJobs() {
    std::vector<pollfd> watched;
    for (const JobProcess& job : running_) {
      for (const Stream* stream : {&job.progress, &job.out, &job.err}) {
        if (stream->Open()) watched.push_back({stream->descriptor, POLLIN, 0});
      }
    }
    if (poll(watched.data(), watched.size(), kTimerMilliseconds) <= 0) return;
    for (JobProcess& job : running_) {
      for (Stream* stream : {&job.progress, &job.out, &job.err}) {
        if (stream->Open()) stream->Drain();
      }
      if (!TakeProgress(job)) continue;
      changed_ = true;
      if (!json_) {
        std::cerr << display_.Update(job.id, job.done, job.total);
        continue;
      }
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - job.started;
      std::cout << ProgressJson(job.source, job.done, job.total, elapsed.count()) << std::flush;
    }
  }

  // Passes the signal on to every running job and starts no more.
  void Stop(int signal) {
    if (stopSignal_ != 0) return;
    stopSignal_ = signal;
    for (const JobProcess& job : running_) kill(job.pid, signal);
    notStarted_ = static_cast<int32_t>(waiting_.size());
    waiting_.clear();
  }

  void CollectEndedJobs() {
    for (auto job = running_.begin(); job != running_.end();) {
      if (!job->Ended()) {
        ++job;
        continue;
      }
      int status = 0;
      while (waitpid(job->pid, &status, 0) < 0 && errno == EINTR) {
      }
      std::cerr << display_.Clear();
      std::cerr.flush();
      std::cout << job->out.text;
      std::cout.flush();
      std::cerr << job->err.text;
      Judge(*job, status);
      std::cerr.flush();
      display_.Remove(job->id);
      finishedDone_ += job->done;
      finishedTotal_ += job->total;
      changed_ = true;
      job = running_.erase(job);
    }
  }

  void Judge(const JobProcess& job, int status) {
    if (WIFEXITED(status)) {
      const int code = WEXITSTATUS(status);
      if (code == kExitOk) return;
      // A job stopped by the signal passed on (or by its own) has said so itself.
      if (!(code > 128 && IsStopSignal(code - 128))) failedSources_.push_back(job.source);
      return;
    }
    failedSources_.push_back(job.source);
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    for (const std::string& output : job.outputs) RemoveStagedLeftovers(output);
    const std::string message =
        "the job's process ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + "); no output was kept";
    std::cerr << "reelforge-cli: " << job.source << ": " << message << "\n";
    if (json_) std::cout << FailedJson(job.source, message) << std::flush;
  }

  void Redraw() {
    if (!changed_) return;
    changed_ = false;
    std::cerr << display_.Clear() << display_.Draw();
    std::cerr.flush();
    if (options_.progressDescriptor >= 0) WriteProgressLine();
  }

  // The sums over the jobs started so far.
  void WriteProgressLine() const {
    int64_t done = finishedDone_;
    int64_t total = finishedTotal_;
    for (const JobProcess& job : running_) {
      done += job.done;
      total += job.total;
    }
    const std::string line = FormatText("%d %d\n", done, total);
    [[maybe_unused]] const ssize_t written = write(options_.progressDescriptor, line.data(), line.size());
  }

  const CliOptions& options_;
  int32_t jobs_;
  bool json_;
  BatchProgressDisplay display_;
  std::deque<JobProcess> waiting_;
  std::vector<JobProcess> running_;
  int stopSignal_ = 0;
  int32_t notStarted_ = 0;
  std::vector<std::string> failedSources_;
  bool changed_ = false;
  int64_t finishedDone_ = 0;
  int64_t finishedTotal_ = 0;
};

}  // namespace

int RunBatch(const CliOptions& options, int32_t jobs) { return BatchRun(options, jobs).Run(); }

}  // namespace reel
