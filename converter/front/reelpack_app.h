// CReelpackApp: the Reelforge program. It runs the dialog as its main window and ends when the
// dialog closes; nothing is read or remembered between runs. A source named on the command line
// (after Qt's own options) is filled in as Browse would; a command line it does not take is
// refused on standard error with exit status 2 before the dialog opens.
//
// A stop signal (SIGINT, SIGTERM, SIGHUP) closes the dialog as Close would: a running job is
// stopped and removes the files it had begun, and the program ends with status 128 + the signal's
// number. A write past a file-size limit fails rather than killing the program (SIGXFSZ is
// ignored), so the job reports it and leaves nothing behind.
#pragma once

#include <QApplication>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

class CReelpackDlg;

// Shows `dialog` until it closes or a stop signal comes; 0, or 128 + the signal's number. The
// stop signals must already be blocked (TakeOverSignals).
int RunDialog(CReelpackDlg& dialog);

// Fills in the source that `arguments` (the command line after Qt's options, without the
// program's name) name, as Browse would; the error for a command line the program does not take,
// the dialog unchanged.
Status FillInSource(CReelpackDlg& dialog, std::span<const std::string> arguments);

class CReelpackApp {
 public:
  // `argc` and `argv` must outlive the object, as QApplication requires.
  CReelpackApp(int& argc, char** argv);

  // Shows the dialog until it closes; the program's exit status.
  int Run();

  // The exit status for a command line the program does not take.
  static constexpr int kExitUsage = 2;

 private:
  // Blocks the stop signals before Qt starts any thread, so that every thread inherits the mask.
  struct SignalsTakenOver {
    SignalsTakenOver();
  };

  SignalsTakenOver signals_;
  QApplication application_;
  // What QApplication left of the command line: the program's name and our own arguments.
  int& argc_;
  char** argv_;
};

}  // namespace reel
