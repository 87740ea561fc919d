#include "converter/front/reelpack_app.h"

#include <QDialog>

#include "platform/process/job_memory.h"
#include "platform/process/stop_signals.h"
#include "converter/front/app_icon.h"
#include "converter/front/reelpack_dlg.h"
#include "converter/front/stop_signal_watch.h"

namespace reel {

int RunDialog(CReelpackDlg& dialog) {
  int caught = 0;
  const StopSignalWatch watch([&dialog, &caught](int signal) {
    if (caught != 0) return;
    caught = signal;
    // A window open over the dialog (the file chooser) closes first, so that its loop ends too;
    // closing the dialog collects a running job.
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* other = qobject_cast<QDialog*>(window);
      if (other != nullptr && other != &dialog && other->isVisible()) other->reject();
    }
    dialog.reject();
  });
  dialog.exec();
  return caught != 0 ? ExitStatusForSignal(caught) : 0;
}

CReelpackApp::SignalsTakenOver::SignalsTakenOver() { TakeOverSignals(); }

CReelpackApp::CReelpackApp(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("reelforge"));
  // Ties the window to the installed desktop entry, for its name and icon in task bars.
  QApplication::setDesktopFileName(QStringLiteral("reelforge"));
  QApplication::setWindowIcon(AppIcon());
  KeepFreedMemoryForReuse();
}

int CReelpackApp::Run() {
  CReelpackDlg dialog;
  return RunDialog(dialog);
}

}  // namespace reel
