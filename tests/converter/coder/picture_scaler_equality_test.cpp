// ScalePicture against ScalePictureReference: the same bytes, header and padding included, on real
// photographs, generated scenes, random pixels and the edge sizes, at 24 and 32 bits per pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "converter/coder/area_quotient.h"
#include "converter/coder/picture_scaler.h"
#include "converter/coder/picture_scaler_reference.h"
#include "converter/jpeg/frame_jpeg.h"
#include "tests/support/file_bytes.h"
#include "tests/support/shared_media.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using Size = std::pair<uint32_t, uint32_t>;

BmpImage RandomPicture(uint32_t width, uint32_t height, uint16_t bits, uint32_t seed) {
  BmpImage picture = *BmpImage::Create(width, height, bits);
  uint32_t state = seed;
  for (uint32_t row = 0; row < height; ++row) {
    for (uint8_t& byte : picture.Row(row)) {
      state = state * 1664525u + 1013904223u;
      byte = static_cast<uint8_t>(state >> 24);
    }
  }
  return picture;
}

// The generated scene, stored bottom-up like a decoded source frame.
BmpImage ScenePicture(uint32_t width, uint32_t height, uint16_t bits, uint32_t frame) {
  const RgbPicture scene = MakeSamplePicture(width, height, frame);
  BmpImage picture = *BmpImage::Create(width, height, bits);
  const uint32_t bytes = bits / 8u;
  for (uint32_t y = 0; y < height; ++y) {
    auto row = picture.Row(height - 1 - y);
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t at = (std::size_t{y} * width + x) * 3;
      row[x * bytes] = scene.rgb[at + 2];
      row[x * bytes + 1] = scene.rgb[at + 1];
      row[x * bytes + 2] = scene.rgb[at];
      if (bytes == 4) row[x * bytes + 3] = static_cast<uint8_t>(x ^ y);
    }
  }
  return picture;
}

// A 24-bit picture widened to 32 bits, the fourth byte filled with noise the scaler must ignore.
BmpImage Widened(const BmpImage& picture) {
  BmpImage wide = *BmpImage::Create(picture.Width(), picture.Height(), 32);
  for (uint32_t row = 0; row < picture.Height(); ++row) {
    const auto from = picture.Row(row);
    auto to = wide.Row(row);
    for (uint32_t x = 0; x < picture.Width(); ++x) {
      std::copy_n(from.begin() + x * 3, 3, to.begin() + x * 4);
      to[x * 4 + 3] = static_cast<uint8_t>(x * 7 + row);
    }
  }
  return wide;
}

void ExpectSameScaling(const BmpImage& picture, uint32_t width, uint32_t height, const std::string& what) {
  const std::optional<BmpImage> plain = ScalePictureReference(picture, width, height);
  for (const ScalerLanes lanes : {ScalerLanes::Widest, ScalerLanes::Sse2}) {
    const std::optional<BmpImage> fast = ScalePicture(picture, width, height, lanes);
    ASSERT_EQ(fast.has_value(), plain.has_value()) << what;
    if (!fast) return;
    const auto a = fast->Bytes();
    const auto b = plain->Bytes();
    ASSERT_EQ(a.size(), b.size()) << what;
    const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin());
    ASSERT_TRUE(mismatch.first == a.end()) << what << " -> " << width << "x" << height << (lanes == ScalerLanes::Sse2 ? " in SSE2" : "")
                                           << ": first difference at byte " << (mismatch.first - a.begin());
  }
}

std::string Describe(const BmpImage& picture) {
  return std::to_string(picture.Width()) + "x" + std::to_string(picture.Height()) + "x" +
         std::to_string(picture.BitsPerPixel());
}

// The movie sizes the jobs ask for, halving, fractional steps both ways, and enlargement.
const std::vector<Size> kTargets = {{320, 240}, {320, 181}, {320, 213}, {320, 218}, {160, 120}, {213, 97}, {641, 479}};

// The reciprocal division at the quotients where rounding would show: exact multiples of the total
// and one below and above them, for every total it is used on.
TEST(ScalePictureEquality, ReciprocalQuotientsAreExact) {
  for (uint32_t total = 1; total <= kReciprocalLimit; ++total) {
    const float reciprocal = ReciprocalAbove(total);
    for (uint32_t quotient = 0; quotient <= 255; ++quotient) {
      for (const uint32_t rest : {0u, 1u, total - 1}) {
        if (rest >= total) continue;
        const uint32_t sum = quotient * total + rest;
        ASSERT_EQ(QuotientByReciprocal(sum, reciprocal), quotient) << sum << " / " << total;
      }
    }
  }
}

TEST(ScalePictureEquality, SmallTotalQuotientsAreExact) {
  for (uint32_t total = kSmallTotalLow; total <= kSmallTotalHigh; ++total) {
    const uint16_t magic = SmallQuotientMagic(total);
    for (uint32_t sum = 0; sum <= 255 * total; ++sum) ASSERT_EQ(QuotientBySmallMagic(sum, magic), sum / total) << sum << " / " << total;
  }
}

TEST(ScalePictureEquality, RealPhotographs) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "shared media folder absent";
  for (const char* name : {"jpeg_camera_420_800x532.jpg", "jpeg_camera_422_1280x960.jpg", "jpeg_420_227x149_testorig.jpg",
                           "jpeg_444_dri60_479x322.jpg"}) {
    const std::vector<uint8_t> jpeg = test::ReadAllBytes(test::SharedMediaPath(name));
    if (jpeg.empty()) continue;
    const std::optional<BmpImage> picture = DecodeFrameJpeg(jpeg);
    ASSERT_TRUE(picture.has_value()) << name;
    for (const auto& [w, h] : kTargets) {
      ExpectSameScaling(*picture, w, h, name);
      ExpectSameScaling(Widened(*picture), w, h, std::string(name) + " at 32 bits");
    }
  }
}

TEST(ScalePictureEquality, GeneratedScenesAtTheJobSizes) {
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    for (const auto& [w, h] : std::vector<Size>{{640, 480}, {480, 272}, {720, 480}, {352, 240}, {4000, 3000}}) {
      const BmpImage picture = ScenePicture(w, h, bits, w + h);
      for (const auto& [tw, th] : kTargets) ExpectSameScaling(picture, tw, th, Describe(picture));
    }
  }
}

TEST(ScalePictureEquality, RandomPixelsAndOddSizes) {
  uint32_t seed = 1;
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    for (const auto& [w, h] : std::vector<Size>{{1, 1}, {3, 1}, {1, 5}, {7, 5}, {13, 11}, {33, 17}, {333, 211}, {641, 479}}) {
      const BmpImage picture = RandomPicture(w, h, bits, seed++);
      for (const auto& [tw, th] : std::vector<Size>{{1, 1}, {2, 3}, {5, 7}, {w, h}, {w + 1, h}, {w, h + 2}, {w * 3, h * 2},
                                                    {(w + 1) / 2, (h + 2) / 3}, {320, 240}, {320, 181}, {17, 240}}) {
        ExpectSameScaling(picture, tw, th, Describe(picture));
      }
    }
  }
}

// Exact halving of an axis averages bytes directly: every width's tail, pictures too small for a
// single vector step, the picture's last row read up to its final byte, and sizes one pixel off.
TEST(ScalePictureEquality, HalvingAndItsNearMisses) {
  uint32_t seed = 100;
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    for (const auto& [w, h] : std::vector<Size>{{2, 2}, {4, 2}, {12, 4}, {14, 6}, {24, 2}, {26, 3}, {36, 8}, {38, 9}, {50, 2},
                                                {640, 480}, {642, 482}, {644, 360}, {1280, 720}}) {
      const BmpImage picture = RandomPicture(w, h, bits, seed++);
      for (const auto& [tw, th] : std::vector<Size>{{w / 2, h / 2}, {w / 2, h}, {w, h / 2}, {w / 2, (h + 1) / 2 + 1},
                                                    {w / 2 + 1, h / 2}, {std::max(w / 2 - 1, 1u), h / 2}}) {
        ExpectSameScaling(picture, tw, th, Describe(picture));
      }
    }
  }
  ExpectSameScaling(RandomPicture(641, 480, 24, 7), 320, 240, "641x480");
  ExpectSameScaling(RandomPicture(640, 481, 24, 8), 320, 240, "640x481");
}

// Widths whose weights reduce to small totals (steps of 1.5, 2.25, 2.5, 3, 4 source pixels, and
// windows cut short at the far edge) take 16-bit lanes, one layout for the whole row where the
// period divides eight pixels (480, 720 and 800 to 320) and one per group otherwise (33 to 16
// down the columns); sizes a pixel off take the general lanes.
// Short pictures read their last row up to its end.
TEST(ScalePictureEquality, ShortPeriodStepsAndTheirNearMisses) {
  uint32_t seed = 200;
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    for (const auto& [w, tw] : std::vector<Size>{{480, 320}, {481, 320}, {479, 320}, {720, 320}, {721, 320}, {800, 320},
                                                 {960, 320}, {1280, 320}, {24, 16}, {27, 12}, {45, 20}, {100, 37}, {30, 8}}) {
      for (const uint32_t h : {1u, 2u, 5u}) {
        const BmpImage picture = RandomPicture(w, h, bits, seed++);
        ExpectSameScaling(picture, tw, std::max(h / 2, 1u), Describe(picture));
      }
      // The same steps down the columns, in rows of 1, 8, 9 and 33 pixels.
      for (const uint32_t h : {1u, 16u, 18u, 33u}) {
        const BmpImage picture = RandomPicture(h, w, bits, seed++);
        ExpectSameScaling(picture, std::max(h / 2, 1u), tw, Describe(picture));
      }
    }
  }
}

TEST(ScalePictureEquality, EdgeSizes) {
  // Enlargement: one pixel filling the movie, a quarter-size picture doubled.
  ExpectSameScaling(RandomPicture(1, 1, 24, 5), 320, 240, "1x1");
  ExpectSameScaling(RandomPicture(1, 1, 32, 6), 320, 240, "1x1 at 32 bits");
  ExpectSameScaling(ScenePicture(160, 120, 24, 3), 320, 240, "160x120");
  ExpectSameScaling(ScenePicture(160, 120, 32, 3), 320, 240, "160x120 at 32 bits");
  // Steps below one 1024th of a pixel collect no weight (a black picture).
  ExpectSameScaling(RandomPicture(1, 3, 24, 7), 2000, 3, "1x3 widened past 1024 times");
  ExpectSameScaling(RandomPicture(3, 1, 24, 7), 3, 1500, "3x1 heightened past 1024 times");
  // Steps of 64 pixels and more, where the weight totals are too large for float division.
  ExpectSameScaling(RandomPicture(16384, 2, 24, 8), 3, 1, "16384x2");
  ExpectSameScaling(RandomPicture(2, 9000, 32, 9), 1, 7, "2x9000");
  ExpectSameScaling(RandomPicture(9000, 70, 24, 10), 140, 1, "9000x70");
  // The largest sums a channel can reach: all-white pictures.
  BmpImage white = *BmpImage::Create(16384, 3, 24);
  for (uint32_t row = 0; row < 3; ++row) std::fill(white.Row(row).begin(), white.Row(row).end(), uint8_t{255});
  ExpectSameScaling(white, 1, 1, "white 16384x3");
  ExpectSameScaling(white, 255, 2, "white 16384x3");
  ExpectSameScaling(white, 257, 2, "white 16384x3");
}

}  // namespace
}  // namespace reel
