// CodeFrame: picture, JPEG, coefficients, frame.
#include "converter/engine/code_frame.h"

#include <gtest/gtest.h>

#include "common/qrx_format.h"
#include "converter/coder/frame_coder.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"
#include "tests/support/jpeg_pictures.h"

namespace reel {
namespace {

TEST(CodeFrame, CodesTheCoefficientsOfItsOwnJpeg) {
  for (const auto& [width, height, quality] : {std::tuple{320, 240, 50}, std::tuple{320, 218, 100}, std::tuple{8, 8, 5}}) {
    const BmpImage picture = test::BottomUpPicture(test::NaturalRgb(width, height, 6), width, height);
    const std::optional<std::vector<uint8_t>> frame = CodeFrame(picture, quality);
    ASSERT_TRUE(frame.has_value());
    const QrxFrameHeader header = ReadQrxFrameHeader(std::span(*frame).first<kQrxFrameHeaderSize>());
    EXPECT_EQ(header.tag, kQrxFrameTag);
    EXPECT_EQ(header.width, width);
    EXPECT_EQ(header.height, height);
    EXPECT_EQ(header.quality, quality);

    // The same steps by hand give the same bytes.
    const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(picture, quality);
    ASSERT_TRUE(jpeg.has_value());
    CByteSource source(*jpeg);
    CJpegCoefReader reader;
    ASSERT_TRUE(reader.Decode(source));
    EXPECT_EQ(reader.BlockCount(), static_cast<int32_t>(6 * MacroblockColumns(width) * MacroblockRows(height)));
    EXPECT_EQ(CodeCoefficients(reader.TakeCoefficients(), quality), frame);
  }
}

TEST(CodeFrame, PictureBeyondTheStoreGivesNone) {
  // 1280 x 1024 needs 5,120 macroblocks, 30,720 blocks: more than the reader stores.
  const BmpImage picture = *BmpImage::Create(1280, 1024, 24);
  EXPECT_FALSE(CodeFrame(picture, 50).has_value());
  FrameCoding coding;
  EXPECT_FALSE(coding.Code(picture, 50).has_value());
}

// One FrameCoding for a run of frames of changing sizes and qualities gives CodeFrame's bytes.
TEST(CodeFrame, FrameCodingKeepsCodeFramesBytesFrameAfterFrame) {
  FrameCoding coding;
  uint32_t frame = 0;
  for (const auto& [width, height, quality] : {std::tuple{640, 480, 50}, std::tuple{1, 1, 50}, std::tuple{321, 181, 100},
                                               std::tuple{320, 240, 5}, std::tuple{17, 9, 50}, std::tuple{320, 240, 50}}) {
    const BmpImage picture = test::BottomUpPicture(test::NaturalRgb(width, height, frame++), width, height);
    EXPECT_EQ(coding.Code(picture, quality), CodeFrame(picture, quality)) << width << " x " << height;
  }
  // Noise at quality 100: the largest coefficients and the longest codes, then a plain frame again.
  std::vector<uint8_t> noise(std::size_t{64} * 48 * 3);
  uint32_t state = 12345;
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  const BmpImage noisy = test::BottomUpPicture(noise, 64, 48);
  EXPECT_EQ(coding.Code(noisy, 100), CodeFrame(noisy, 100));
  const BmpImage after = test::BottomUpPicture(test::NaturalRgb(64, 48, 9), 64, 48);
  EXPECT_EQ(coding.Code(after, 75), CodeFrame(after, 75));
}

}  // namespace
}  // namespace reel
