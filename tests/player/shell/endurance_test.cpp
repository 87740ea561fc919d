// The endurance run, shortened: the player switches among short movies for 25 seconds; its
// resident memory stays flat (and under the leak checker of a sanitizer build nothing leaks).
// REEL_ENDURANCE_SECONDS makes it longer, for the full run under the sanitizers by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "bench/player/endurance_run.h"
#include "tests/support/external_tools.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

std::chrono::seconds EnduranceDuration() {
  const char* text = std::getenv("REEL_ENDURANCE_SECONDS");
  const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::seconds(seconds > 25 ? seconds : 25);
}

TEST(PlayerEndurance, SwitchingMoviesForHalfAMinuteKeepsMemoryFlat) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  test::ScratchFolder folder;
  EnduranceOptions options;
  options.folder = folder.Slash();
  options.duration = EnduranceDuration();
  options.switchEvery = std::chrono::milliseconds(1500);
  options.movieSeconds = 1;
  options.width = 176;
  options.height = 144;
  options.withSound = test::FfmpegInstalled();
  options.pluginPath = REEL_LODESTAR_PATH;
  const Result<EnduranceReport> report = RunEndurance(options);
  ASSERT_TRUE(report) << report.error().message;
  std::cout << "resident at the start " << report->startRssBytes / 1024 << " KiB, at the end "
            << report->endRssBytes / 1024 << " KiB, peak " << report->peakRssBytes / 1024 << " KiB; "
            << report->switches << " switches, " << report->moviesOpened << " movie starts, "
            << report->framesShown << " frames\n";
  EXPECT_GE(report->switches, 14u * (options.duration.count() / 25));
  EXPECT_GT(report->moviesOpened, report->switches);  // each movie also ended and started again
  EXPECT_GT(report->framesShown, 200u);
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer holds freed memory back for a while
  EXPECT_LE(report->endRssBytes, report->startRssBytes + 2 * 1024 * 1024)
      << "start " << report->startRssBytes << " end " << report->endRssBytes;
#endif
}

}  // namespace
}  // namespace reel
