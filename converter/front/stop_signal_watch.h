// StopSignalWatch: the stop signals (SIGINT, SIGTERM, SIGHUP) as events of the dialog's event
// loop. The program blocks them on every thread before Qt starts any (TakeOverSignals); the watch
// reads them from a signal descriptor when the loop finds it readable, so a signal arrives
// between two events and the dialog can stop its job as a click on Close would.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace reel {

class StopSignalWatch : public QObject {
  Q_OBJECT

 public:
  // `caught` is called with each stop signal taken. Without a descriptor (none could be made)
  // the watch does nothing and the signals stay blocked.
  explicit StopSignalWatch(std::function<void(int)> caught, QObject* parent = nullptr);
  ~StopSignalWatch() override;
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

  bool Watching() const { return descriptor_ >= 0; }

 private:
  void TakeSignals();

  std::function<void(int)> caught_;
  int descriptor_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace reel
