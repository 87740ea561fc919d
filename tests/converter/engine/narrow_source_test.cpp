// Sources far narrower than tall: the fit that follows the source's shape (".mj" and the media
// framework) enlarges them to the box width, so the movie could be taller than the player shows.
// Such a job is refused before anything is decoded, naming the source's size and the movie's; a
// movie just inside the limit is made. The AVI layer's fit never leaves the box.
#include <gtest/gtest.h>

#include <filesystem>

#include "job_test_support.h"
#include "mj_test_files.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

struct NarrowCase {
  const char* source;  // .mj files are written here, the others by the ffmpeg tool
  uint16_t width;
  uint16_t height;
  const char* movieSize;  // "W x H"
  bool refused;
};

const NarrowCase kCases[] = {
    {"clip.mkv", 40, 300, "320 x 2400", true},  {"clip.mkv", 16, 400, "320 x 8000", true},
    {"clip.mkv", 40, 256, "320 x 2048", false}, {"clip.mj", 40, 300, "320 x 2400", true},
    {"clip.mj", 16, 400, "320 x 8000", true},   {"clip.mj", 40, 256, "320 x 2048", false},
    {"clip.avi", 40, 300, "32 x 240", false},   {"clip.avi", 16, 400, "9 x 240", false},
};

std::string Size(uint32_t width, uint32_t height) { return std::to_string(width) + " x " + std::to_string(height); }

TEST(NarrowSourceTest, AMovieThePlayerCannotShowIsRefusedBeforeDecodingOnEveryPath) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed; run scripts/install-deps.sh";
  for (const NarrowCase& c : kCases) {
    const std::string sourceSize = Size(c.width, c.height);
    SCOPED_TRACE(std::string(c.source) + " of " + sourceSize);
    test::ScratchFolder folder("narrow");
    const std::string path = folder.File(c.source);
    if (std::string_view(c.source).ends_with(".mj")) {
      test::MjClip clip;
      clip.width = c.width;
      clip.height = c.height;
      clip.chunks = 2;
      ASSERT_TRUE(test::WriteMj(path, clip));
    } else {
      ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=" + std::to_string(c.width) + "x" +
                                      std::to_string(c.height) + ":rate=5 -t 0.4 -c:v mjpeg " + test::ShellQuoted(std::string_view(path))));
    }
    const JobReport report = test::RunJob(test::SettingsFor(path, folder.Path().string()));
    if (c.refused) {
      EXPECT_EQ(report.status, JobStatus::kFailed);
      EXPECT_NE(report.error.find(path), std::string::npos) << report.error;
      EXPECT_NE(report.error.find("its " + sourceSize + " picture would make a movie of " + c.movieSize),
                std::string::npos) << report.error;
      EXPECT_FALSE(std::filesystem::exists(folder.File("clip.qrx")));
      continue;
    }
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    EXPECT_EQ(Size(report.width, report.height), c.movieSize);
  }
}

}  // namespace
}  // namespace reel
