#include "converter/front/cwin_edit.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace reel {

CWinEdit::CWinEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setAcceptDrops(true);
}

std::optional<QString> CWinEdit::DroppableFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = data->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return std::nullopt;
  const QString path = urls.front().toLocalFile();
  const QFileInfo info(path);
  if (!info.exists() || info.isDir()) return std::nullopt;
  return path;
}

// A read-only line edit refuses drops on its own, so the three drag events are handled here.
void CWinEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (DroppableFile(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CWinEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (DroppableFile(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CWinEdit::dropEvent(QDropEvent* event) {
  const auto path = DroppableFile(event->mimeData());
  if (!path) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  droppedPath_ = *path;
  droppedMark_ = true;
  emit FileDropped(*path);
}

}  // namespace reel
