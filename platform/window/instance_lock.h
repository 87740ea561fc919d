// One player at a time: the first holds a lock file and listens on a local socket; a second one
// finds the lock taken, asks the first through the socket to come to the front, and ends.
//
// The first one's listening thread sleeps in poll() until a request or the lock's end comes, so a
// player that is not asked costs nothing while it plays: no look at the socket on every tick.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace reel {

class InstanceLock {
 public:
  enum class Outcome { Acquired, AnotherRunning, Unavailable };

  struct Acquisition {
    Outcome outcome = Outcome::Unavailable;
    std::unique_ptr<InstanceLock> lock;  // set only with Acquired
  };

  // Tries to become the one instance named `name` (files in $XDG_RUNTIME_DIR, else /tmp; a "/" in
  // the name becomes "_"). With
  // AnotherRunning the running one has been asked to come to the front. Unavailable means the lock
  // could not be made at all; the player then runs without the check.
  static Acquisition Acquire(const std::string& name);

  InstanceLock(int lockDescriptor, int listenDescriptor, std::string socketPath);
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  // True when another instance has asked this one to come to the front since the last call. The
  // request is taken on the listening thread: it shows here very soon after the other one asked,
  // not necessarily by the time its Acquire returned.
  bool FrontRequested() { return frontRequested_.exchange(false); }

 private:
  void TakeRequests();

  int lockDescriptor_;
  int listenDescriptor_;
  std::string socketPath_;
  int wakeRead_ = -1;   // a byte here ends the listening thread
  int wakeWrite_ = -1;
  std::atomic<bool> frontRequested_{false};
  std::thread listener_;  // last: it starts once the descriptors are in place
};

}  // namespace reel
