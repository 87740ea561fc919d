#include "front_test_support.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QCoreApplication>
#include <memory>

#include "converter/engine/thread_master.h"
#include "converter/front/cwin_edit.h"

namespace reel::test {

std::unique_ptr<CWavFileMake> WatchedDialog::MakeJob(JobSettings settings) {
  lastSettings = settings;
  auto job = CReelpackDlg::MakeJob(std::move(settings));
  lastJob = job.get();
  if (startEarly) job->StartThread();
  return job;
}

namespace {

std::unique_ptr<QMimeData> FileData(const QString& path) {
  auto data = std::make_unique<QMimeData>();
  data->setUrls({QUrl::fromLocalFile(path)});
  return data;
}

}  // namespace

bool DropFile(QWidget& dialog, const QString& path) {
  // A drop goes to the widget that accepted the drag's entry, as with a real drag.
  if (!AcceptsDrag(dialog, path)) return false;
  const std::unique_ptr<QMimeData> data = FileData(path);
  QDropEvent drop(QPointF(4, 4), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  drop.setAccepted(false);
  QCoreApplication::sendEvent(Control<CWinEdit>(dialog, kIdSourcePath), &drop);
  return drop.isAccepted();
}

bool AcceptsDrag(QWidget& dialog, const QString& path) {
  const std::unique_ptr<QMimeData> data = FileData(path);
  QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QCoreApplication::sendEvent(Control<CWinEdit>(dialog, kIdSourcePath), &enter);
  return enter.isAccepted();
}

CurrentFolder::CurrentFolder(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ignored;
  std::filesystem::current_path(saved_, ignored);
}

}  // namespace reel::test
