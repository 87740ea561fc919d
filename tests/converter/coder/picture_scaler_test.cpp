// ScalePicture: the copy, the area-averaging resampler and the row reversal both share.
#include "converter/coder/picture_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace reel {
namespace {

using Pixel = std::array<uint8_t, 3>;  // blue, green, red

BmpImage Patterned(uint32_t width, uint32_t height, uint16_t bits, uint32_t seed) {
  BmpImage picture = *BmpImage::Create(width, height, bits);
  uint32_t state = seed;
  for (uint32_t row = 0; row < height; ++row) {
    auto bytes = picture.Row(row);
    for (uint32_t i = 0; i < width * (bits / 8u); ++i) {
      state = state * 1103515245u + 12345u;
      bytes[i] = static_cast<uint8_t>(state >> 16);
    }
  }
  return picture;
}

Pixel At(const BmpImage& picture, uint32_t x, uint32_t row) {
  const auto bytes = picture.Row(row).subspan(x * picture.BytesPerPixel(), 3);
  return {bytes[0], bytes[1], bytes[2]};
}

TEST(ScalePicture, SameSizeReversesRowsAndKeepsThreeBytes) {
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    const BmpImage in = Patterned(13, 5, bits, 3);
    const std::optional<BmpImage> out = ScalePicture(in, 13, 5);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->BitsPerPixel(), 24);  // a fresh 24-bit header, also for a 32-bit input
    EXPECT_EQ(out->Size(), 54u + 40u * 5u);
    for (uint32_t row = 0; row < 5; ++row) {
      for (uint32_t x = 0; x < 13; ++x) ASSERT_EQ(At(*out, x, 4 - row), At(in, x, row));
    }
  }
}

TEST(ScalePicture, HalvingAveragesTwoByTwoBlocks) {
  const BmpImage in = Patterned(640, 480, 24, 5);
  const std::optional<BmpImage> out = ScalePicture(in, 320, 240);
  ASSERT_TRUE(out.has_value());
  for (uint32_t y = 0; y < 240; y += 7) {
    for (uint32_t x = 0; x < 320; x += 5) {
      // Output row y comes from input rows 479 - 2y and 478 - 2y; each row pair is averaged first.
      const Pixel a = At(in, 2 * x, 479 - 2 * y);
      const Pixel b = At(in, 2 * x + 1, 479 - 2 * y);
      const Pixel c = At(in, 2 * x, 478 - 2 * y);
      const Pixel d = At(in, 2 * x + 1, 478 - 2 * y);
      const Pixel got = At(*out, x, y);
      for (int k = 0; k < 3; ++k) {
        const int top = (a[k] + b[k]) / 2;
        const int bottom = (c[k] + d[k]) / 2;
        ASSERT_EQ(got[k], (top + bottom) / 2) << x << "," << y;
      }
    }
  }
}

// A picture of one row or one column of grey samples, in stored order; at 32 bits the fourth byte
// of each pixel is noise the scaler must leave out.
BmpImage Line(const std::vector<uint8_t>& samples, bool across, uint16_t bits) {
  const auto count = static_cast<uint32_t>(samples.size());
  BmpImage picture = *BmpImage::Create(across ? count : 1, across ? 1 : count, bits);
  for (uint32_t i = 0; i < count; ++i) {
    auto pixel = picture.Row(across ? 0 : i).subspan((across ? i : 0) * picture.BytesPerPixel());
    std::fill_n(pixel.begin(), 3, samples[i]);
    if (bits == 32) pixel[3] = static_cast<uint8_t>(0xA5 ^ i);
  }
  return picture;
}

// Scaled lines worked out by hand. Five samples to three: the step is 5 x 1024 / 3 = 1706, two
// taps. Position 0 takes 1024 of sample 0 and 682 of sample 1; position 1 (at 1706, fraction 682)
// takes 342 of sample 1 and 1024 of sample 2 and leaves out the 340 that reach into sample 3;
// position 2 (at 3412, fraction 340) takes 684 of sample 3 and 1022 of sample 4. Down a column the
// samples are counted from the last stored row, so 10, 20, 40, 80, 160 stored are read as 160,
// 80, 40, 20, 10. Three to two: step 1536, (1024 a + 512 b) / 1536 and (512 b + 1024 c) / 1536.
TEST(ScalePicture, LinesWorkedOutByHand) {
  struct Case {
    const char* what;
    std::vector<uint8_t> samples;
    bool across;
    uint32_t outCount;
    std::vector<uint8_t> expected;  // in stored order
  };
  const std::vector<Case> cases = {
      // 23880 / 1706 = 13.99, 47800 / 1366 = 34.99, 218240 / 1706 = 127.9: all truncated.
      {"five to three across", {10, 20, 40, 80, 160}, true, 3, {13, 34, 127}},
      // 218400 / 1706 = 128.02, 68320 / 1366 = 50.01, 23900 / 1706 = 14.01.
      {"five to three down", {10, 20, 40, 80, 160}, false, 3, {128, 50, 14}},
      // 61440 / 1536 = 40, 123904 / 1536 = 80.67.
      {"three to two across", {30, 60, 91}, true, 2, {40, 80}},
      {"three to two down", {30, 60, 91}, false, 2, {80, 40}},
      // A step of 1024 / 2000 rounds to 0: no position collects any weight.
      {"a step below 1/1024 of a sample", {200}, true, 2000, std::vector<uint8_t>(2000, 0)},
  };
  for (const Case& c : cases) {
    for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
      const BmpImage in = Line(c.samples, c.across, bits);
      const std::optional<BmpImage> out =
          ScalePicture(in, c.across ? c.outCount : 1, c.across ? 1 : c.outCount);
      ASSERT_TRUE(out.has_value()) << c.what;
      for (uint32_t i = 0; i < c.outCount; ++i) {
        const Pixel got = c.across ? At(*out, i, 0) : At(*out, 0, i);
        const uint8_t grey = c.expected[i];
        ASSERT_EQ(got, (Pixel{grey, grey, grey})) << c.what << ", " << bits << " bits, pixel " << i;
      }
    }
  }
}

TEST(ScalePicture, EnlargingRepeatsPixelsAndOnePixelFillsThePicture) {
  const BmpImage dot = Patterned(1, 1, 32, 77);
  const std::optional<BmpImage> out = ScalePicture(dot, 320, 240);
  ASSERT_TRUE(out.has_value());
  for (uint32_t y = 0; y < 240; ++y) {
    for (uint32_t x = 0; x < 320; ++x) ASSERT_EQ(At(*out, x, y), At(dot, 0, 0));
  }
  // 2 x 2 to 4 x 4: nearest pixels, rows reversed.
  const BmpImage quad = Patterned(2, 2, 24, 4);
  const std::optional<BmpImage> big = ScalePicture(quad, 4, 4);
  ASSERT_TRUE(big.has_value());
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(At(*big, x, y), At(quad, x / 2, 1 - y / 2));
  }
}

TEST(ScalePicture, RefusesEmptyTargets) {
  const BmpImage in = Patterned(4, 4, 24, 1);
  EXPECT_FALSE(ScalePicture(in, 0, 4).has_value());
  EXPECT_FALSE(ScalePicture(in, 4, 0).has_value());
  EXPECT_FALSE(ScalePicture(in, BmpImage::kMaxDimension + 1, 4).has_value());
}

}  // namespace
}  // namespace reel
