// One player at a time: the first holds a lock file and listens on a local socket; a second one
// finds the lock taken, asks the first through the socket to come to the front, and ends.
#pragma once

#include <memory>
#include <string>

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

  // True when another instance has asked this one to come to the front since the last call.
  bool FrontRequested();

 private:
  int lockDescriptor_;
  int listenDescriptor_;
  std::string socketPath_;
};

}  // namespace reel
