// reelforge-assets: writes the files the build and the documentation take from the dialog.
//
//   reelforge-assets icon SIZE OUT.png                 the icon, SIZE pixels square
//   reelforge-assets screenshot OUT.png [SOURCE]       the dialog as it opens; with SOURCE, the
//                                                      dialog converting it, about a third done
//
// It runs on any Qt platform; the build uses the offscreen one. A conversion for the screenshot
// writes into the current folder and is stopped when the picture is taken, which removes its files.
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <QThread>
#include <cstdio>
#include <string>

#include "converter/front/app_icon.h"
#include "converter/front/reelpack_dlg.h"

namespace reel {
namespace {

constexpr int kMaxIconSize = 1024;
constexpr int kConversionTimeoutMs = 60'000;

int Usage() {
  std::fputs("usage: reelforge-assets icon SIZE OUT.png | screenshot OUT.png [SOURCE]\n", stderr);
  return 2;
}

bool Save(const QImage& image, const QString& path) {
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "reelforge-assets: %s: cannot write the picture\n", QFile::encodeName(path).constData());
  return false;
}

int WriteIcon(const QString& sizeText, const QString& path) {
  bool ok = false;
  const int size = sizeText.toInt(&ok);
  if (!ok || size < 1 || size > kMaxIconSize) return Usage();
  return Save(AppIconImage(size), path) ? 0 : 1;
}

// Runs the event loop until the job is a third done (or the time runs out); false when it ended.
bool WaitForProgress(const CReelpackDlg& dialog) {
  QDeadlineTimer deadline(kConversionTimeoutMs);
  while (!deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    const CWavFileMake* job = dialog.CurrentJob();
    if (job == nullptr) return false;
    const int total = job->framesTotal.load();
    const auto* progress = dialog.findChild<QLabel*>(ControlName(kIdProgress));
    if (total > 0 && job->framesDone.load() * 3 >= total && !progress->text().isEmpty()) return true;
    QThread::msleep(5);
  }
  return false;
}

int WriteScreenshot(const QString& path, const QString& source) {
  CReelpackDlg dialog;
  dialog.show();
  QApplication::processEvents();
  if (!source.isEmpty()) {
    dialog.ChooseSource(source);
    dialog.findChild<QPushButton*>(ControlName(kIdStart))->click();
    if (!WaitForProgress(dialog)) {
      std::fputs("reelforge-assets: the conversion showed no progress\n", stderr);
      return 1;
    }
  }
  QApplication::processEvents();
  const bool saved = Save(dialog.grab().toImage(), path);
  dialog.reject();
  return saved ? 0 : 1;
}

int Main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() == 4 && arguments[1] == QLatin1String("icon")) return WriteIcon(arguments[2], arguments[3]);
  if ((arguments.size() == 3 || arguments.size() == 4) && arguments[1] == QLatin1String("screenshot")) {
    return WriteScreenshot(arguments[2], arguments.size() == 4 ? arguments[3] : QString());
  }
  return Usage();
}

}  // namespace
}  // namespace reel

int main(int argc, char** argv) { return reel::Main(argc, argv); }
