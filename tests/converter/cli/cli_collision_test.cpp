// Two reelforge-cli runs writing the same names into one folder at the same moment: whichever
// finishes last, the movie and its companion in the folder come from one job, never one of each,
// and nothing else is left. The two sources are of the same length but differ in picture and
// tone, so each file's bytes tell which job made it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(CliCollision, TwoJobsOnTheSameNamesLeaveOneJobsPair) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  test::ScratchFolder logs;
  const std::vector<std::string> jobs{"first", "second"};
  const char* const pictures[] = {"testsrc", "smptebars"};
  const char* const tones[] = {"440", "660"};
  std::vector<std::vector<uint8_t>> movies, sounds;
  for (std::size_t job = 0; job < jobs.size(); ++job) {
    std::filesystem::create_directories(folder.File(jobs[job]));
    ASSERT_TRUE(test::RunFfmpegTool(std::string("-f lavfi -i ") + pictures[job] + "=size=160x120:rate=15 -f lavfi -i sine=frequency=" +
                                    tones[job] + " -t 2 -c:v mjpeg -c:a pcm_s16le '" + folder.File(jobs[job] + "/clip.avi") + "'"));
    ASSERT_EQ(test::RunCli({"-o", jobs[job], jobs[job] + "/clip.avi"}, folder.Path(), logs.Path()).status, 0);
    movies.push_back(test::ReadAllBytes(folder.File(jobs[job] + "/clip.qrx")));
    sounds.push_back(test::ReadAllBytes(folder.File(jobs[job] + "/clip.mp3")));
  }
  ASSERT_NE(movies[0], movies[1]);
  ASSERT_NE(sounds[0], sounds[1]);
  std::filesystem::create_directory(folder.File("out"));

  constexpr int kRuns = 12;
  int lastWasSecond = 0;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    test::CliProcess one({"-o", "out", "first/clip.avi"}, folder.Path(), logs.Path());
    test::CliProcess two({"-o", "out", "second/clip.avi"}, folder.Path(), logs.Path());
    const test::CliResult first = one.Finish();
    const test::CliResult second = two.Finish();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(test::HiddenNames(folder.File("out")), std::vector<std::string>{});
    const auto movie = test::ReadAllBytes(folder.File("out/clip.qrx"));
    const auto sound = test::ReadAllBytes(folder.File("out/clip.mp3"));
    const bool fromFirst = movie == movies[0] && sound == sounds[0];
    const bool fromSecond = movie == movies[1] && sound == sounds[1];
    EXPECT_TRUE(fromFirst || fromSecond) << "the movie and the companion come from different jobs";
    lastWasSecond += fromSecond ? 1 : 0;
    if (HasFailure()) break;
  }
  RecordProperty("pairs from the second job", lastWasSecond);
}

}  // namespace
}  // namespace reel
