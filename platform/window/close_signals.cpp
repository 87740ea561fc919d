#include "platform/window/close_signals.h"

#include <atomic>
#include <csignal>

namespace reel {
namespace {

// A signal handler can reach nothing but process-wide state; this flag is all it touches.
std::atomic<bool> closeSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void NoteCloseSignal(int) { closeSignalled.store(true); }

}  // namespace

void InstallCloseSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = NoteCloseSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool TakeCloseSignal() { return closeSignalled.exchange(false); }

}  // namespace reel
