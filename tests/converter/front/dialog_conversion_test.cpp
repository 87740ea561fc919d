// Real conversions started from the dialog: the progress it shows, the job collected on the tick
// after it finishes, the same files as reelforge-cli makes, and a close or a stop signal in the
// middle that leaves nothing behind.
#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <set>
#include <thread>
#include <string_view>

#include "platform/process/stop_signals.h"
#include "converter/front/reelpack_app.h"
#include "front_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using test::Control;
using test::LabelText;

constexpr int kConversionTimeoutMs = 120'000;

class DialogConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  // An AVI of the test pattern with motion-JPEG pictures and a PCM tone.
  std::string MakeClip(const std::string& name, const std::string& size, int seconds) {
    const std::string path = sources_.File(name);
    EXPECT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=" + size + ":rate=30 -f lavfi -i sine=frequency=440:duration=" +
                                    std::to_string(seconds) + " -t " + std::to_string(seconds) +
                                    " -c:v mjpeg -c:a pcm_s16le -f avi '" + path + "'"));
    return path;
  }

  test::ScratchFolder sources_{"front-sources"};
  test::ScratchFolder output_{"front-output"};
};

// What the test saw at each timer tick, just after the dialog had handled it.
struct TickLog {
  std::set<QString> progressTexts;
  std::set<QString> rateTexts;
  int ticksFinishedButNotCollected = 0;
};

TEST_F(DialogConversionTest, ShowsProgressAndCollectsTheJobOnTheNextTick) {
  const std::string clip = MakeClip("clip.avi", "640x480", 8);
  const test::CurrentFolder current(output_.Path());
  test::WatchedDialog dialog;
  ASSERT_TRUE(test::DropFile(dialog, QString::fromStdString(clip)));

  TickLog log;
  QObject::connect(dialog.findChild<QTimer*>(kTimerName), &QTimer::timeout, [&] {
    const CWavFileMake* job = dialog.CurrentJob();
    if (job == nullptr) return;
    log.progressTexts.insert(LabelText(dialog, kIdProgress));
    log.rateTexts.insert(LabelText(dialog, kIdFrameRateText));
    // The job may finish between the dialog's look and ours; the next tick must collect it.
    if (job->finished.load() != 0) ++log.ticksFinishedButNotCollected;
  });

  auto* start = Control<QPushButton>(dialog, kIdStart);
  QTest::mouseClick(start, Qt::LeftButton);
  ASSERT_NE(dialog.CurrentJob(), nullptr);
  EXPECT_FALSE(start->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.CurrentJob() == nullptr; }, kConversionTimeoutMs));

  EXPECT_LE(log.ticksFinishedButNotCollected, 1);
  EXPECT_TRUE(start->isEnabled());
  const QRegularExpression progress(QString::fromUtf8("^変換データ数：(\\d+) / (\\d+)$"));
  bool sawCounting = false;
  for (const QString& text : log.progressTexts) {
    const auto match = progress.match(text);
    ASSERT_TRUE(match.hasMatch()) << text.toStdString();
    const int done = match.captured(1).toInt();
    const int total = match.captured(2).toInt();
    EXPECT_LE(done, total);
    if (total == 120 && done < total) sawCounting = true;  // 8 s at 15 frames per second
  }
  EXPECT_TRUE(sawCounting);
  // Only media-framework sources record their frame rate; AVI jobs leave it at 0.
  EXPECT_EQ(log.rateTexts, std::set<QString>{QStringLiteral("FPS(0)")});

  EXPECT_EQ(LabelText(dialog, kIdProgress), QString::fromUtf8("変換終了：clip.qrx"));
  EXPECT_TRUE(LabelText(dialog, kIdFrameRateText).isEmpty());
  EXPECT_EQ(output_.Names(), (std::vector<std::string>{"clip.mp3", "clip.qrx"}));
  EXPECT_EQ(test::ReadHeader(output_.File("clip.qrx")).frameCount, 120u);
  EXPECT_TRUE(test::Verified(output_.File("clip.qrx")));
}

TEST_F(DialogConversionTest, MakesTheSameFilesAsTheTerminalProgram) {
  const std::string clip = MakeClip("pattern.avi", "320x240", 2);
  const test::CurrentFolder current(output_.Path());
  test::WatchedDialog dialog;
  dialog.ChooseSource(QString::fromStdString(clip));
  Control<QComboBox>(dialog, kIdFrameCount)->setCurrentIndex(1);  // at most 30 fps
  Control<QComboBox>(dialog, kIdQuality)->setCurrentIndex(4);     // 80%
  Control<QComboBox>(dialog, kIdBitRate)->setCurrentIndex(5);     // 96/48kbit
  Control<QComboBox>(dialog, kIdAudioRate)->setCurrentIndex(1);   // 44.1 kHz
  QTest::mouseClick(Control<QCheckBox>(dialog, kIdStereo), Qt::LeftButton);
  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.CurrentJob() == nullptr; }, kConversionTimeoutMs));
  ASSERT_EQ(output_.Names(), (std::vector<std::string>{"pattern.mp3", "pattern.qrx"}));

  test::ScratchFolder cli("front-cli");
  const test::CommandResult run =
      test::RunCommand(test::ShellQuoted(std::string_view(REEL_CLI)) +
                       " --frame-rate max --quality 80 --bitrate 5 --rate 44.1 --mono --output-dir " +
                       test::ShellQuoted(cli.Path()) + " " + test::ShellQuoted(std::string_view(clip)));
  ASSERT_EQ(run.status, 0) << run.output;
  ASSERT_EQ(cli.Names(), (std::vector<std::string>{"pattern.mp3", "pattern.qrx"}));
  EXPECT_EQ(test::ReadHeader(cli.File("pattern.qrx")).frameCount, 60u);
  EXPECT_TRUE(output_.ReadFile("pattern.qrx") == cli.ReadFile("pattern.qrx"));
  EXPECT_TRUE(output_.ReadFile("pattern.mp3") == cli.ReadFile("pattern.mp3"));
}

TEST_F(DialogConversionTest, ClosingDuringAConversionStopsItAndLeavesNothingBehind) {
  const std::string clip = MakeClip("long.avi", "640x480", 20);
  const std::vector<uint8_t> sourceBytes = test::ReadAllBytes(clip);
  const test::CurrentFolder current(output_.Path());
  test::WatchedDialog dialog;
  dialog.show();
  dialog.ChooseSource(QString::fromStdString(clip));
  QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton);
  ASSERT_NE(dialog.lastJob, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.lastJob->framesDone.load() >= 5; }, kConversionTimeoutMs));
  ASSERT_EQ(dialog.lastJob->finished.load(), 0) << "the clip converted too fast to be closed in the middle";
  EXPECT_FALSE(output_.Names().empty());  // the job's files under their temporary names

  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.CurrentJob(), nullptr);
  EXPECT_TRUE(output_.Names().empty());
  EXPECT_TRUE(test::ReadAllBytes(clip) == sourceBytes);
}

// The stop signals blocked on this thread for a test, as the program blocks them on all of its.
class BlockedStopSignals {
 public:
  BlockedStopSignals() {
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous_);
  }
  ~BlockedStopSignals() {
    // A signal still pending would be delivered once unblocked: take it first.
    while (WaitForStopSignal(0) != 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  BlockedStopSignals(const BlockedStopSignals&) = delete;
  BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

 private:
  sigset_t previous_{};
};

TEST_F(DialogConversionTest, AStopSignalDuringAConversionStopsItAndLeavesNothingBehind) {
  const std::string clip = MakeClip("long.avi", "640x480", 20);
  const std::vector<uint8_t> sourceBytes = test::ReadAllBytes(clip);
  const test::CurrentFolder current(output_.Path());
  const BlockedStopSignals blocked;
  test::WatchedDialog dialog;
  dialog.ChooseSource(QString::fromStdString(clip));
  bool sent = false;
  int framesWhenSent = 0;
  QTimer::singleShot(0, &dialog, [&] { QTest::mouseClick(Control<QPushButton>(dialog, kIdStart), Qt::LeftButton); });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
    if (sent || dialog.lastJob == nullptr || dialog.lastJob->framesDone.load() < 5) return;
    sent = true;
    framesWhenSent = static_cast<int>(dialog.lastJob->framesDone.load());
    EXPECT_EQ(dialog.lastJob->finished.load(), 0) << "the clip converted too fast to be stopped in the middle";
    EXPECT_FALSE(output_.Names().empty());  // the job's files under their temporary names
    pthread_kill(pthread_self(), SIGTERM);
  });
  poll.start(20);

  EXPECT_EQ(RunDialog(dialog), ExitStatusForSignal(SIGTERM));
  EXPECT_TRUE(sent);
  EXPECT_GE(framesWhenSent, 5);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.CurrentJob(), nullptr);
  EXPECT_TRUE(output_.Names().empty());
  EXPECT_TRUE(test::ReadAllBytes(clip) == sourceBytes);
}

TEST_F(DialogConversionTest, AStopSignalAlsoClosesAWindowOpenOverTheDialog) {
  const BlockedStopSignals blocked;
  test::WatchedDialog dialog;
  QDialog chooser(&dialog);
  bool chooserClosed = false;
  QTimer::singleShot(0, &dialog, [&] {
    QTimer::singleShot(20, &chooser, [] { pthread_kill(pthread_self(), SIGINT); });
    chooser.exec();  // as the file chooser runs its own loop over the dialog
    chooserClosed = true;
  });
  EXPECT_EQ(RunDialog(dialog), ExitStatusForSignal(SIGINT));
  EXPECT_TRUE(chooserClosed);
}

// The program as a whole: the signal reaches no thread of Qt's that would let it kill the
// process, and the program ends with the conventional status.
TEST(ReelforgeProgram, EndsWithTheSignalsStatusOnSigterm) {
  const std::string program = REEL_DIALOG;
  char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments, environ), 0) << program;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the window is up and idle
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), ExitStatusForSignal(SIGTERM));
}

}  // namespace
}  // namespace reel
