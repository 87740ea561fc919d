// SIGINT and SIGTERM at random moments of a conversion, one source in this process or two in job
// processes of their own, signalled alone or as a terminal signals the whole process group: every
// source ends with both its files complete (the same bytes as an uninterrupted run) or with
// neither, and no temporary file is ever left.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "cli_process.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

using Clock = std::chrono::steady_clock;

class CliInterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  // The folder holds, beside the sources, either both files of `name` as the reference has them,
  // or neither; true when both.
  bool Complete(const std::string& name) {
    const bool movie = std::filesystem::exists(folder_.File(name + ".qrx"));
    const bool sound = std::filesystem::exists(folder_.File(name + ".mp3"));
    EXPECT_EQ(movie, sound) << name;
    if (movie) {
      EXPECT_EQ(test::ReadAllBytes(folder_.File(name + ".qrx")), reference_[name + ".qrx"]) << name;
    }
    if (sound) {
      EXPECT_EQ(test::ReadAllBytes(folder_.File(name + ".mp3")), reference_[name + ".mp3"]) << name;
    }
    return movie && sound;
  }

  test::ScratchFolder folder_;
  test::ScratchFolder logs_;
  std::map<std::string, std::vector<uint8_t>> reference_;
};

TEST_F(CliInterruptTest, RandomSignalsLeaveCompleteFilesOrNone) {
  ASSERT_TRUE(test::MakeClip(folder_.File("a.avi"), 60, "320x240", "testsrc"));
  ASSERT_TRUE(test::MakeClip(folder_.File("b.avi"), 45, "320x240", "testsrc2"));
  const std::filesystem::path reference = folder_.File("reference");
  std::filesystem::create_directory(reference);
  const std::vector<std::vector<std::string>> modes{{"a.avi"}, {"--jobs", "2", "a.avi", "b.avi"}};
  std::vector<double> seconds;
  for (const auto& mode : modes) {
    std::vector<std::string> arguments{"-o", "reference"};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    const auto start = Clock::now();
    ASSERT_EQ(test::RunCli(arguments, folder_.Path(), logs_.Path()).status, 0);
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  for (const char* name : {"a.qrx", "a.mp3", "b.qrx", "b.mp3"}) reference_[name] = test::ReadAllBytes(reference / name);
  std::filesystem::remove_all(reference);

  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  constexpr int kRuns = 40;
  int stopped = 0;
  int completed = 0;
  for (int run = 0; run < kRuns; ++run) {
    const bool batch = run % 2 == 1;
    const int signal = run % 4 < 2 ? SIGINT : SIGTERM;
    const bool wholeGroup = batch && run % 8 >= 4;
    std::uniform_real_distribution<double> moment(0.0, seconds[batch] * 1.2);
    const double delay = moment(random);
    SCOPED_TRACE("run " + std::to_string(run) + ": signal " + std::to_string(signal) + " after " +
                 std::to_string(delay) + " s" + (batch ? ", two jobs" : "") + (wholeGroup ? ", whole group" : ""));
    test::CliStart start;
    start.ownProcessGroup = true;
    test::CliProcess process(modes[batch], folder_.Path(), logs_.Path(), start);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    kill(wholeGroup ? -process.Pid() : process.Pid(), signal);
    const auto signalled = Clock::now();
    const test::CliResult result = process.Finish();
    // A stop takes effect at once; the bound is generous for a loaded machine.
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - signalled).count(), 5.0);

    EXPECT_EQ(test::HiddenNames(folder_.Path()), std::vector<std::string>{});
    bool all = Complete("a");
    if (batch) all = Complete("b") && all;
    if (result.signal != 0) {
      // Only a signal that came while the program was still starting, before it took the signals
      // over, ends it; then nothing was written yet.
      EXPECT_EQ(result.signal, signal);
      EXPECT_FALSE(std::filesystem::exists(folder_.File("a.qrx")));
    } else {
      EXPECT_TRUE(result.status == 0 || result.status == 128 + signal) << result.status << "\n" << result.err;
      if (result.status == 0) {
      EXPECT_TRUE(all) << "a run that succeeded must have every file";
    }
      if (!all) {
      EXPECT_NE(result.err.find("stopped"), std::string::npos) << result.err;
    }
    }
    (all ? completed : stopped) += 1;
    for (const char* name : {"a.qrx", "a.mp3", "b.qrx", "b.mp3"}) std::filesystem::remove(folder_.File(name));
    if (HasFailure()) break;
  }
  // The moments spread over the whole run: some runs were stopped, and the signals were random.
  EXPECT_GT(stopped, 0);
  std::cout << stopped << " runs stopped, " << completed << " completed\n";
}

}  // namespace
}  // namespace reel
