// The dialog without a real conversion: its controls and defaults, how the controls reach a job's
// settings, the source box, the keys that close it, and failures of the job's thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <vector>

#include "converter/engine/thread_master.h"
#include "converter/front/cwin_edit.h"
#include "converter/front/dialog_units.h"
#include "front_test_support.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::Control;
using test::LabelText;
using test::WatchedDialog;

constexpr int kCollectTimeoutMs = 20'000;

std::vector<QString> Entries(const QComboBox& list) {
  std::vector<QString> entries;
  for (int i = 0; i < list.count(); ++i) entries.push_back(list.itemText(i));
  return entries;
}

std::vector<QString> Texts(std::initializer_list<const char*> texts) {
  std::vector<QString> list;
  for (const char* text : texts) list.push_back(QString::fromUtf8(text));
  return list;
}

QString Utf8(const char* text) { return QString::fromUtf8(text); }

TEST(ReelpackDlgTest, OpensWithItsControlsListsAndDefaults) {
  WatchedDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), Utf8("Reelforge ver3.01（Linux版）"));
  EXPECT_EQ(dialog.size(), DialogUnits(dialog.font()).Size(211, 169));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_EQ(dialog.font().pointSize(), 9);

  EXPECT_EQ(Control<QPushButton>(dialog, kIdStart)->text(), Utf8("開始(&S)"));
  EXPECT_EQ(Control<QPushButton>(dialog, kIdBrowse)->text(), Utf8("参照(&F)"));
  EXPECT_EQ(Control<QCheckBox>(dialog, kIdStereo)->text(), Utf8("ｽﾃﾚｵ"));
  EXPECT_EQ(Control<QCheckBox>(dialog, kIdForceDirectShow)->text(), Utf8("強制DShow"));
  EXPECT_EQ(Control<QRadioButton>(dialog, kIdEncoderMp3)->text(), Utf8("GOGO.DLL[MP3]"));
  EXPECT_EQ(Control<QRadioButton>(dialog, kIdEncoderOgg)->text(), Utf8("OGGENC.DLL[OGG]"));
  EXPECT_TRUE(Control<CWinEdit>(dialog, kIdSourcePath)->isReadOnly());
  EXPECT_TRUE(Control<CWinEdit>(dialog, kIdSourcePath)->text().isEmpty());
  EXPECT_TRUE(LabelText(dialog, kIdProgress).isEmpty());
  EXPECT_TRUE(LabelText(dialog, kIdFrameRateText).isEmpty());
  EXPECT_EQ(dialog.findChild<QGroupBox*>("groupAudio")->title(), Utf8("ＢＧＭ変換"));
  EXPECT_EQ(dialog.findChild<QGroupBox*>("groupEncoder")->title(), Utf8("エンコーダ選択"));
  EXPECT_EQ(dialog.findChild<QLabel*>("note")->text(), Utf8("[OGG]の場合は[32/16kbit]以下は[48/24kbit]に強制設定。"));

  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdFrameCount)),
            Texts({"基準値(MAX15fps)", "最大値(MAX30fps)", "最小値(MAX10fps)"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdPictureSize)), Texts({"320 * 240", "640 * 480"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdBitRate)),
            Texts({"16/8kbit", "32/16kbit", "48/24kbit", "64/32kbit", "80/40kbit", "96/48kbit", "112/56kbit",
                   "128/64kbit", "160/80kbit", "192/96kbit", "224/112kbit", "256/128kbit", "320/160kbit"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdAudioRate)), Texts({"22.05kHz", "44.10kHz"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdQuality)),
            Texts({"100%", "95%", "90%", "85%", "80%", "75%", "70%", "65%", "60%", "55%", "50%", "45%", "40%", "35%",
                   "30%", "25%", "20%", "15%", "10%", "5%"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdPlaybackMode)), Texts({"フレーム同期", "時間同期"}));
  EXPECT_EQ(Entries(*Control<QComboBox>(dialog, kIdOriginalFrame)), Texts({"自動判別", "30FPS", "24FPS", "15FPS"}));

  // The defaults, shown and held.
  EXPECT_EQ(Control<QComboBox>(dialog, kIdBitRate)->currentText(), Utf8("64/32kbit"));
  EXPECT_EQ(Control<QComboBox>(dialog, kIdQuality)->currentText(), Utf8("50%"));
  EXPECT_EQ(Control<QComboBox>(dialog, kIdAudioRate)->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(dialog, kIdFrameCount)->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(dialog, kIdPictureSize)->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(dialog, kIdPlaybackMode)->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(dialog, kIdOriginalFrame)->currentIndex(), 0);
  EXPECT_TRUE(Control<QCheckBox>(dialog, kIdStereo)->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(dialog, kIdForceDirectShow)->isChecked());
  EXPECT_TRUE(Control<QRadioButton>(dialog, kIdEncoderMp3)->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(dialog, kIdEncoderOgg)->isChecked());
  EXPECT_FALSE(Control<QComboBox>(dialog, kIdPictureSize)->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(dialog, kIdStart)->isEnabled());
  const DialogSettings& settings = dialog.Settings();
  EXPECT_TRUE(settings.sourcePath.empty());
  EXPECT_EQ(settings.audioBitRateIndex, 3);
  EXPECT_EQ(settings.audioRateIndex, 0);
  EXPECT_EQ(settings.stereoFlag, 1);
  EXPECT_EQ(settings.qualityLevelIndex, 10);
  EXPECT_EQ(settings.outputFolder, std::filesystem::current_path().string());

  const auto* timer = dialog.findChild<QTimer*>(kTimerName);
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 100);
}

TEST(ReelpackDlgTest, StartWithoutASourceDoesNothing) {
  WatchedDialog dialog;
  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  EXPECT_FALSE(dialog.lastSettings.has_value());
  EXPECT_EQ(dialog.CurrentJob(), nullptr);
  EXPECT_TRUE(Control<QPushButton>(dialog, kIdStart)->isEnabled());
  EXPECT_TRUE(LabelText(dialog, kIdProgress).isEmpty());
}

TEST(ReelpackDlgTest, AChosenPathSetsTheSourceAndItsKind) {
  WatchedDialog dialog;
  struct Case {
    const char* path;
    int32_t kind;
  };
  for (const Case& c : {Case{"/clips/RUN.MJ", 1}, Case{"/clips/run.mjx", 0}, Case{"/clips/run", 0},
                        Case{"/clips/run.mj", 1}, Case{"/clips/run.avi", 0}}) {
    dialog.ChooseSource(QString::fromUtf8(c.path));
    EXPECT_EQ(dialog.Settings().sourcePath, c.path);
    EXPECT_EQ(dialog.Settings().sourceKind, c.kind) << c.path;
    EXPECT_EQ(Control<CWinEdit>(dialog, kIdSourcePath)->text(), QString::fromUtf8(c.path));
  }
}

TEST(ReelpackDlgTest, ADroppedFileBecomesTheSourceAsWithBrowse) {
  test::ScratchFolder folder("front-drop");
  folder.WriteFile("Clip.MJ", "not really a clip");
  folder.WriteFile("clip.avi", "not really a clip");
  WatchedDialog dialog;
  auto* edit = Control<CWinEdit>(dialog, kIdSourcePath);
  EXPECT_FALSE(edit->DroppedMark());

  ASSERT_TRUE(test::DropFile(dialog, QString::fromStdString(folder.File("Clip.MJ"))));
  EXPECT_EQ(dialog.Settings().sourcePath, folder.File("Clip.MJ"));
  EXPECT_EQ(dialog.Settings().sourceKind, 1);
  EXPECT_EQ(edit->text(), QString::fromStdString(folder.File("Clip.MJ")));
  EXPECT_TRUE(edit->DroppedMark());

  ASSERT_TRUE(test::DropFile(dialog, QString::fromStdString(folder.File("clip.avi"))));
  EXPECT_EQ(dialog.Settings().sourcePath, folder.File("clip.avi"));
  EXPECT_EQ(dialog.Settings().sourceKind, 0);

  // A folder or a file that is not there is refused while dragged and when dropped.
  EXPECT_TRUE(test::AcceptsDrag(dialog, QString::fromStdString(folder.File("clip.avi"))));
  EXPECT_FALSE(test::AcceptsDrag(dialog, QString::fromStdString(folder.Path().string())));
  EXPECT_FALSE(test::DropFile(dialog, QString::fromStdString(folder.Path().string())));
  EXPECT_FALSE(test::DropFile(dialog, QString::fromStdString(folder.File("gone.avi"))));
  EXPECT_EQ(dialog.Settings().sourcePath, folder.File("clip.avi"));
}

// Answers the open-file dialog that Browse shows, once it is up: with `file`, or a cancel when
// `file` is empty. The filter labels it shows (the selected one first) go into `labels`, and the
// names that the last filter lets through, of those in `names`, into `listed`.
void AnswerFileDialog(const QString& file, QStringList& labels, const QStringList& names = {},
                      QStringList* listed = nullptr) {
  QTimer::singleShot(0, [file, &labels, names, listed] {
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (chooser == nullptr) return;
    auto* types = chooser->findChild<QComboBox*>("fileTypeCombo");
    auto* model = chooser->findChild<QFileSystemModel*>();
    if (types == nullptr || model == nullptr) return;
    labels = {types->currentText()};
    for (int i = 0; i < types->count(); ++i) labels.append(types->itemText(i));
    if (listed != nullptr) {
      const QString chosen = chooser->selectedNameFilter();
      chooser->selectNameFilter(chooser->nameFilters().last());
      for (const QString& name : names) {
        if (QDir::match(model->nameFilters(), name)) listed->append(name);
      }
      chooser->selectNameFilter(chosen);
    }
    if (file.isEmpty()) {
      chooser->reject();
      return;
    }
    chooser->selectFile(file);
    static_cast<QDialog*>(chooser)->accept();  // public in QDialog
  });
}

TEST(ReelpackDlgTest, BrowseOffersTheThreeFiltersAndSetsTheChosenFile) {
  test::ScratchFolder folder("front-browse");
  folder.WriteFile("walk.MJ", "not really a clip");
  WatchedDialog dialog;
  QStringList labels;
  QStringList listed;
  // "all file (*.*)" lists every file, those without an extension too.
  const QStringList names{"walk.MJ", "clip.avi", "recording"};
  AnswerFileDialog(QString::fromStdString(folder.File("walk.MJ")), labels, names, &listed);
  QTest::mouseClick(Control<QPushButton>(dialog, kIdBrowse), Qt::LeftButton);
  EXPECT_EQ(labels, (QStringList{"avi file (*.avi)", "avi file (*.avi)", "mj file (*.mj)", "all file (*.*)"}));
  EXPECT_EQ(listed, names);
  EXPECT_EQ(dialog.Settings().sourcePath, folder.File("walk.MJ"));
  EXPECT_EQ(dialog.Settings().sourceKind, 1);

  // A cancel changes nothing.
  AnswerFileDialog(QString(), labels);
  QTest::mouseClick(Control<QPushButton>(dialog, kIdBrowse), Qt::LeftButton);
  EXPECT_EQ(dialog.Settings().sourcePath, folder.File("walk.MJ"));
  EXPECT_EQ(Control<CWinEdit>(dialog, kIdSourcePath)->text(), QString::fromStdString(folder.File("walk.MJ")));
}

TEST(ReelpackDlgTest, StartReadsEveryControlAndTheRadioButtons) {
  test::ScratchFolder output("front-output");
  test::ScratchFolder elsewhere("front-elsewhere");
  const test::CurrentFolder current(output.Path());
  WatchedDialog dialog;
  // Output goes to the folder that was current when the dialog opened, wherever we are later.
  const test::CurrentFolder moved(elsewhere.Path());
  dialog.ChooseSource(QStringLiteral("/nowhere/clip.avi"));
  Control<QComboBox>(dialog, kIdFrameCount)->setCurrentIndex(2);
  Control<QComboBox>(dialog, kIdBitRate)->setCurrentIndex(12);
  Control<QComboBox>(dialog, kIdAudioRate)->setCurrentIndex(1);
  Control<QComboBox>(dialog, kIdQuality)->setCurrentIndex(19);
  Control<QComboBox>(dialog, kIdPlaybackMode)->setCurrentIndex(1);
  Control<QComboBox>(dialog, kIdOriginalFrame)->setCurrentIndex(3);
  QTest::mouseClick(Control<QCheckBox>(dialog, kIdStereo), Qt::LeftButton);
  QTest::mouseClick(Control<QCheckBox>(dialog, kIdForceDirectShow), Qt::LeftButton);
  QTest::mouseClick(Control<QRadioButton>(dialog, kIdEncoderOgg), Qt::LeftButton);
  EXPECT_FALSE(Control<QRadioButton>(dialog, kIdEncoderMp3)->isChecked());

  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  ASSERT_TRUE(dialog.lastSettings.has_value());
  const JobSettings& job = *dialog.lastSettings;
  EXPECT_EQ(job.sourcePath, "/nowhere/clip.avi");
  EXPECT_EQ(job.sourceKind, SourceKind::kVideoFile);
  EXPECT_EQ(job.outputFolder, output.Path().string());
  EXPECT_EQ(job.frameRateChoice, FrameRateChoice::kLowest);
  EXPECT_EQ(job.pictureSizeChoice, PictureSizeChoice::k320x240);
  EXPECT_EQ(job.audioBitRateIndex, 12);
  EXPECT_EQ(job.audioRate, AudioRate::k44100);
  EXPECT_EQ(job.channels, Channels::kMono);
  EXPECT_EQ(job.pictureQuality, 19);
  EXPECT_TRUE(job.forceDirectShow);
  EXPECT_EQ(job.playbackMode, PlaybackMode::kTimeSync);
  EXPECT_EQ(job.frameRateOverride, FrameRateOverride::k15);
  EXPECT_EQ(job.encoderChoice, AudioEncoder::kOgg);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.CurrentJob() == nullptr; }, kCollectTimeoutMs));

  // The encoder is read again at the next Start; a second click on a box flips it back.
  QTest::mouseClick(Control<QRadioButton>(dialog, kIdEncoderMp3), Qt::LeftButton);
  QTest::mouseClick(Control<QCheckBox>(dialog, kIdStereo), Qt::LeftButton);
  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  EXPECT_EQ(dialog.lastSettings->encoderChoice, AudioEncoder::kMp3);
  EXPECT_EQ(dialog.lastSettings->channels, Channels::kStereo);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.CurrentJob() == nullptr; }, kCollectTimeoutMs));
}

TEST(ReelpackDlgTest, AJobThatFailsAtOnceIsCollectedAndItsErrorShown) {
  WatchedDialog dialog;
  dialog.ChooseSource(QStringLiteral("/nowhere/missing.avi"));
  auto* start = Control<QPushButton>(dialog, kIdStart);
  QTest::mouseClick(start, Qt::LeftButton);
  ASSERT_NE(dialog.CurrentJob(), nullptr);
  EXPECT_FALSE(start->isEnabled());
  // A second Start while the job runs cannot make another.
  const CWavFileMake* first = dialog.lastJob;
  start->click();
  EXPECT_EQ(dialog.lastJob, first);

  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.CurrentJob() == nullptr; }, kCollectTimeoutMs));
  EXPECT_TRUE(start->isEnabled());
  EXPECT_TRUE(LabelText(dialog, kIdProgress).startsWith(Utf8("変換エラー：")));
  EXPECT_TRUE(Control<QLabel>(dialog, kIdProgress)->toolTip().contains(QStringLiteral("/nowhere/missing.avi")));
  EXPECT_TRUE(LabelText(dialog, kIdFrameRateText).isEmpty());
}

TEST(ReelpackDlgTest, AThreadThatCannotStartIsReportedAndStartStaysEnabled) {
  WatchedDialog dialog;
  dialog.startEarly = true;  // the dialog's own start then finds the thread taken
  dialog.ChooseSource(QStringLiteral("/nowhere/missing.avi"));
  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  EXPECT_NE(dialog.lastSettings, std::nullopt);
  EXPECT_EQ(dialog.CurrentJob(), nullptr);
  EXPECT_TRUE(Control<QPushButton>(dialog, kIdStart)->isEnabled());
  EXPECT_EQ(LabelText(dialog, kIdProgress), Utf8("変換を開始できません（スレッドを作成できません）"));
}

TEST(ReelpackDlgTest, EnterAndEscapeCloseTheDialogUnlessAButtonHasTheFocus) {
  {
    WatchedDialog dialog;
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
  for (const int id : {kIdFrameCount, kIdSourcePath, kIdStereo, kIdEncoderOgg}) {
    WatchedDialog dialog;
    dialog.show();
    QWidget* control = Control<QWidget>(dialog, id);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible()) << id;
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << id;
  }
  {
    // Enter on a focused button presses it: Start without a source does nothing, so the dialog stays.
    WatchedDialog dialog;
    dialog.show();
    auto* start = Control<QPushButton>(dialog, kIdStart);
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
  }
}

}  // namespace
}  // namespace reel
