#include "converter/front/reelpack_app.h"

#include "converter/engine/job_memory.h"
#include "converter/front/app_icon.h"
#include "converter/front/reelpack_dlg.h"

namespace reel {

CReelpackApp::CReelpackApp(int& argc, char** argv) : application_(argc, argv) {
  QApplication::setApplicationName(QStringLiteral("reelforge"));
  // Ties the window to the installed desktop entry, for its name and icon in task bars.
  QApplication::setDesktopFileName(QStringLiteral("reelforge"));
  QApplication::setWindowIcon(AppIcon());
  KeepFreedMemoryForReuse();
}

int CReelpackApp::Run() {
  CReelpackDlg dialog;
  dialog.exec();
  return 0;
}

}  // namespace reel
