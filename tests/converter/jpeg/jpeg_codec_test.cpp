// The codec interface: the stream shape the reader relies on, the quantisation tables from the
// quality, and the fixed-capacity output.
#include "converter/jpeg/jpeg_codec.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/zigzag.h"
#include "converter/jpeg/frame_jpeg.h"
#include "tests/support/jpeg_pictures.h"

namespace reel {
namespace {

struct MarkerSegment {
  uint8_t marker;
  std::vector<uint8_t> body;  // without the two length bytes
};

// The marker segments up to and including SOS.
std::vector<MarkerSegment> HeaderSegments(const std::vector<uint8_t>& jpeg) {
  std::vector<MarkerSegment> segments = {{jpeg[1], {}}};
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
    const std::size_t length = (jpeg[pos + 2] << 8) | jpeg[pos + 3];
    segments.push_back({jpeg[pos + 1], std::vector<uint8_t>(jpeg.begin() + static_cast<long>(pos + 4),
                                                            jpeg.begin() + static_cast<long>(pos + 2 + length))});
    if (jpeg[pos + 1] == 0xDA) break;
    pos += 2 + length;
  }
  return segments;
}

std::vector<uint8_t> Encode(int width, int height, int quality) {
  const auto rgb = test::NaturalRgb(width, height, 3);
  const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(test::BottomUpPicture(rgb, width, height), quality);
  EXPECT_TRUE(jpeg.has_value());
  return jpeg.value_or(std::vector<uint8_t>{});
}

TEST(JpegCodec, StreamShapeIsBaselineJfif420) {
  const std::vector<uint8_t> jpeg = Encode(200, 100, 50);
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg.back(), 0xD9);
  const std::vector<MarkerSegment> segments = HeaderSegments(jpeg);
  std::vector<uint8_t> order;
  for (const MarkerSegment& s : segments) order.push_back(s.marker);
  // SOI, APP0, COM, two DQT, SOF0, one DHT per table, SOS; no DRI.
  EXPECT_EQ(order, (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA}));
  EXPECT_EQ(std::vector<uint8_t>(segments[1].body.begin(), segments[1].body.begin() + 5),
            (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0}));
  EXPECT_EQ(segments[3].body.size(), 65u);  // length 67: one 8-bit table each
  EXPECT_EQ(segments[3].body[0], 0);
  EXPECT_EQ(segments[4].body[0], 1);
  // SOF0: precision 8, 100 x 200, components 1 (2 x 2, table 0), 2 and 3 (1 x 1, table 1).
  EXPECT_EQ(segments[5].body, (std::vector<uint8_t>{8, 0, 100, 0, 200, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}));
  // The typical Annex K tables: DC with 12 symbols, AC with 162, ids 0 and 1.
  std::map<uint8_t, std::size_t> huffman;
  for (int i = 6; i < 10; ++i) huffman[segments[i].body[0]] = segments[i].body.size() - 17;
  EXPECT_EQ(huffman, (std::map<uint8_t, std::size_t>{{0x00, 12}, {0x01, 12}, {0x10, 162}, {0x11, 162}}));
  // SOS: components 1, 2, 3 with tables 0/0, 1/1, 1/1; Ss 0, Se 63, Ah Al 0.
  EXPECT_EQ(segments[10].body, (std::vector<uint8_t>{3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}));
}

TEST(JpegCodec, QuantisationTablesFollowTheQuality) {
  for (int quality : {1, 5, 10, 25, 50, 75, 99, 100}) {
    SCOPED_TRACE(quality);
    const std::vector<MarkerSegment> segments = HeaderSegments(Encode(32, 16, quality));
    for (int table = 0; table < 2; ++table) {
      const std::array<uint16_t, 64> expected = JpegQuantTable(table, quality);
      const std::vector<uint8_t>& body = segments[3 + static_cast<std::size_t>(table)].body;
      for (std::size_t k = 0; k < 64; ++k) ASSERT_EQ(body[1 + k], expected[kZigZag[k]]) << "table " << table << " entry " << k;
    }
  }
  // Quality 50 is Annex K itself; 100 is all ones; 10 and 75 scale and clamp.
  const auto zigzag = [](const std::array<uint16_t, 64>& natural, std::size_t count) {
    std::vector<uint16_t> out;
    for (std::size_t k = 0; k < count; ++k) out.push_back(natural[kZigZag[k]]);
    return out;
  };
  EXPECT_EQ(zigzag(JpegQuantTable(0, 50), 8), (std::vector<uint16_t>{16, 11, 12, 14, 12, 10, 16, 14}));
  EXPECT_EQ(zigzag(JpegQuantTable(1, 50), 8), (std::vector<uint16_t>{17, 18, 18, 24, 21, 24, 47, 26}));
  EXPECT_EQ(zigzag(JpegQuantTable(0, 100), 64), std::vector<uint16_t>(64, 1));
  EXPECT_EQ(JpegQuantTable(0, 10)[0], 80);
  EXPECT_EQ(JpegQuantTable(1, 10)[63], 255);
  EXPECT_EQ(JpegQuantTable(0, 75)[0], 8);
  EXPECT_EQ(JpegQuantTable(0, 75)[1], 6);
  EXPECT_EQ(JpegQuantTable(0, 5)[0], 160);
  EXPECT_EQ(JpegQuantTable(0, 0), JpegQuantTable(0, 1));  // limited to 1 ... 100
  EXPECT_EQ(JpegQuantTable(0, 500), JpegQuantTable(0, 100));
}

TEST(JpegCodec, OutputThatDoesNotFitFailsWithoutOverrun) {
  const int width = 64;
  const int height = 64;
  std::vector<uint8_t> rgb = test::NaturalRgb(width, height, 9);
  std::vector<uint8_t> output(4000, 0xAB);
  for (uint32_t capacity : {0u, 100u, 900u, 2000u}) {
    JpegCoreProperties p;
    ASSERT_EQ(CodecInit(p), CodecOk);
    p.dibBytes = rgb;
    p.dibWidth = width;
    p.dibHeight = height;
    p.dibChannels = 3;
    p.dibColor = ColorRgb;
    p.jpgBytes = output;
    p.jpgSizeBytes = capacity;
    p.jpgWidth = width;
    p.jpgHeight = height;
    p.jpgChannels = 3;
    p.jpgColor = ColorYCbCr;
    p.jpgSubsampling = Subsample2x2;
    p.jpgQuality = 100;
    EXPECT_NE(CodecWrite(p, WriteWholeImageToMemory), CodecOk) << capacity;
    EXPECT_EQ(CodecFree(p), CodecOk);
    for (std::size_t i = capacity; i < output.size(); ++i) ASSERT_EQ(output[i], 0xAB) << "overrun at " << i;
  }
}

// Keeping the coefficients without the entropy pass ends as the coded way does, at every capacity
// from a stream's own length (which does not fit: the last byte fills the buffer) upward, for
// plain and for noisy pictures; the pass asked for next follows whether the picture was sure to
// fit.
TEST(JpegCodec, KeepingWithoutTheEntropyPassEndsAsTheCodedWay) {
  const auto noise = [](int width, int height) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    uint32_t state = 77;
    for (uint8_t& byte : rgb) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    return rgb;
  };
  struct Case {
    std::vector<uint8_t> rgb;
    int width, height, quality;
  };
  const Case cases[] = {{test::NaturalRgb(64, 64, 9), 64, 64, 50}, {test::NaturalRgb(64, 64, 9), 64, 64, 100},
                        {noise(48, 32), 48, 32, 100}, {noise(17, 9), 17, 9, 75}, {test::NaturalRgb(1, 1, 2), 1, 1, 50}};
  bool skipped = false;
  for (const Case& c : cases) {
    std::vector<uint8_t> output(std::size_t{3} * c.width * c.height + 1024);
    const auto properties = [&](uint32_t capacity) {
      JpegCoreProperties p;
      EXPECT_EQ(CodecInit(p), CodecOk);
      p.dibSource = c.rgb;
      p.dibWidth = p.jpgWidth = c.width;
      p.dibHeight = p.jpgHeight = c.height;
      p.dibChannels = p.jpgChannels = 3;
      p.dibColor = ColorRgb;
      p.jpgBytes = output;
      p.jpgSizeBytes = capacity;
      p.jpgColor = ColorYCbCr;
      p.jpgSubsampling = Subsample2x2;
      p.jpgQuality = c.quality;
      return p;
    };
    JpegCoreProperties whole = properties(static_cast<uint32_t>(output.size()));
    const int32_t wholeResult = CodecWrite(whole, WriteWholeImageToMemory);
    const uint32_t length = wholeResult == CodecOk ? whole.jpgSizeBytes : static_cast<uint32_t>(output.size());
    for (uint32_t capacity : {length, length + 1, length + 40, length * 2, static_cast<uint32_t>(output.size())}) {
      if (capacity > output.size()) continue;
      QuantisedSet coded;
      QuantisedSet kept;
      EntropyPass codedPass = EntropyPass::kCoded;
      EntropyPass keptPass = EntropyPass::kSkippedWhenSafe;
      JpegCoreProperties plain = properties(capacity);
      JpegCoreProperties quick = properties(capacity);
      const int32_t codedResult = CodecWriteKeepingCoefficients(plain, WriteWholeImageToMemory, coded, codedPass);
      const int32_t keptResult = CodecWriteKeepingCoefficients(quick, WriteWholeImageToMemory, kept, keptPass);
      const auto where = ::testing::Message() << c.width << " x " << c.height << " q" << c.quality << " capacity "
                                              << capacity << " of stream " << length;
      ASSERT_EQ(codedResult, keptResult) << where;
      EXPECT_EQ(codedPass, keptPass) << where;
      if (codedResult != CodecOk) continue;
      EXPECT_EQ(plain.jpgSizeBytes, length) << where;
      EXPECT_EQ(coded.blocks, kept.blocks) << where;
      EXPECT_EQ(coded.quantTables, kept.quantTables) << where;
      // Skipped exactly when sure to fit; otherwise coded after all, stream and all.
      EXPECT_EQ(quick.jpgSizeBytes, keptPass == EntropyPass::kSkippedWhenSafe ? 0 : length) << where;
      skipped = skipped || quick.jpgSizeBytes == 0;
    }
  }
  EXPECT_TRUE(skipped);
}

}  // namespace
}  // namespace reel
