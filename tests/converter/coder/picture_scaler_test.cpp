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

// One output pixel computed straight from the description: weights along x for the input rows,
// then along y over those row results, rows counted from the last stored one.
Pixel ReferencePixel(const BmpImage& in, uint32_t width, uint32_t height, uint32_t x, uint32_t y) {
  const uint64_t d = uint64_t{in.Width()} * 1024 / width;
  const uint64_t e = uint64_t{in.Height()} * 1024 / height;
  const auto weights = [](uint64_t position, uint64_t step, uint32_t limit) {
    std::vector<std::pair<uint32_t, uint64_t>> list;
    const uint64_t taps = (step + 1023) / 1024;
    uint64_t left = step;
    for (uint64_t t = 0; t < taps && left > 0; ++t) {
      const uint64_t w = t == 0 ? std::min<uint64_t>(1024 - position % 1024, left) : std::min<uint64_t>(1024, left);
      left -= w;
      if (position / 1024 + t < limit) list.emplace_back(static_cast<uint32_t>(position / 1024 + t), w);
    }
    return list;
  };
  const auto rowPixel = [&](uint32_t row) {
    std::array<uint64_t, 3> sum{};
    uint64_t total = 0;
    for (const auto& [column, w] : weights(x * d, d, in.Width())) {
      const Pixel p = At(in, column, row);
      for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
      total += w;
    }
    Pixel out{};
    for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(total ? sum[c] / total : 0);
    return out;
  };
  std::array<uint64_t, 3> sum{};
  uint64_t total = 0;
  for (const auto& [j, w] : weights(y * e, e, in.Height())) {
    const Pixel p = rowPixel(in.Height() - 1 - j);
    for (int c = 0; c < 3; ++c) sum[c] += w * p[c];
    total += w;
  }
  Pixel out{};
  for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(total ? sum[c] / total : 0);
  return out;
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

TEST(ScalePicture, FractionalStepsMatchTheDescription) {
  // 352 x 240 to 320 x 218: d = 1126 and e = 1127, two taps each way.
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    const BmpImage in = Patterned(352, 240, bits, 9);
    const std::optional<BmpImage> out = ScalePicture(in, 320, 218);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->Width(), 320u);
    EXPECT_EQ(out->Height(), 218u);
    for (uint32_t y = 0; y < 218; y += 3) {
      for (uint32_t x = 0; x < 320; x += 3) ASSERT_EQ(At(*out, x, y), ReferencePixel(in, 320, 218, x, y)) << x << "," << y;
    }
  }
  // Enlarging and odd shrinking, checked everywhere.
  const BmpImage small = Patterned(7, 5, 24, 1);
  for (const auto& [w, h] : {std::pair{23u, 11u}, std::pair{3u, 2u}, std::pair{7u, 9u}, std::pair{1u, 1u}}) {
    const std::optional<BmpImage> out = ScalePicture(small, w, h);
    ASSERT_TRUE(out.has_value());
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) ASSERT_EQ(At(*out, x, y), ReferencePixel(small, w, h, x, y));
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
