#include "converter/engine/sound_task.h"

#include <exception>
#include <new>
#include <utility>

namespace reel {

void SoundTask::Start(Work work, bool overlap) {
  Cancel();
  stop_.store(false);
  result_ = {};
  started_ = true;
  if (!overlap) {
    RunWork(work);
    return;
  }
  thread_ = std::thread([this, work = std::move(work)] { RunWork(work); });
}

void SoundTask::RunWork(const Work& work) noexcept {
  const StopCheck stopped = [this] { return Stopped(); };
  try {
    result_ = work(stopped);
  } catch (const std::bad_alloc&) {
    result_ = {};
    result_.status = MakeError(ErrorKind::kOutOfMemory, "soundtrack", "out of memory while encoding it");
  } catch (const std::exception& failure) {
    result_ = {};
    result_.status = MakeError(ErrorKind::kCannotWrite, "soundtrack", failure.what());
  } catch (...) {
    result_ = {};
    result_.status = MakeError(ErrorKind::kCannotWrite, "soundtrack", "encoding it failed");
  }
}

CompanionResult SoundTask::Take() {
  if (thread_.joinable()) thread_.join();
  started_ = false;
  return std::exchange(result_, CompanionResult{});
}

void SoundTask::Cancel() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  started_ = false;
  result_ = {};
}

}  // namespace reel
