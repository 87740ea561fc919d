// CReelpackApp: the Reelforge program. It runs the dialog as its main window and ends when the
// dialog closes; nothing is read or remembered between runs.
#pragma once

#include <QApplication>

namespace reel {

class CReelpackApp {
 public:
  // `argc` and `argv` must outlive the object, as QApplication requires.
  CReelpackApp(int& argc, char** argv);

  // Shows the dialog until it closes; the program's exit status.
  int Run();

 private:
  QApplication application_;
};

}  // namespace reel
