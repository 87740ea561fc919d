// The frame-rate arithmetic and the box fits, on the worked examples.
#include "converter/engine/frame_timing.h"

#include <gtest/gtest.h>

namespace reel {
namespace {

struct RateCase {
  uint32_t scale, rate;
  int32_t choice;
  uint32_t length;
  uint32_t sourceRate, targetRate, step, frames;
};

class FrameRateArithmetic : public ::testing::TestWithParam<RateCase> {};

TEST_P(FrameRateArithmetic, GivesRateStepAndFrameCount) {
  const RateCase& c = GetParam();
  const uint32_t s = AviSourceRate(c.scale, c.rate);
  EXPECT_EQ(s, c.sourceRate);
  const auto timing = ComputeFrameTiming(s, c.length, static_cast<FrameRateChoice>(c.choice));
  ASSERT_TRUE(timing);
  EXPECT_EQ(timing->targetRate, c.targetRate);
  EXPECT_EQ(timing->step, c.step);
  EXPECT_EQ(timing->frameCount, c.frames);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, FrameRateArithmetic,
                         ::testing::Values(RateCase{1001, 30000, 0, 300, 30, 15, 200, 150},  // 29.97 fps
                                           RateCase{1001, 30000, 1, 300, 30, 30, 100, 300},
                                           RateCase{1001, 30000, 2, 300, 30, 10, 300, 100},
                                           RateCase{1, 25, 0, 250, 25, 12, 208, 120},
                                           RateCase{1, 25, 1, 250, 25, 25, 100, 250},
                                           RateCase{1, 25, 2, 250, 25, 8, 312, 80},
                                           RateCase{1, 15, 0, 45, 15, 15, 100, 45},
                                           RateCase{1, 15, 2, 45, 15, 5, 300, 15},
                                           RateCase{1, 16, 0, 48, 16, 8, 200, 24},
                                           RateCase{1, 11, 2, 33, 11, 3, 366, 9},
                                           RateCase{1, 11, 0, 33, 11, 11, 100, 33},
                                           RateCase{100, 2997, 0, 10, 30, 15, 200, 5},
                                           RateCase{33333, 500000, 0, 68, 15, 15, 100, 68}));

TEST(FrameRateArithmeticTest, TwentyFiveFramesKeepTheDocumentedSourceFrames) {
  const auto timing = ComputeFrameTiming(25, 250, FrameRateChoice::kStandard);
  ASSERT_TRUE(timing);
  const uint32_t expected[] = {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 27};
  for (uint32_t k = 0; k < std::size(expected); ++k) EXPECT_EQ(SourceFrameFor(k, timing->step), expected[k]) << k;
}

TEST(FrameRateArithmeticTest, SourceShorterThanOneStepGivesNoFrames) {
  EXPECT_EQ(ComputeFrameTiming(30, 1, FrameRateChoice::kStandard)->frameCount, 0u);
  EXPECT_EQ(ComputeFrameTiming(30, 0, FrameRateChoice::kHighest)->frameCount, 0u);
}

TEST(FrameRateArithmeticTest, FrameCountAgreesWithTheLoopBoundAndStaysInTheSource) {
  for (uint32_t rate : {1u, 7u, 11u, 16u, 24u, 25u, 30u, 60u, 120u}) {
    for (int32_t choice = 0; choice < 3; ++choice) {
      for (uint32_t length = 0; length < 200; length += 7) {
        const auto timing = ComputeFrameTiming(rate, length, static_cast<FrameRateChoice>(choice));
        ASSERT_TRUE(timing);
        uint32_t loops = 0;
        for (uint64_t k = 0; k * timing->step + timing->step <= uint64_t{length} * 100; ++k) ++loops;
        EXPECT_EQ(timing->frameCount, loops) << rate << " fps, choice " << choice << ", " << length << " frames";
        if (timing->frameCount > 0) {
          EXPECT_LT(SourceFrameFor(timing->frameCount - 1, timing->step), length);
        }
      }
    }
  }
}

TEST(FrameRateArithmeticTest, RateOfZeroIsRefused) {
  EXPECT_EQ(AviSourceRate(0, 30), 0u);
  EXPECT_EQ(AviSourceRate(1000, 400), 0u);  // 0.4 fps rounds to 0
  EXPECT_FALSE(ComputeFrameTiming(0, 100, FrameRateChoice::kStandard));
}

TEST(FrameRateArithmeticTest, HugeLengthsDoNotOverflow) {
  const auto timing = ComputeFrameTiming(1, UINT32_MAX, FrameRateChoice::kHighest);
  EXPECT_FALSE(timing);  // more frames than one movie's index holds
  const auto longest = ComputeFrameTiming(30, 300'000'000, FrameRateChoice::kStandard);
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->frameCount, 150'000'000u);
}

TEST(BoxFitTest, FitsTheBoxToTheSourceShape) {
  const PictureSize box = BoxForChoice(PictureSizeChoice::k320x240);
  EXPECT_EQ(FitBoxToSource(box, {640, 480}), (PictureSize{320, 240}));
  EXPECT_EQ(FitBoxToSource(box, {352, 240}), (PictureSize{320, 218}));
  EXPECT_EQ(FitBoxToSource(box, {320, 200}), (PictureSize{320, 200}));
  EXPECT_EQ(FitBoxToSource(box, {240, 320}), (PictureSize{180, 240}));
  EXPECT_EQ(FitBoxToSource(box, {720, 480}), (PictureSize{320, 213}));
  EXPECT_EQ(FitBoxToSource(BoxForChoice(PictureSizeChoice::k640x480), {352, 240}), (PictureSize{640, 436}));
  EXPECT_EQ(FitBoxToSource(box, {0, 0}), box);
  EXPECT_EQ(FitBoxToSource(box, {10000, 1}), (PictureSize{320, 1}));  // never 0
}

TEST(BoxFitTest, HeaderFitKeepsTheBoxWidth) {
  const PictureSize box = BoxForChoice(PictureSizeChoice::k320x240);
  EXPECT_EQ(FitBoxFromHeader(box, {640, 480}), (PictureSize{320, 240}));
  EXPECT_EQ(FitBoxFromHeader(box, {352, 240}), (PictureSize{320, 218}));
  EXPECT_EQ(FitBoxFromHeader(box, {240, 320}), (PictureSize{320, 426}));
  EXPECT_FALSE(FitBoxFromHeader(box, {0, 240}));
}

}  // namespace
}  // namespace reel

namespace reel {
namespace {

constexpr int64_t kSecond = 10'000'000;  // media time units

struct MediaTimingCase {
  const char* name;
  MediaLength length;
  uint32_t fixedRate;
  FrameRateChoice choice;
  uint32_t measured, source, target, step, frames;
};

class MediaFrameRateArithmetic : public ::testing::TestWithParam<MediaTimingCase> {};

TEST_P(MediaFrameRateArithmetic, GivesRatesStepAndFrameCount) {
  const MediaTimingCase& c = GetParam();
  const Result<MediaFrameTiming> timing = ComputeMediaFrameTiming(c.length, c.fixedRate, c.choice);
  ASSERT_TRUE(timing) << timing.error().message;
  EXPECT_EQ(timing->measuredRate, c.measured);
  EXPECT_EQ(timing->sourceRate, c.source);
  EXPECT_EQ(timing->targetRate, c.target);
  EXPECT_EQ(timing->step, c.step);
  EXPECT_EQ(timing->frameCount, c.frames);
  const FrameTiming movie = timing->AsFrameTiming();
  EXPECT_EQ(movie.frameCount, c.frames);
  EXPECT_EQ(movie.targetRate, c.target);
}

// 2,997 frames in 100 s measure 29 (>= 28 counts as 30); 2,398 in 100 s measure 23; a 25 fps
// source kept at every second frame is labelled 12; a stated count above a million is taken from
// the duration instead.
INSTANTIATE_TEST_SUITE_P(
    Cases, MediaFrameRateArithmetic,
    ::testing::Values(
        MediaTimingCase{"ntsc_standard", {100 * kSecond, 2997, 333667}, 0, FrameRateChoice::kStandard, 30, 30, 15, 2, 1498},
        MediaTimingCase{"ntsc_lowest", {100 * kSecond, 2997, 333667}, 0, FrameRateChoice::kLowest, 30, 30, 10, 3, 998},
        MediaTimingCase{"ntsc_highest", {100 * kSecond, 2997, 333667}, 0, FrameRateChoice::kHighest, 30, 30, 30, 1, 2996},
        MediaTimingCase{"film", {100 * kSecond, 2398, 417083}, 0, FrameRateChoice::kHighest, 23, 23, 23, 1, 2397},
        MediaTimingCase{"pal_standard", {12 * kSecond, 300, 400000}, 0, FrameRateChoice::kStandard, 25, 25, 12, 2, 149},
        MediaTimingCase{"twenty_lowest", {15 * kSecond, 300, 500000}, 0, FrameRateChoice::kLowest, 20, 20, 6, 3, 99},
        MediaTimingCase{"fixed_24", {100 * kSecond, 2997, 333667}, 24, FrameRateChoice::kStandard, 30, 24, 12, 2, 1498},
        MediaTimingCase{"huge_count", {10 * kSecond, 5'000'000'000, 400000}, 0, FrameRateChoice::kStandard, 25, 25, 12, 2, 124},
        MediaTimingCase{"one_step", {kSecond / 15, 2, 333667}, 0, FrameRateChoice::kStandard, 30, 30, 15, 2, 0}),
    [](const ::testing::TestParamInfo<MediaTimingCase>& timing) { return std::string(timing.param.name); });

// Frame sync keeps source frames (k + 1) x N, time sync k x N: a 300-frame source with N = 2 gives
// 149 frames, 2 ... 298 or 0 ... 296.
TEST(MediaFrameRateArithmeticTest, TheTwoModesKeepNeighbouringFrames) {
  const auto timing = ComputeMediaFrameTiming({10 * kSecond, 300, 333333}, 0, FrameRateChoice::kStandard);
  ASSERT_TRUE(timing);
  ASSERT_EQ(timing->frameCount, 149u);
  EXPECT_EQ(MediaSourceFrameFor(0, timing->step, true), 2);
  EXPECT_EQ(MediaSourceFrameFor(148, timing->step, true), 298);
  EXPECT_EQ(MediaSourceFrameFor(0, timing->step, false), 0);
  EXPECT_EQ(MediaSourceFrameFor(148, timing->step, false), 296);
}

// No frame count, a duration under a millisecond and a measured rate of 0 are refused.
TEST(MediaFrameRateArithmeticTest, SourcesWithoutARateAreRefused) {
  const auto none = ComputeMediaFrameTiming({kSecond, 0, 0}, 0, FrameRateChoice::kStandard);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.kind(), ErrorKind::kDamaged);
  const auto instant = ComputeMediaFrameTiming({9999, 1, 333333}, 0, FrameRateChoice::kStandard);
  ASSERT_FALSE(instant);
  EXPECT_EQ(instant.kind(), ErrorKind::kRefused);
  const auto still = ComputeMediaFrameTiming({1000 * kSecond, 1, 333333}, 0, FrameRateChoice::kStandard);
  ASSERT_FALSE(still);
  EXPECT_EQ(still.kind(), ErrorKind::kRefused);
}

}  // namespace
}  // namespace reel
