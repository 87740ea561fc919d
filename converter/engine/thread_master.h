// The small thread framework a conversion job runs on.
//
// CWinThreadMaster owns one thread and calls its virtual body, RunThread, on it; CThreadCtrl is
// the short-lived handle through which a front end starts such a thread, asks it to stop and
// waits for it. A stop is only a request: a body that wants to honour it calls CheckKilled at safe
// points, which throws CExKilledByCtrl once the request has been made. The two exception classes
// are empty and share one base, so one handler catches either. Neither ever leaves the thread
// entry: whatever a body lets escape ends the thread with kThreadAbortedCode.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace reel {

// The control state once a stop has been requested.
inline constexpr uint32_t kControlStopRequested = 0x80000001u;
// Wait without a time limit.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// Exit code of a thread whose body let an exception escape.
inline constexpr uint32_t kThreadAbortedCode = 0xFFFFFFFFu;

class CThreadException {};
class CExKilledByCtrl : public CThreadException {};
class CCtrlFailed : public CThreadException {};

class CWinThreadMaster {
 public:
  CWinThreadMaster() = default;
  // Waits for a thread that is still running, so the object never goes away under its own body.
  virtual ~CWinThreadMaster();
  CWinThreadMaster(const CWinThreadMaster&) = delete;
  CWinThreadMaster& operator=(const CWinThreadMaster&) = delete;

  // The hooks, in the order the framework knows them.
  virtual uint32_t RunThread() { return 0; }
  virtual void OnCtrlStart() {}
  virtual void OnCtrlStop() {}
  virtual void OnReservedHook1() {}
  virtual void OnReservedHook2() {}
  virtual void OnThreadCreated(std::thread::id /*threadId*/) {}
  virtual void OnThreadEnter() {}
  virtual void OnThreadLeave() {}
  // Throws CExKilledByCtrl when a stop has been requested.
  virtual void CheckKilled() const;

  // Creates the thread held back until OnThreadCreated has run, then lets it go. 1 on success, 0
  // when no thread could be created (or one was started already).
  int StartThread();

  uint32_t ControlState() const { return controlState_.load(std::memory_order_acquire); }
  bool Started() const { return started_; }
  // The body's exit code, once the thread has ended.
  uint32_t ExitCode() const { return exitCode_.load(std::memory_order_acquire); }

 protected:
  // Ends a running thread from a derived destructor: a stop request, then a wait.
  void JoinThread();

 private:
  friend class CThreadCtrl;

  void ThreadEntry();
  void RequestStop() { controlState_.store(kControlStopRequested, std::memory_order_release); }
  // 1 when the thread has ended, 0 on time-out, -1 when there is no thread to wait for.
  int WaitForEnd(uint32_t milliseconds);

  std::thread thread_;
  std::atomic<uint32_t> controlState_{0};
  std::atomic<uint32_t> exitCode_{0};
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;  // the thread may run its body
  bool ended_ = false;     // the body and OnThreadLeave are done
};

class CThreadCtrl {
 public:
  explicit CThreadCtrl(CWinThreadMaster* thread) : thread_(thread) {}

  // OnCtrlStart, then StartThread; throws CCtrlFailed when no thread was started.
  void Start();
  // 1 when the thread has ended, 0 when the time ran out; throws CCtrlFailed when there is no
  // thread to wait for. After a successful wait the thread's resources are released.
  int Wait(uint32_t milliseconds);
  // OnCtrlStop, then the stop request.
  void Stop();

 private:
  CWinThreadMaster* thread_;
};

}  // namespace reel
