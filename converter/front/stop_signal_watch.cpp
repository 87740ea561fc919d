#include "converter/front/stop_signal_watch.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/process/stop_signals.h"

namespace reel {

StopSignalWatch::StopSignalWatch(std::function<void(int)> caught, QObject* parent)
    : QObject(parent), caught_(std::move(caught)), descriptor_(OpenStopSignalDescriptor()) {
  if (descriptor_ < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(descriptor_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { TakeSignals(); });
}

StopSignalWatch::~StopSignalWatch() {
  notifier_.reset();
  if (descriptor_ >= 0) ::close(descriptor_);
}

void StopSignalWatch::TakeSignals() {
  signalfd_siginfo info{};
  while (::read(descriptor_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    caught_(static_cast<int>(info.ssi_signo));
  }
}

}  // namespace reel
