// CReelpackDlg: Reelforge's one dialog. The user picks a source, sets the picture and sound
// options and presses Start; the dialog turns its settings into a conversion job, runs it on the
// job's worker thread and shows its progress every 100 ms until it ends.
//
// Every control carries its numeric id as its object name ("1000" for the source box, "1001" for
// Start, ...), so the controls can be found by the ids the rest of the code and the tests use.
//
// While a job runs, Start is disabled and the timer shows the job's counts. When the job reports
// it has finished, the timer collects it (a stop request, then a wait for its thread, which has
// already done its work), shows its outcome in the status line and enables Start again. Closing
// the dialog while a job runs asks the job to stop and waits for it; a stopped job removes the
// files it had begun, so nothing half-written is left behind.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

#include "converter/engine/conversion_job.h"
#include "converter/front/dialog_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace reel {

class CWinEdit;

// The controls' ids.
enum ControlId : int {
  kIdSourcePath = 1000,
  kIdStart = 1001,
  kIdBitRate = 1002,
  kIdAudioRate = 1003,
  kIdStereo = 1004,
  kIdProgress = 1006,
  kIdBrowse = 1007,
  kIdFrameCount = 1008,
  kIdPictureSize = 1009,
  kIdQuality = 1011,
  kIdForceDirectShow = 1012,
  kIdPlaybackMode = 1014,
  kIdOriginalFrame = 1015,
  kIdFrameRateText = 1016,
  kIdEncoderMp3 = 1017,
  kIdEncoderOgg = 1018,
};

// The object name a control with `id` carries.
QString ControlName(int id);

// The timer's period and its object name.
inline constexpr int kTimerMilliseconds = 100;
inline constexpr const char* kTimerName = "timer1";

class CReelpackDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CReelpackDlg(QWidget* parent = nullptr);
  ~CReelpackDlg() override;

  const DialogSettings& Settings() const { return settings_; }
  // The running job, or none when the dialog is idle.
  const CWavFileMake* CurrentJob() const { return job_.get(); }

  // Makes `path` the source, as a file chosen with Browse or dropped on the source box does.
  void ChooseSource(const QString& path);
  // The same for a path given as the file system's bytes (a command-line argument), kept as they
  // are even when they are not valid in the locale's encoding.
  void ChooseSource(const std::string& pathBytes);

  // Closing: a running job is stopped and collected first.
  void done(int result) override;

 protected:
  // Enter closes the dialog unless a push button has the focus (which then takes it itself).
  void keyPressEvent(QKeyEvent* event) override;
  // Creates the job object for a Start; the thread is started by the dialog.
  virtual std::unique_ptr<CWavFileMake> MakeJob(JobSettings settings);

 private:
  void CreateControls();
  void FillLists();
  void ConnectNotifications();

  void OnBrowse();
  void OnStart();
  void OnTimer();
  // The encoder choice as the radio buttons stand.
  AudioEncoder EncoderChoice() const;
  void ShowProgress(const CWavFileMake& job);
  // Stops the job, waits for its thread and destroys it; false when the wait failed.
  bool CollectJob();
  void ShowOutcome(const JobReport& report);
  void ShowStatus(const QString& text, const QString& details = QString());

  DialogSettings settings_;
  std::unique_ptr<CWavFileMake> job_;
  QTimer timer_;
  std::string progressText_;
  std::string rateText_;

  CWinEdit* sourceEdit_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QLabel* progressLabel_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  QComboBox* frameCountList_ = nullptr;
  QComboBox* pictureSizeList_ = nullptr;
  QComboBox* bitRateList_ = nullptr;
  QComboBox* audioRateList_ = nullptr;
  QCheckBox* stereoBox_ = nullptr;
  QComboBox* qualityList_ = nullptr;
  QCheckBox* forceBox_ = nullptr;
  QComboBox* playbackModeList_ = nullptr;
  QComboBox* originalFrameList_ = nullptr;
  QLabel* frameRateLabel_ = nullptr;
  QRadioButton* mp3Radio_ = nullptr;
  QRadioButton* oggRadio_ = nullptr;
  QButtonGroup* encoderGroup_ = nullptr;
};

}  // namespace reel
