// The ".mj" plan against known figures: its steps, the movie's timing and size, the outputs it
// refuses over the source, and the refusals made before anything is written.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "converter/engine/job_plan.h"
#include "job_test_support.h"
#include "mj_test_files.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

test::MjClip Clip(uint16_t width, uint16_t height, uint16_t rate, uint32_t chunks) {
  test::MjClip clip;
  clip.width = width;
  clip.height = height;
  clip.rateNumerator = rate;
  clip.chunks = chunks;
  return clip;
}

struct PlanCase {
  const char* name;
  test::MjClip clip;
  FrameRateChoice frameRate;
  PictureSizeChoice size;
  FrameTiming timing;  // expected
  PictureSize movieSize;
};

TEST(MjPlan, OpensIntoAMovieAndItsCompanion) {
  test::ScratchFolder folder;
  const PlanCase cases[] = {
      {"default", Clip(160, 120, 15, 30), FrameRateChoice::kStandard, PictureSizeChoice::k320x240, {15, 15, 100, 30}, {320, 240}},
      {"portrait at 30 fps, lowest rate", Clip(120, 160, 30, 31),
       FrameRateChoice::kLowest, PictureSizeChoice::k320x240, {30, 10, 300, 10}, {320, 426}},
      {"24 fps, highest rate, large box", Clip(160, 120, 24, 10), FrameRateChoice::kHighest,
       PictureSizeChoice::k640x480, {24, 24, 100, 10}, {640, 480}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File("clip.mj");
    ASSERT_TRUE(test::WriteMj(path, c.clip));
    JobSettings settings = test::SettingsFor(path, folder.Path().string());
    settings.frameRateChoice = c.frameRate;
    settings.pictureSizeChoice = c.size;
    Result<JobPlan> plan = OpenMjPlan(settings);
    ASSERT_TRUE(plan) << plan.error().message;
    EXPECT_EQ(plan->outputs, (std::vector<std::string>{".qrx", ".mp3"}));
    ASSERT_EQ(plan->steps.size(), 2u);
    const auto* movie = std::get_if<MovieStep>(&plan->steps[0]);
    ASSERT_NE(movie, nullptr);
    EXPECT_TRUE(std::holds_alternative<CompanionStep>(plan->steps[1]));
    EXPECT_EQ(movie->timing.sourceRate, c.timing.sourceRate);
    EXPECT_EQ(movie->timing.targetRate, c.timing.targetRate);
    EXPECT_EQ(movie->timing.step, c.timing.step);
    EXPECT_EQ(movie->timing.frameCount, c.timing.frameCount);
    ASSERT_TRUE(movie->size);
    EXPECT_EQ(*movie->size, c.movieSize);
    const Result<std::optional<BmpImage>> first = movie->picture(0);
    ASSERT_TRUE(first && *first);
    EXPECT_EQ((*first)->Width(), c.clip.width);
  }
}

TEST(MjPlan, RefusesBeforeAnythingIsWritten) {
  test::ScratchFolder folder;
  const std::pair<test::MjClip, ErrorKind> cases[] = {
      {Clip(160, 120, 0, 30), ErrorKind::kRefused},     // no frame rate
      {Clip(4, 480, 15, 30), ErrorKind::kUnsupported},  // 320 x 38,400 cannot be coded
  };
  for (const auto& [clip, kind] : cases) {
    const std::string path = folder.File("bad.mj");
    ASSERT_TRUE(test::WriteMj(path, clip));
    const Result<JobPlan> plan = OpenMjPlan(test::SettingsFor(path, folder.Path().string()));
    ASSERT_FALSE(plan);
    EXPECT_EQ(plan.kind(), kind) << plan.error().message;
  }
}

}  // namespace
}  // namespace reel
