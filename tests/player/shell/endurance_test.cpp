// The endurance run, shortened: the player switches among short movies for 25 seconds; its
// resident memory stays flat (and under the leak checker of a sanitizer build nothing leaks).
#include <gtest/gtest.h>

#include "bench/player/endurance_run.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(PlayerEndurance, SwitchingMoviesForHalfAMinuteKeepsMemoryFlat) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  test::ScratchFolder folder;
  EnduranceOptions options;
  options.folder = folder.Slash();
  options.duration = std::chrono::seconds(25);
  options.switchEvery = std::chrono::milliseconds(1500);
  options.movieSeconds = 1;
  options.width = 176;
  options.height = 144;
  options.withSound = test::FfmpegInstalled();
  options.pluginPath = REEL_LODESTAR_PATH;
  const Result<EnduranceReport> report = RunEndurance(options);
  ASSERT_TRUE(report) << report.error().message;
  EXPECT_GE(report->switches, 14u);
  EXPECT_GT(report->moviesOpened, report->switches);  // each movie also ended and started again
  EXPECT_GT(report->framesShown, 200u);
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer holds freed memory back for a while
  EXPECT_LE(report->endRssBytes, report->startRssBytes + 2 * 1024 * 1024)
      << "start " << report->startRssBytes << " end " << report->endRssBytes;
#endif
}

}  // namespace
}  // namespace reel
