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
