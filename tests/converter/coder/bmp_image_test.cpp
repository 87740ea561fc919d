// BmpImage: the refusal of pictures we do not carry.
#include "converter/coder/bmp_image.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_io.h"

namespace reel {
namespace {

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
