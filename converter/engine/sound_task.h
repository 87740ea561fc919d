// A companion file made on a thread of its own, so that the soundtrack is read, converted and
// encoded while the job's thread reads, scales and codes frames.
//
// The work leaves its file under a temporary name; the job's thread takes the result at the point
// where the sound stream's turn comes and commits it there, so files, warnings and errors appear
// in the order a job on one thread gives them. A task that is cancelled, or destroyed before its
// result was taken, is stopped and waited for, and its file goes with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"
#include "converter/engine/staged_output.h"

namespace reel {

// What the making of a companion leaves for the job's thread.
struct CompanionResult {
  Status status;                       // an error that ends the job (kStopped when it was stopped)
  std::vector<std::string> warnings;   // in the order they arose
  std::optional<StagedOutput> staged;  // the finished file under its temporary name; none: no file
  uint64_t bytes = 0;
};

class SoundTask {
 public:
  // True once the work should stop (it polls this between pieces of sound).
  using StopCheck = std::function<bool()>;
  using Work = std::function<CompanionResult(const StopCheck& stopped)>;

  // `jobStopped` tells whether the whole job was asked to stop.
  explicit SoundTask(StopCheck jobStopped) : jobStopped_(std::move(jobStopped)) {}
  ~SoundTask() { Cancel(); }
  SoundTask(const SoundTask&) = delete;
  SoundTask& operator=(const SoundTask&) = delete;

  // Starts `work` on a thread of its own, or with `overlap` false runs it now on the caller's.
  void Start(Work work, bool overlap);
  bool Running() const { return started_; }
  // Waits for the work and hands its result over.
  CompanionResult Take();
  // Stops the work, waits for it and drops its result.
  void Cancel();

 private:
  bool Stopped() const { return stop_.load(std::memory_order_relaxed) || jobStopped_(); }
  void RunWork(const Work& work) noexcept;

  StopCheck jobStopped_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool started_ = false;
  CompanionResult result_;
};

}  // namespace reel
