// EncodeFrameJpeg and DecodeFrameJpeg: row order, padded strides, channel set-ups, refusals.
#include "converter/jpeg/frame_jpeg.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/support/jpeg_pictures.h"

namespace reel {
namespace {

// Mean absolute difference between a decoded RGB picture and the source RGB.
double MeanError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double total = 0;
  for (std::size_t i = 0; i < a.size(); ++i) total += std::abs(a[i] - b[i]);
  return total / static_cast<double>(a.size());
}

// Packed RGB, top row first, of a bottom-up BmpImage.
std::vector<uint8_t> TopDownRgb(const BmpImage& picture) {
  std::vector<uint8_t> rgb;
  for (uint32_t y = 0; y < picture.Height(); ++y) {
    const auto row = picture.Row(picture.Height() - 1 - y);
    for (uint32_t x = 0; x < picture.Width(); ++x) rgb.insert(rgb.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
  }
  return rgb;
}

TEST(EncodeFrameJpeg, OddWidthIsReadWithItsPaddedStride) {
  // 318 pixels: rows of 954 bytes padded by 2 to 956.
  const int width = 318;
  const int height = 24;
  const auto rgb = test::NaturalRgb(width, height, 11);
  const BmpImage picture = test::BottomUpPicture(rgb, width, height);
  ASSERT_EQ(picture.Stride(), 956u);
  const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(picture, 90);
  ASSERT_TRUE(jpeg.has_value());
  int decodedWidth = 0;
  int decodedHeight = 0;
  const std::vector<uint8_t> decoded = test::DecodeWithLibjpeg(*jpeg, decodedWidth, decodedHeight);
  EXPECT_EQ(decodedWidth, width);
  EXPECT_EQ(decodedHeight, height);
  // Stored rows go to the codec in stored order, so the JPEG holds the picture upside down.
  std::vector<uint8_t> flipped;
  for (int y = height - 1; y >= 0; --y) {
    flipped.insert(flipped.end(), rgb.begin() + y * width * 3, rgb.begin() + (y + 1) * width * 3);
  }
  EXPECT_LT(MeanError(decoded, flipped), 4.0);
}

TEST(EncodeFrameJpeg, FirstStoredRowsBecomeTheTopOfTheJpeg) {
  BmpImage picture = *BmpImage::Create(32, 32, 24);
  for (uint32_t row = 0; row < 32; ++row) {
    auto bytes = picture.Row(row);
    for (uint32_t x = 0; x < 32; ++x) {
      bytes[x * 3] = row < 16 ? 0 : 255;    // blue
      bytes[x * 3 + 2] = row < 16 ? 255 : 0;  // red
    }
  }
  const std::vector<uint8_t> before(picture.Bytes().begin(), picture.Bytes().end());
  const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(picture, 75);
  ASSERT_TRUE(jpeg.has_value());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), picture.Bytes().begin()));  // left unchanged
  int width = 0;
  int height = 0;
  const std::vector<uint8_t> rgb = test::DecodeWithLibjpeg(*jpeg, width, height);
  const auto pixel = [&](int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; };
  EXPECT_GT(pixel(5, 2)[0], 200);  // red at the top
  EXPECT_LT(pixel(5, 2)[2], 60);
  EXPECT_GT(pixel(5, 29)[2], 200);  // blue at the bottom
  EXPECT_LT(pixel(5, 29)[0], 60);
}

TEST(EncodeFrameJpeg, TinyPicturesAndRefusals) {
  const auto rgb = test::NaturalRgb(8, 8, 2);
  EXPECT_TRUE(EncodeFrameJpeg(test::BottomUpPicture(rgb, 8, 8), 100).has_value());
  EXPECT_TRUE(EncodeFrameJpeg(*BmpImage::Create(1, 1, 24), 50).has_value());
  EXPECT_FALSE(EncodeFrameJpeg(*BmpImage::Create(8, 8, 32), 50).has_value());  // not 24-bit
}

// One buffer for frames of changing sizes, never cleared: each stream is EncodeFrameJpeg's, and
// the buffer keeps its size for the next frame.
TEST(EncodeFrameJpeg, IntoAReusedBufferGivesTheSameStreams) {
  std::vector<uint8_t> buffer(50, 0xAB);
  std::size_t largest = 0;
  uint32_t seed = 1;
  for (const auto& [width, height] : {std::pair{320, 240}, std::pair{1, 1}, std::pair{321, 181}, std::pair{17, 9},
                                      std::pair{640, 480}, std::pair{320, 240}}) {
    const BmpImage picture = test::BottomUpPicture(test::NaturalRgb(width, height, seed++), width, height);
    const std::optional<std::vector<uint8_t>> plain = EncodeFrameJpeg(picture, 50);
    ASSERT_TRUE(plain);
    const std::optional<std::size_t> length = EncodeFrameJpegInto(picture, 50, buffer);
    ASSERT_TRUE(length);
    ASSERT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*length)), *plain)
        << width << " x " << height;
    EXPECT_GE(buffer.size(), largest);
    largest = buffer.size();
  }
  EXPECT_FALSE(EncodeFrameJpegInto(*BmpImage::Create(16, 16, 32), 50, buffer));
}

TEST(DecodeFrameJpeg, ColourPictureComesBackBottomUp) {
  const int width = 50;
  const int height = 30;
  const auto rgb = test::NaturalRgb(width, height, 4);
  test::TestJpegOptions options;
  options.width = width;
  options.height = height;
  options.quality = 95;
  const std::optional<BmpImage> picture = DecodeFrameJpeg(test::MakeTestJpeg(options, rgb));
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->Width(), 50u);
  EXPECT_EQ(picture->Height(), 30u);
  EXPECT_EQ(picture->BitsPerPixel(), 24);
  EXPECT_EQ(picture->Size(), 54u + 152u * 30u);
  EXPECT_LT(MeanError(TopDownRgb(*picture), rgb), 4.0);
}

TEST(DecodeFrameJpeg, GreyAndFourComponentFrames) {
  const int width = 24;
  const int height = 16;
  test::TestJpegOptions grey;
  grey.width = width;
  grey.height = height;
  grey.grey = true;
  grey.quality = 100;
  std::vector<uint8_t> samples(static_cast<std::size_t>(width * height));
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i % 200);
  const std::optional<BmpImage> greyPicture = DecodeFrameJpeg(test::MakeTestJpeg(grey, samples));
  ASSERT_TRUE(greyPicture.has_value());
  for (uint32_t row = 0; row < greyPicture->Height(); ++row) {
    const auto bytes = greyPicture->Row(row);
    for (uint32_t x = 0; x < greyPicture->Width(); ++x) {
      ASSERT_EQ(bytes[x * 3], bytes[x * 3 + 1]);
      ASSERT_EQ(bytes[x * 3], bytes[x * 3 + 2]);
    }
  }
  // Four components Y, Cb, Cr, alpha: a flat pure red (Y 76, Cb 85, Cr 255) with alpha 17.
  test::TestJpegOptions four = grey;
  four.grey = false;
  four.components = 4;
  std::vector<uint8_t> ycbcra;
  for (int i = 0; i < width * height; ++i) ycbcra.insert(ycbcra.end(), {76, 85, 255, 17});
  const std::optional<BmpImage> fourPicture = DecodeFrameJpeg(test::MakeTestJpeg(four, ycbcra));
  ASSERT_TRUE(fourPicture.has_value());
  const auto pixel = fourPicture->Row(3).subspan(3 * 5, 3);
  EXPECT_LT(pixel[0], 8);    // blue
  EXPECT_LT(pixel[1], 8);    // green
  EXPECT_GT(pixel[2], 247);  // red
  // Two components have no defined colours: refused.
  test::TestJpegOptions two = four;
  two.components = 2;
  EXPECT_FALSE(DecodeFrameJpeg(test::MakeTestJpeg(two, std::vector<uint8_t>(width * height * 2, 40))).has_value());
}

TEST(DecodeFrameJpeg, DamagedFramesGiveNone) {
  const auto rgb = test::NaturalRgb(64, 64, 8);
  test::TestJpegOptions options;
  options.width = 64;
  options.height = 64;
  const std::vector<uint8_t> jpeg = test::MakeTestJpeg(options, rgb);
  EXPECT_FALSE(DecodeFrameJpeg({}).has_value());
  EXPECT_FALSE(DecodeFrameJpeg(std::span(jpeg).first(100)).has_value());  // parameters cut off
  EXPECT_FALSE(DecodeFrameJpeg(std::span(jpeg).first(jpeg.size() / 2)).has_value());  // data cut off
  std::vector<uint8_t> garbage(jpeg.size(), 0x5A);
  EXPECT_FALSE(DecodeFrameJpeg(garbage).has_value());
  EXPECT_TRUE(DecodeFrameJpeg(jpeg).has_value());
}

}  // namespace
}  // namespace reel
