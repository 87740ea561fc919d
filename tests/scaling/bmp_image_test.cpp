// BmpImage: header fields, strides and the refusal of pictures we do not carry.
#include "converter/engine/bmp_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_io.h"

namespace reel {
namespace {

uint32_t Field32(const BmpImage& picture, std::size_t offset) {
  return LoadU32(picture.Bytes().subspan(offset).first<4>());
}

TEST(BmpImage, CreateFillsBothHeaders) {
  const BmpImage picture = *BmpImage::Create(318, 7, 24);
  EXPECT_EQ(picture.Stride(), 956u);
  EXPECT_EQ(picture.Size(), 54u + 956u * 7u);
  EXPECT_EQ(picture.Bytes()[0], 'B');
  EXPECT_EQ(picture.Bytes()[1], 'M');
  EXPECT_EQ(Field32(picture, 2), picture.Size());
  EXPECT_EQ(Field32(picture, 10), 54u);
  EXPECT_EQ(Field32(picture, 14), 40u);
  EXPECT_EQ(Field32(picture, 18), 318u);
  EXPECT_EQ(Field32(picture, 22), 7u);
  EXPECT_EQ(LoadU16(picture.Bytes().subspan(26).first<2>()), 1);
  EXPECT_EQ(picture.BitsPerPixel(), 24);
  EXPECT_EQ(Field32(picture, 30), 0u);
  EXPECT_EQ(Field32(picture, 34), 956u * 7u);
  EXPECT_EQ(BmpImage::Create(5, 2, 32)->Stride(), 20u);
}

TEST(BmpImage, FromBytesChecksTheHeaders) {
  const BmpImage made = *BmpImage::Create(3, 2, 24);
  std::vector<uint8_t> bytes(made.Bytes().begin(), made.Bytes().end());
  ASSERT_TRUE(BmpImage::FromBytes(bytes).has_value());
  EXPECT_FALSE(BmpImage::FromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)).has_value());
  std::vector<uint8_t> topDown = bytes;
  StoreU32(std::span(topDown).subspan(22).first<4>(), static_cast<uint32_t>(-2));
  EXPECT_FALSE(BmpImage::FromBytes(topDown).has_value());
  std::vector<uint8_t> paletted = bytes;
  StoreU16(std::span(paletted).subspan(28).first<2>(), 8);
  EXPECT_FALSE(BmpImage::FromBytes(paletted).has_value());
  std::vector<uint8_t> notBmp = bytes;
  notBmp[0] = 'X';
  EXPECT_FALSE(BmpImage::FromBytes(notBmp).has_value());
  EXPECT_FALSE(BmpImage::FromBytes({}).has_value());
  EXPECT_FALSE(BmpImage::Create(0, 5).has_value());
  EXPECT_FALSE(BmpImage::Create(5, 5, 16).has_value());
  EXPECT_FALSE(BmpImage::Create(BmpImage::kMaxDimension + 1, 5).has_value());
}

}  // namespace
}  // namespace reel
