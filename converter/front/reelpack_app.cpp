#include "converter/front/reelpack_app.h"

#include <QDialog>
#include <iostream>
#include <string>
#include <vector>

#include "platform/process/job_memory.h"
#include "platform/process/stop_signals.h"
#include "converter/front/app_icon.h"
#include "converter/front/command_line.h"
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

Status FillInSource(CReelpackDlg& dialog, std::span<const std::string> arguments) {
  const Result<std::optional<std::string>> source = SourceArgument(arguments);
  if (!source) return source.error();
  if (*source) dialog.ChooseSource(**source);
  return {};
}

CReelpackApp::SignalsTakenOver::SignalsTakenOver() { TakeOverSignals(); }

CReelpackApp::CReelpackApp(int& argc, char** argv) : application_(argc, argv), argc_(argc), argv_(argv) {
  QApplication::setApplicationName(QStringLiteral("reelforge"));
  // Ties the window to the installed desktop entry, for its name and icon in task bars.
  QApplication::setDesktopFileName(QStringLiteral("reelforge"));
  QApplication::setWindowIcon(AppIcon());
  KeepFreedMemoryForReuse();
}

int CReelpackApp::Run() {
  const std::vector<std::string> arguments(argv_ + (argc_ > 0 ? 1 : 0), argv_ + argc_);
  CReelpackDlg dialog;
  const Status filled = FillInSource(dialog, arguments);
  if (!filled) {
    std::cerr << "reelforge: " << filled.error().message << "\n" << "Try 'reelforge --help'.\n";
    return kExitUsage;
  }
  return RunDialog(dialog);
}

}  // namespace reel
