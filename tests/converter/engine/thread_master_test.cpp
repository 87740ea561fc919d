// The thread framework: the order of its hooks, stop requests, waits and what it does with an
// exception that a body lets escape.
#include "converter/engine/thread_master.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace reel {
namespace {

class RecordingThread : public CWinThreadMaster {
 public:
  ~RecordingThread() override { JoinThread(); }
  uint32_t RunThread() override {
    Record("run");
    return 7;
  }
  void OnCtrlStart() override { Record("ctrl-start"); }
  void OnCtrlStop() override { Record("ctrl-stop"); }
  void OnThreadCreated(std::thread::id) override { Record("created"); }
  void OnThreadEnter() override { Record("enter"); }
  void OnThreadLeave() override { Record("leave"); }

  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void Record(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(ThreadMasterTest, HooksRunInTheirOrder) {
  RecordingThread thread;
  CThreadCtrl(&thread).Start();
  EXPECT_EQ(CThreadCtrl(&thread).Wait(kInfinite), 1);
  EXPECT_EQ(thread.ExitCode(), 7u);
  EXPECT_EQ(thread.Events(), (std::vector<std::string>{"ctrl-start", "created", "enter", "run", "leave"}));
  CThreadCtrl(&thread).Stop();
  EXPECT_EQ(thread.Events().back(), "ctrl-stop");
  EXPECT_EQ(thread.ControlState(), kControlStopRequested);
}

class StoppableThread : public CWinThreadMaster {
 public:
  ~StoppableThread() override { JoinThread(); }
  uint32_t RunThread() override {
    try {
      while (true) {
        CheckKilled();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } catch (const CExKilledByCtrl&) {
      return 3;
    }
  }
};

TEST(ThreadMasterTest, StopRequestReachesCheckKilledAndWaitTimesOutBeforeIt) {
  StoppableThread thread;
  EXPECT_NO_THROW(thread.CheckKilled());
  CThreadCtrl control(&thread);
  control.Start();
  EXPECT_EQ(control.Wait(20), 0);
  control.Stop();
  EXPECT_EQ(control.Wait(kInfinite), 1);
  EXPECT_EQ(thread.ExitCode(), 3u);
  EXPECT_THROW(thread.CheckKilled(), CExKilledByCtrl);
}

TEST(ThreadMasterTest, WaitWithoutAThreadAndASecondStartFail) {
  StoppableThread idle;
  EXPECT_THROW(CThreadCtrl(&idle).Wait(kInfinite), CCtrlFailed);

  RecordingThread thread;
  CThreadCtrl(&thread).Start();
  EXPECT_THROW(CThreadCtrl(&thread).Start(), CCtrlFailed);
  EXPECT_EQ(CThreadCtrl(&thread).Wait(kInfinite), 1);
  EXPECT_EQ(CThreadCtrl(&thread).Wait(kInfinite), 1);  // an ended thread stays ended
}

class ThrowingThread : public CWinThreadMaster {
 public:
  ~ThrowingThread() override { JoinThread(); }
  uint32_t RunThread() override { throw CCtrlFailed(); }
};

TEST(ThreadMasterTest, AnEscapingExceptionEndsTheThreadQuietly) {
  ThrowingThread thread;
  CThreadCtrl(&thread).Start();
  EXPECT_EQ(CThreadCtrl(&thread).Wait(kInfinite), 1);
  EXPECT_EQ(thread.ExitCode(), kThreadAbortedCode);
}

TEST(ThreadMasterTest, DestroyingARunningThreadStopsAndWaitsForIt) {
  auto thread = std::make_unique<StoppableThread>();
  CThreadCtrl(thread.get()).Start();
  thread.reset();  // must not hang or crash
  SUCCEED();
}

}  // namespace
}  // namespace reel
