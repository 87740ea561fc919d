// Several sources at once (--jobs): each job's files are byte for byte those of converting its
// source alone, a failing job names its file and does not stop the others, and the exit status
// tells that one failed.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli_process.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class CliBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  test::ScratchFolder folder_;
  test::ScratchFolder logs_;
};

TEST_F(CliBatchTest, EachJobsFilesAreThoseOfConvertingItAlone) {
  ASSERT_TRUE(test::MakeClip(folder_.File("one.avi"), 45, "320x240", "testsrc"));
  ASSERT_TRUE(test::MakeClip(folder_.File("two.avi"), 30, "352x240", "testsrc2"));
  ASSERT_TRUE(test::MakeClip(folder_.File("three.avi"), 40, "160x120", "smptebars"));
  std::filesystem::create_directory(folder_.File("alone"));
  std::filesystem::create_directory(folder_.File("batch"));
  const std::vector<std::string> names{"one", "two", "three"};
  for (const std::string& name : names) {
    const test::CliResult alone = test::RunCli({"-q", "70", "-o", "alone", name + ".avi"}, folder_.Path(), logs_.Path());
    ASSERT_EQ(alone.status, 0) << alone.err;
  }
  const test::CliResult batch = test::RunCli({"-q", "70", "--jobs", "2", "-o", "batch", "one.avi", "missing.avi",
                                              "two.avi", "three.avi"},
                                             folder_.Path(), logs_.Path());
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.err.find("missing.avi: cannot open the file"), std::string::npos) << batch.err;
  EXPECT_NE(batch.err.find("reelforge-cli: 1 of 4 sources failed: missing.avi\n"), std::string::npos) << batch.err;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_NE(batch.out.find(name + ".avi: done"), std::string::npos) << batch.out;
    EXPECT_NE(batch.err.find(name + ".avi: 変換データ数："), std::string::npos);  // its progress lines
    for (const char* extension : {".qrx", ".mp3"}) {
      const auto made = test::ReadAllBytes(folder_.File("batch/" + name + extension));
      ASSERT_FALSE(made.empty());
      EXPECT_EQ(made, test::ReadAllBytes(folder_.File("alone/" + name + extension))) << extension;
    }
  }
  EXPECT_EQ(test::HiddenNames(folder_.File("batch")), std::vector<std::string>{});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.File("batch")), {}), 6);
}

// Sources with the same output names are converted in the order given, as one after another
// would: the last one's files are kept.
TEST_F(CliBatchTest, SourcesWithTheSameOutputNamesKeepTheirOrder) {
  std::filesystem::create_directories(folder_.File("a"));
  std::filesystem::create_directories(folder_.File("b"));
  ASSERT_TRUE(test::MakeClip(folder_.File("a/clip.avi"), 60, "320x240", "testsrc"));
  ASSERT_TRUE(test::MakeClip(folder_.File("b/clip.avi"), 15, "160x120", "smptebars"));
  std::filesystem::create_directory(folder_.File("alone"));
  ASSERT_EQ(test::RunCli({"-o", "alone", "b/clip.avi"}, folder_.Path(), logs_.Path()).status, 0);
  const test::CliResult batch = test::RunCli({"-j", "2", "a/clip.avi", "b/clip.avi"}, folder_.Path(), logs_.Path());
  ASSERT_EQ(batch.status, 0) << batch.err;
  EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.qrx")), test::ReadAllBytes(folder_.File("alone/clip.qrx")));
  EXPECT_EQ(test::ReadAllBytes(folder_.File("clip.mp3")), test::ReadAllBytes(folder_.File("alone/clip.mp3")));
}

// A job process killed outright (as the system's out-of-memory killer would) cannot clean up: the
// run reports it, removes its temporary files and lets the other job finish.
TEST_F(CliBatchTest, AJobProcessKilledOutrightIsReportedAndItsTemporaryFilesRemoved) {
  ASSERT_TRUE(test::MakeClip(folder_.File("a.avi"), 300, "320x240", "testsrc"));
  ASSERT_TRUE(test::MakeClip(folder_.File("b.avi"), 300, "320x240", "testsrc2"));
  test::CliProcess process({"-j", "2", "a.avi", "b.avi"}, folder_.Path(), logs_.Path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (test::HiddenNames(folder_.Path()).size() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream childrenFile("/proc/" + std::to_string(process.Pid()) + "/task/" + std::to_string(process.Pid()) +
                             "/children");
  pid_t child = 0;
  ASSERT_TRUE(childrenFile >> child) << "no job process found";
  kill(child, SIGKILL);
  const test::CliResult result = process.Finish();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(".avi: the job's process ended by signal 9"), std::string::npos) << result.err;
  EXPECT_EQ(test::HiddenNames(folder_.Path()), std::vector<std::string>{});
  const bool a = std::filesystem::exists(folder_.File("a.qrx"));
  const bool b = std::filesystem::exists(folder_.File("b.qrx"));
  EXPECT_NE(a, b) << "the other job runs to its end";
  EXPECT_EQ(std::filesystem::exists(folder_.File("a.mp3")), a);
  EXPECT_EQ(std::filesystem::exists(folder_.File("b.mp3")), b);
}

TEST_F(CliBatchTest, JobCountUsageErrors) {
  for (const char* bad : {"0", "-2", "many", "1.5"}) {
    const test::CliResult result = test::RunCli({"--jobs", bad, "x.avi", "y.avi"}, folder_.Path(), logs_.Path());
    EXPECT_EQ(result.status, 2) << bad;
    EXPECT_NE(result.err.find("--jobs: expected a number of jobs, 1 or more"), std::string::npos) << result.err;
  }
  const test::CliResult closed = test::RunCli({"--progress-fd", "9", "x.avi"}, folder_.Path(), logs_.Path());
  EXPECT_EQ(closed.status, 2);
  EXPECT_NE(closed.err.find("descriptor 9 is not open"), std::string::npos) << closed.err;
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{});
}

}  // namespace
}  // namespace reel
