// A job ends with its finished flag set, a failure reported and nothing of its output left behind,
// whatever is thrown inside it: a thread of the frame loop that cannot be started, an exception
// from a library, anything.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <system_error>

#include "converter/engine/conversion_job.h"
#include "job_test_support.h"
#include "mj_test_files.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/qrx_movie_checks.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

// Throws what `thrower` throws at the n-th stop check (1-based); the job checks for a stop between
// frames and between its audio steps, so any point of a job can be reached. 0 never throws and
// only counts.
class FailingJob : public CWavFileMake {
 public:
  FailingJob(JobSettings settings, uint32_t failAt, void (*thrower)())
      : CWavFileMake(std::move(settings)), failAt_(failAt), thrower_(thrower) {}
  ~FailingJob() override { JoinThread(); }

  void CheckKilled() const override {
    if (++checks_ == failAt_) thrower_();
    CWavFileMake::CheckKilled();
  }
  uint32_t Checks() const { return checks_.load(); }

 private:
  uint32_t failAt_;
  void (*thrower_)();
  mutable std::atomic<uint32_t> checks_{0};
};

// Threads started on the job's thread cannot get a stack: the frame loop's threads fail to start
// (std::system_error), as they do when the address space is exhausted.
class NoThreadsJob : public CWavFileMake {
 public:
  using CWavFileMake::CWavFileMake;
  ~NoThreadsJob() override {
    JoinThread();
    if (!changed_) return;
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }
  void OnThreadEnter() override {
    pthread_getattr_default_np(&saved_);
    changed_ = true;
    pthread_attr_t impossible;
    pthread_attr_init(&impossible);
    pthread_attr_setstacksize(&impossible, std::size_t{1} << 46);
    pthread_setattr_default_np(&impossible);
    pthread_attr_destroy(&impossible);
  }

 private:
  pthread_attr_t saved_{};
  bool changed_ = false;  // written on the job's thread, read after it has been joined
};

// Runs the job and waits for its thread; the flag must be set by the time the thread has ended.
JobReport RunToEnd(CWavFileMake& job) {
  CThreadCtrl(&job).Start();
  CThreadCtrl control(&job);
  EXPECT_EQ(control.Wait(120'000), 1) << "the job's thread did not end";
  EXPECT_EQ(job.finished.load(), 1) << "the job ended without setting its finished flag";
  return job.finished.load() == 1 ? job.Report() : JobReport();
}

class JobFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    // Raw pictures: the AVI layer's decoder starts no threads of its own.
    source_ = folder_.File("clip.avi");
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=160x120:rate=30 -f lavfi -i sine=duration=1 "
                                "-frames:v 30 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '" + source_ + "'"));
  }

  // Only the source is left in the folder.
  void ExpectNothingWritten(const JobReport& report) {
    EXPECT_EQ(report.status, JobStatus::kFailed);
    EXPECT_NE(report.error.find(source_), std::string::npos) << report.error;
    EXPECT_TRUE(report.moviePath.empty());
    EXPECT_TRUE(report.audioPath.empty());
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"clip.avi"});
  }

  test::ScratchFolder folder_;
  std::string source_;
};

TEST_F(JobFailureTest, AnyExceptionEndsTheJobWithAFailureAndNoOutput) {
  FailingJob counting(test::SettingsFor(source_, folder_.Path().string()), 0, [] {});
  ASSERT_EQ(RunToEnd(counting).status, JobStatus::kSucceeded);
  const uint32_t checks = counting.Checks();
  ASSERT_GE(checks, 4u);
  std::filesystem::remove(folder_.File("clip.qrx"));
  std::filesystem::remove(folder_.File("clip.mp3"));

  void (*const throwers[])() = {
      [] { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); },
      [] { throw std::runtime_error("library failure"); },
      [] { throw 7; },
  };
  // During the frames (the frame pipeline running), and at the last check, when the movie is
  // complete and the companion file not yet written.
  for (const uint32_t failAt : {2u, checks / 2, checks}) {
    for (auto* thrower : throwers) {
      FailingJob job(test::SettingsFor(source_, folder_.Path().string()), failAt, thrower);
      const JobReport report = RunToEnd(job);
      EXPECT_EQ(job.ExitCode(), 1u);
      SCOPED_TRACE("failing at check " + std::to_string(failAt));
      ExpectNothingWritten(report);
    }
  }
}

// Files of the same names from an earlier conversion stay whole until a new job has written all
// of its own: a job stopped anywhere, even between its movie and its companion, leaves them as
// they were.
TEST_F(JobFailureTest, AJobThatDoesNotFinishKeepsOlderFilesOfItsNames) {
  FailingJob counting(test::SettingsFor(source_, folder_.Path().string()), 0, [] {});
  ASSERT_EQ(RunToEnd(counting).status, JobStatus::kSucceeded);
  const uint32_t checks = counting.Checks();
  const auto movie = test::ReadAllBytes(folder_.File("clip.qrx"));
  const auto sound = test::ReadAllBytes(folder_.File("clip.mp3"));
  for (uint32_t failAt = 1; failAt <= checks; ++failAt) {
    SCOPED_TRACE("stopped at check " + std::to_string(failAt));
    FailingJob job(test::SettingsFor(source_, folder_.Path().string()), failAt, [] { throw CExKilledByCtrl(); });
    job.SetFrameCoders(0);
    EXPECT_EQ(RunToEnd(job).status, JobStatus::kStopped);
    EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.qrx")), movie);
    EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.mp3")), sound);
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"clip.avi", "clip.mp3", "clip.qrx"}));
  }
}

// A stop that comes while only the sound is still being encoded (after the frame loop, or beside
// it) ends the job at once, with no file left behind, for an AVI and a ".mj" source.
TEST_F(JobFailureTest, AStopWhileTheSoundIsEncodedLeavesNoFilesBehind) {
  const std::string avi = folder_.File("talk.avi");
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i sine=sample_rate=44100:duration=240 "
                                  "-frames:v 2 -c:v mjpeg -c:a pcm_s16le -ac 2 '" + avi + "'"));
  test::MjClip clip;  // two chunks of two minutes' sound each
  clip.sampleRate = 44100;
  clip.chunks = 2;
  clip.soundBytes = {120 * 44100 * 4};
  const std::string mj = folder_.File("talk.mj");
  ASSERT_TRUE(test::WriteMj(mj, clip));
  const auto before = folder_.Names();
  for (const std::string& source : {avi, mj}) {
    for (const unsigned coders : {0u, 2u}) {
      SCOPED_TRACE(source + ", " + std::to_string(coders) + " coders");
      uint32_t exitCode = 0;
      const JobReport report = test::RunJob(test::SettingsFor(source, folder_.Path().string()), 1, &exitCode, coders);
      EXPECT_EQ(report.status, JobStatus::kStopped);
      EXPECT_EQ(folder_.Names(), before);
    }
  }
}

TEST_F(JobFailureTest, AFrameLoopThatCannotStartItsThreadsFailsTheJob) {
  NoThreadsJob job(test::SettingsFor(source_, folder_.Path().string()));
  job.SetFrameCoders(2);
  const JobReport report = RunToEnd(job);
  ExpectNothingWritten(report);
}

}  // namespace
}  // namespace reel
