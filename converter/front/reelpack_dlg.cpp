#include "converter/front/reelpack_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <filesystem>
#include <system_error>

#include "common/format_text.h"
#include "converter/engine/thread_master.h"
#include "converter/front/app_icon.h"
#include "converter/front/cwin_edit.h"
#include "converter/front/dialog_units.h"
#include "converter/front/make_job_settings.h"
#include "converter/front/source_kind.h"

namespace reel {
namespace {

constexpr int kDialogWidthUnits = 211;
constexpr int kDialogHeightUnits = 169;
constexpr int kFontPoints = 9;

// Where each control sits, in dialog units: x, y, width, height.
struct Place {
  int x, y, width, height;
};
constexpr Place kSourcePathPlace{7, 6, 150, 14};
constexpr Place kBrowsePlace{161, 6, 43, 14};
constexpr Place kFrameCountLabelPlace{7, 24, 33, 14};
constexpr Place kFrameCountPlace{41, 24, 76, 14};
constexpr Place kPictureSizeLabelPlace{119, 24, 35, 14};
constexpr Place kPictureSizePlace{155, 24, 49, 14};
constexpr Place kQualityLabelPlace{7, 41, 33, 14};
constexpr Place kQualityPlace{41, 41, 76, 14};
constexpr Place kForcePlace{119, 42, 60, 12};
constexpr Place kPlaybackLabelPlace{7, 58, 33, 14};
constexpr Place kPlaybackPlace{41, 58, 76, 14};
constexpr Place kOriginalFrameLabelPlace{119, 58, 35, 14};
constexpr Place kOriginalFramePlace{155, 58, 49, 14};
constexpr Place kAudioGroupPlace{7, 75, 197, 44};
constexpr Place kBitRateLabelPlace{13, 86, 12, 14};
constexpr Place kBitRatePlace{26, 86, 60, 14};
constexpr Place kAudioRateLabelPlace{90, 86, 18, 14};
constexpr Place kAudioRatePlace{109, 86, 49, 14};
constexpr Place kStereoPlace{163, 87, 38, 12};
constexpr Place kNotePlace{13, 102, 188, 14};
constexpr Place kEncoderGroupPlace{7, 121, 197, 27};
constexpr Place kMp3RadioPlace{14, 132, 76, 12};
constexpr Place kOggRadioPlace{100, 132, 86, 12};
constexpr Place kProgressPlace{7, 152, 112, 13};
constexpr Place kFrameRateTextPlace{121, 152, 38, 13};
constexpr Place kStartPlace{161, 151, 43, 15};

const char* const kCaption = "Reelforge ver3.01（Linux版）";
const char* const kProgressFormat = "変換データ数：%d / %d";
const char* const kFrameRateFormat = "FPS(%d)";
// Browse's filters as label and pattern pairs. The dialog shows each label as it stands and
// matches the pattern after it, which it keeps out of sight. "*.*" means every file, as on the
// system the labels come from; here it would need a dot in the name, and the media framework takes
// files without an extension too, so the last filter matches "*".
const char* const kBrowseFilters = "avi file (*.avi) (*.avi);;mj file (*.mj) (*.mj);;all file (*.*) (*)";

// A Japanese proportional Gothic face; the first one installed is used.
QFont DialogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"), QStringLiteral("Noto Sans CJK JP"),
                    QStringLiteral("VL PGothic")});
  font.setPointSize(kFontPoints);
  return font;
}

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A path as the file system spells it, and back.
std::string FileSystemBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString DisplayPath(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string CurrentFolder() {
  std::error_code failure;
  return std::filesystem::current_path(failure).string();
}

void Fill(QComboBox* list, const std::vector<std::string>& labels, int32_t chosen) {
  for (const std::string& label : labels) list->addItem(FromUtf8(label));
  list->setCurrentIndex(chosen);
}

}  // namespace

QString ControlName(int id) { return QString::number(id); }

CReelpackDlg::CReelpackDlg(QWidget* parent) : QDialog(parent), timer_(this) {
  setFont(DialogFont());
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(AppIcon());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(DialogUnits(font()).Size(kDialogWidthUnits, kDialogHeightUnits));

  settings_.outputFolder = CurrentFolder();
  CreateControls();
  FillLists();
  ConnectNotifications();

  timer_.setObjectName(QString::fromLatin1(kTimerName));
  timer_.setInterval(kTimerMilliseconds);
  connect(&timer_, &QTimer::timeout, this, &CReelpackDlg::OnTimer);
  timer_.start();
}

CReelpackDlg::~CReelpackDlg() {
  timer_.stop();
  if (job_) CollectJob();
}

void CReelpackDlg::CreateControls() {
  const DialogUnits units(font());
  const auto place = [&](QWidget* widget, const Place& where, const QString& name) {
    widget->setGeometry(units.Rect(where.x, where.y, where.width, where.height));
    widget->setObjectName(name);
    return widget;
  };
  const auto label = [&](const char* text, const Place& where, const char* name) {
    auto* widget = new QLabel(QString::fromUtf8(text), this);
    place(widget, where, QString::fromLatin1(name));
    return widget;
  };
  const auto list = [&](int id, const Place& where) {
    auto* widget = new QComboBox(this);
    place(widget, where, ControlName(id));
    return widget;
  };
  const auto group = [&](const char* title, const Place& where, const char* name) {
    auto* widget = new QGroupBox(QString::fromUtf8(title), this);
    place(widget, where, QString::fromLatin1(name));
    widget->lower();  // a frame behind the controls it surrounds, which stay clickable
  };

  // Created in the template's order, which is also the order the focus moves in.
  sourceEdit_ = new CWinEdit(this);
  place(sourceEdit_, kSourcePathPlace, ControlName(kIdSourcePath));
  startButton_ = new QPushButton(QString::fromUtf8("開始(&S)"), this);
  place(startButton_, kStartPlace, ControlName(kIdStart));
  progressLabel_ = new QLabel(this);
  place(progressLabel_, kProgressPlace, ControlName(kIdProgress));
  browseButton_ = new QPushButton(QString::fromUtf8("参照(&F)"), this);
  place(browseButton_, kBrowsePlace, ControlName(kIdBrowse));
  label("ﾌﾚｰﾑ数", kFrameCountLabelPlace, "labelFrameCount");
  frameCountList_ = list(kIdFrameCount, kFrameCountPlace);
  label("画像サイズ", kPictureSizeLabelPlace, "labelPictureSize");
  pictureSizeList_ = list(kIdPictureSize, kPictureSizePlace);
  label("BIT", kBitRateLabelPlace, "labelBitRate");
  bitRateList_ = list(kIdBitRate, kBitRatePlace);
  label("RATE", kAudioRateLabelPlace, "labelAudioRate");
  audioRateList_ = list(kIdAudioRate, kAudioRatePlace);
  stereoBox_ = new QCheckBox(QString::fromUtf8("ｽﾃﾚｵ"), this);
  place(stereoBox_, kStereoPlace, ControlName(kIdStereo));
  group("ＢＧＭ変換", kAudioGroupPlace, "groupAudio");
  label("画質レベル", kQualityLabelPlace, "labelQuality");
  qualityList_ = list(kIdQuality, kQualityPlace);
  forceBox_ = new QCheckBox(QString::fromUtf8("強制DShow"), this);
  place(forceBox_, kForcePlace, ControlName(kIdForceDirectShow));
  label("再生ﾓｰﾄﾞ", kPlaybackLabelPlace, "labelPlaybackMode");
  playbackModeList_ = list(kIdPlaybackMode, kPlaybackPlace);
  label("ｵﾘｼﾞﾅﾙﾌﾚｰﾑ", kOriginalFrameLabelPlace, "labelOriginalFrame");
  originalFrameList_ = list(kIdOriginalFrame, kOriginalFramePlace);
  frameRateLabel_ = new QLabel(this);
  place(frameRateLabel_, kFrameRateTextPlace, ControlName(kIdFrameRateText));
  QLabel* note = label("[OGG]の場合は[32/16kbit]以下は[48/24kbit]に強制設定。", kNotePlace, "note");
  note->setWordWrap(true);
  note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  group("エンコーダ選択", kEncoderGroupPlace, "groupEncoder");
  mp3Radio_ = new QRadioButton(QStringLiteral("GOGO.DLL[MP3]"), this);
  place(mp3Radio_, kMp3RadioPlace, ControlName(kIdEncoderMp3));
  oggRadio_ = new QRadioButton(QStringLiteral("OGGENC.DLL[OGG]"), this);
  place(oggRadio_, kOggRadioPlace, ControlName(kIdEncoderOgg));
  encoderGroup_ = new QButtonGroup(this);
  encoderGroup_->addButton(mp3Radio_, static_cast<int>(AudioEncoder::kMp3));
  encoderGroup_->addButton(oggRadio_, static_cast<int>(AudioEncoder::kOgg));
}

// The defaults of a fresh dialog, shown in the lists and boxes.
void CReelpackDlg::FillLists() {
  Fill(frameCountList_, FrameCountLabels(), settings_.frameRateChoice);
  Fill(pictureSizeList_, PictureSizeLabels(), settings_.pictureSizeChoice);
  Fill(bitRateList_, BitRateLabels(), settings_.audioBitRateIndex);
  Fill(audioRateList_, AudioRateLabels(), settings_.audioRateIndex);
  Fill(qualityList_, QualityLabels(), settings_.qualityLevelIndex);
  Fill(playbackModeList_, PlaybackModeLabels(), settings_.playbackMode);
  Fill(originalFrameList_, OriginalFrameLabels(), settings_.originalFrameChoice);
  stereoBox_->setChecked(settings_.stereoFlag != 0);
  forceBox_->setChecked(settings_.forceDirectShow != 0);
  // Every movie is 320 x 240: the size list shows the choice but never opens.
  pictureSizeList_->setEnabled(false);
  mp3Radio_->setChecked(true);
  progressLabel_->clear();
  frameRateLabel_->clear();
}

void CReelpackDlg::ConnectNotifications() {
  const auto follow = [this](QComboBox* list, int32_t DialogSettings::*setting) {
    connect(list, &QComboBox::currentIndexChanged, this, [this, setting](int index) { settings_.*setting = index; });
  };
  follow(bitRateList_, &DialogSettings::audioBitRateIndex);
  follow(audioRateList_, &DialogSettings::audioRateIndex);
  follow(frameCountList_, &DialogSettings::frameRateChoice);
  follow(pictureSizeList_, &DialogSettings::pictureSizeChoice);
  follow(qualityList_, &DialogSettings::qualityLevelIndex);
  follow(playbackModeList_, &DialogSettings::playbackMode);
  follow(originalFrameList_, &DialogSettings::originalFrameChoice);
  connect(stereoBox_, &QCheckBox::toggled, this, [this](bool on) { settings_.stereoFlag = on ? 1 : 0; });
  connect(forceBox_, &QCheckBox::toggled, this, [this](bool on) { settings_.forceDirectShow = on ? 1 : 0; });
  connect(browseButton_, &QPushButton::clicked, this, &CReelpackDlg::OnBrowse);
  connect(startButton_, &QPushButton::clicked, this, &CReelpackDlg::OnStart);
  connect(sourceEdit_, &CWinEdit::FileDropped, this, qOverload<const QString&>(&CReelpackDlg::ChooseSource));
}

void CReelpackDlg::ChooseSource(const QString& path) { ChooseSource(FileSystemBytes(path)); }

void CReelpackDlg::ChooseSource(const std::string& pathBytes) {
  settings_.sourcePath = pathBytes;
  settings_.sourceKind = SourceKindOf(settings_.sourcePath);
  sourceEdit_->setText(DisplayPath(settings_.sourcePath));
}

void CReelpackDlg::OnBrowse() {
  QString filter;
  const QString path =
      QFileDialog::getOpenFileName(this, QString(), QString(), QString::fromLatin1(kBrowseFilters), &filter,
                                   QFileDialog::HideNameFilterDetails);
  if (path.isEmpty()) return;
  ChooseSource(path);
}

AudioEncoder CReelpackDlg::EncoderChoice() const { return oggRadio_->isChecked() ? AudioEncoder::kOgg : AudioEncoder::kMp3; }

std::unique_ptr<CWavFileMake> CReelpackDlg::MakeJob(JobSettings settings) {
  return std::make_unique<CWavFileMake>(std::move(settings));
}

void CReelpackDlg::OnStart() {
  if (job_ || settings_.sourcePath.empty()) return;
  std::unique_ptr<CWavFileMake> job = MakeJob(MakeJobSettings(settings_, EncoderChoice()));
  try {
    CThreadCtrl(job.get()).Start();
  } catch (const CThreadException&) {
    ShowStatus(QString::fromUtf8("変換を開始できません（スレッドを作成できません）"));
    return;
  }
  job_ = std::move(job);
  startButton_->setEnabled(false);
  progressLabel_->setToolTip(QString());
}

void CReelpackDlg::OnTimer() {
  if (!job_) return;
  if (job_->finished.load(std::memory_order_acquire) == 0) {
    ShowProgress(*job_);
    return;
  }
  const JobReport report = job_->Report();
  progressLabel_->clear();
  frameRateLabel_->clear();
  const bool collected = CollectJob();
  startButton_->setEnabled(true);
  if (!collected) {
    ShowStatus(QString::fromUtf8("変換スレッドを回収できません"));
    return;
  }
  ShowOutcome(report);
}

void CReelpackDlg::ShowProgress(const CWavFileMake& job) {
  // The counts are read without a lock and may be one update behind each other.
  FormatText(progressText_, kProgressFormat, job.framesDone.load(), job.framesTotal.load());
  FormatText(rateText_, kFrameRateFormat, job.sourceRate.load());
  progressLabel_->setText(FromUtf8(progressText_));
  frameRateLabel_->setText(FromUtf8(rateText_));
}

bool CReelpackDlg::CollectJob() {
  bool collected = true;
  try {
    CThreadCtrl control(job_.get());
    control.Stop();
    control.Wait(kInfinite);
  } catch (const CThreadException&) {
    collected = false;
  }
  job_.reset();
  return collected;
}

void CReelpackDlg::ShowOutcome(const JobReport& report) {
  QStringList details;
  if (!report.moviePath.empty()) details << DisplayPath(report.moviePath);
  if (!report.audioPath.empty()) details << DisplayPath(report.audioPath);
  for (const std::string& warning : report.warnings) details << QString::fromUtf8("警告：") + FromUtf8(warning);
  QString text;
  switch (report.status) {
    case JobStatus::kSucceeded:
      text = QString::fromUtf8("変換終了：") + QFileInfo(DisplayPath(report.moviePath)).fileName();
      if (!report.warnings.empty()) {
        text += QString::fromUtf8("（警告 %1 件）").arg(report.warnings.size());
      }
      break;
    case JobStatus::kStopped:
      text = QString::fromUtf8("変換を中止しました");
      break;
    case JobStatus::kFailed:
      text = QString::fromUtf8("変換エラー：") + FromUtf8(report.error);
      details.prepend(FromUtf8(report.error));
      break;
  }
  ShowStatus(text, details.join(QLatin1Char('\n')));
}

void CReelpackDlg::ShowStatus(const QString& text, const QString& details) {
  progressLabel_->setText(text);
  progressLabel_->setToolTip(details.isEmpty() ? text : details);
}

void CReelpackDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CReelpackDlg::done(int result) {
  // A stopped job removes the outputs it had begun; one that has finished keeps them.
  if (job_) CollectJob();
  QDialog::done(result);
}

}  // namespace reel
