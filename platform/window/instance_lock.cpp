#include "platform/window/instance_lock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace reel {
namespace {

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && runtime[0] != '\0' ? std::string(runtime) : std::string("/tmp");
}

// A socket address for `path`, or false when the path is too long for one.
bool SocketAddress(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

void AskToComeToFront(const std::string& socketPath) {
  sockaddr_un address;
  if (!SocketAddress(socketPath, address)) return;
  const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return;
  if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    const char request[] = "front\n";
    [[maybe_unused]] const ssize_t sent = ::send(descriptor, request, sizeof(request) - 1, MSG_NOSIGNAL);
  }
  ::close(descriptor);
}

int Listen(const std::string& socketPath) {
  sockaddr_un address;
  if (!SocketAddress(socketPath, address)) return -1;
  const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return -1;
  ::unlink(socketPath.c_str());  // left behind by a player that did not end cleanly
  if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(descriptor, 4) != 0) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

}  // namespace

InstanceLock::Acquisition InstanceLock::Acquire(const std::string& name) {
  std::string fileName = name;
  std::replace(fileName.begin(), fileName.end(), '/', '_');  // a display may be named by its path
  const std::string base = RuntimeFolder() + "/" + fileName + "-" + std::to_string(::getuid());
  const int lockDescriptor = ::open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockDescriptor < 0) return {Outcome::Unavailable, nullptr};
  if (::flock(lockDescriptor, LOCK_EX | LOCK_NB) != 0) {
    const bool taken = errno == EWOULDBLOCK;
    ::close(lockDescriptor);
    if (!taken) return {Outcome::Unavailable, nullptr};
    AskToComeToFront(base + ".sock");
    return {Outcome::AnotherRunning, nullptr};
  }
  const std::string socketPath = base + ".sock";
  return {Outcome::Acquired, std::make_unique<InstanceLock>(lockDescriptor, Listen(socketPath), socketPath)};
}

InstanceLock::InstanceLock(int lockDescriptor, int listenDescriptor, std::string socketPath)
    : lockDescriptor_(lockDescriptor), listenDescriptor_(listenDescriptor), socketPath_(std::move(socketPath)) {
  if (listenDescriptor_ < 0) return;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) return;  // no listening then: a second player just ends
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  listener_ = std::thread([this] { TakeRequests(); });
}

InstanceLock::~InstanceLock() {
  if (listener_.joinable()) {
    const char stop = 0;
    while (::write(wakeWrite_, &stop, 1) < 0 && errno == EINTR) {
    }
    listener_.join();
  }
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  if (listenDescriptor_ >= 0) {
    ::close(listenDescriptor_);
    ::unlink(socketPath_.c_str());
  }
  ::close(lockDescriptor_);
}

// The listening thread: sleeps until a connection or the stop byte comes; every connection is one
// request to come to the front.
void InstanceLock::TakeRequests() {
  for (;;) {
    pollfd watched[2] = {{listenDescriptor_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[1].revents != 0) return;
    for (;;) {
      const int connection = ::accept4(listenDescriptor_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) break;
      frontRequested_.store(true);
      ::close(connection);
    }
  }
}

}  // namespace reel
