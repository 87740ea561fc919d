// Helpers for the dialog tests: the dialog with its job creation watched, its controls by id, a
// file dropped on the source box, and the current folder changed for a test.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "converter/front/reelpack_dlg.h"

// Lets test failures show texts.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace reel::test {

// The dialog with every job's settings recorded and a raw view of the job it made last.
class WatchedDialog : public CReelpackDlg {
 public:
  std::optional<JobSettings> lastSettings;
  CWavFileMake* lastJob = nullptr;
  // Set to start the job's thread as soon as it is made, so the dialog's own start fails.
  bool startEarly = false;

 protected:
  std::unique_ptr<CWavFileMake> MakeJob(JobSettings settings) override;
};

template <typename Widget>
Widget* Control(const QWidget& dialog, int id) {
  return dialog.findChild<Widget*>(ControlName(id));
}

inline QString LabelText(const QWidget& dialog, int id) { return Control<QLabel>(dialog, id)->text(); }

// Drags `path` onto the source box and drops it there; true when the box took it.
bool DropFile(QWidget& dialog, const QString& path);
// Whether the source box would take `path` when it is dragged over it.
bool AcceptsDrag(QWidget& dialog, const QString& path);

// Changes the current folder for the life of the object.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::filesystem::path& folder);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path saved_;
};

}  // namespace reel::test
