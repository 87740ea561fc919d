#include "converter/engine/thread_master.h"

#include <chrono>
#include <system_error>

namespace reel {

CWinThreadMaster::~CWinThreadMaster() { JoinThread(); }

void CWinThreadMaster::JoinThread() {
  if (!thread_.joinable()) return;
  RequestStop();
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CWinThreadMaster::CheckKilled() const {
  if (ControlState() == kControlStopRequested) throw CExKilledByCtrl();
}

int CWinThreadMaster::StartThread() {
  if (started_) return 0;
  try {
    thread_ = std::thread([this] { ThreadEntry(); });
  } catch (const std::system_error&) {
    return 0;
  }
  started_ = true;
  OnThreadCreated(thread_.get_id());
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
  return 1;
}

void CWinThreadMaster::ThreadEntry() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return released_; });
  }
  uint32_t code = kThreadAbortedCode;
  try {
    OnThreadEnter();
    code = RunThread();
    OnThreadLeave();
  } catch (...) {
    // Nothing may leave a thread entry; the exit code tells the waiter.
    code = kThreadAbortedCode;
  }
  exitCode_.store(code, std::memory_order_release);
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
}

int CWinThreadMaster::WaitForEnd(uint32_t milliseconds) {
  if (!thread_.joinable()) return started_ ? 1 : -1;
  {
    std::unique_lock lock(mutex_);
    const auto ended = [this] { return ended_; };
    if (milliseconds == kInfinite) {
      changed_.wait(lock, ended);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)) {
      return 0;
    }
  }
  thread_.join();
  return 1;
}

void CThreadCtrl::Start() {
  thread_->OnCtrlStart();
  if (thread_->StartThread() == 0) throw CCtrlFailed();
}

int CThreadCtrl::Wait(uint32_t milliseconds) {
  const int result = thread_->WaitForEnd(milliseconds);
  if (result < 0) throw CCtrlFailed();
  return result;
}

void CThreadCtrl::Stop() {
  thread_->OnCtrlStop();
  thread_->RequestStop();
}

}  // namespace reel
