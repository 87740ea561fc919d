#include "platform/process/stop_signals.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <ctime>

namespace reel {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

void TakeOverSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

int OpenStopSignalDescriptor() {
  const sigset_t signals = StopSignals();
  return signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

int WaitForStopSignal(long milliseconds) {
  const sigset_t signals = StopSignals();
  const timespec period{milliseconds / 1000, (milliseconds % 1000) * 1'000'000};
  const int taken = sigtimedwait(&signals, nullptr, &period);
  return taken > 0 ? taken : 0;
}

}  // namespace reel
