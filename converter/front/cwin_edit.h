// CWinEdit: the read-only box that shows the source path and takes a file dropped on it.
//
// A drop carries a list of URLs; the first one is taken when it names a local file that is not a
// folder (anything else is refused while it is still being dragged, so the cursor says so). The
// accepted path is kept with a dropped-file mark and announced with FileDropped; the dialog then
// treats it exactly like a file chosen with Browse.
#pragma once

#include <QLineEdit>
#include <QString>
#include <optional>

class QMimeData;

namespace reel {

class CWinEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit CWinEdit(QWidget* parent = nullptr);

  // The last path dropped, as the file system spells it; empty before any drop.
  const QString& DroppedPath() const { return droppedPath_; }
  bool DroppedMark() const { return droppedMark_; }

 signals:
  void FileDropped(const QString& path);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The first URL of a drop when it names a local file that is not a folder.
  static std::optional<QString> DroppableFile(const QMimeData* data);

  QString droppedPath_;
  bool droppedMark_ = false;
};

}  // namespace reel
