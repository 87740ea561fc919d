// The coefficient reader against libjpeg's own jpeg_read_coefficients, on JPEGs made here under
// many settings and on real JPEGs, and its refusals of streams it does not decode.
#include "converter/jpeg/jpeg_coef_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/zigzag.h"
#include "tests/support/file_bytes.h"
#include "tests/support/jpeg_pictures.h"
#include "tests/support/shared_media.h"

namespace reel {
namespace {

using test::Sampling;
using test::TestJpegOptions;

struct Decoded {
  CoefficientSet set;
  int32_t blockCount = 0;
  std::optional<ErrorKind> refusal;  // none when the stream was decoded whole
};

Decoded ReadOurs(std::span<const uint8_t> jpeg, CJpegCoefReader::HuffmanSearch search = CJpegCoefReader::HuffmanSearch::Fast) {
  CByteSource source(jpeg);
  CJpegCoefReader reader(search);
  const Status decoded = reader.Decode(source);
  Decoded result;
  if (!decoded) result.refusal = decoded.kind();
  result.blockCount = reader.BlockCount();
  result.set = reader.TakeCoefficients();
  return result;
}

void ExpectSameAsLibjpeg(std::span<const uint8_t> jpeg) {
  const std::optional<CoefficientSet> expected = test::ReadWithLibjpeg(jpeg);
  ASSERT_TRUE(expected.has_value());
  const Decoded ours = ReadOurs(jpeg);
  EXPECT_EQ(ours.set.width, expected->width);
  EXPECT_EQ(ours.set.height, expected->height);
  EXPECT_EQ(ours.set.quantTables, expected->quantTables);
  EXPECT_FALSE(ours.refusal);
  ASSERT_EQ(ours.blockCount, static_cast<int32_t>(expected->blocks.size()));
  for (std::size_t i = 0; i < expected->blocks.size(); ++i) {
    ASSERT_EQ(ours.set.blocks[i], expected->blocks[i]) << "block " << i;
  }
}

std::vector<uint8_t> MakeJpeg(const TestJpegOptions& options, uint32_t seed = 1) {
  return test::MakeTestJpeg(options, test::NaturalRgb(options.width, options.height, seed));
}

struct ReaderCase {
  int width;
  int height;
  int quality;
  Sampling sampling;
  int restartInterval;
};

class ReaderMatchesLibjpeg : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderMatchesLibjpeg, SameCoefficientsAndTables) {
  const ReaderCase& c = GetParam();
  TestJpegOptions options;
  options.width = c.width;
  options.height = c.height;
  options.quality = c.quality;
  options.sampling = c.sampling;
  options.restartInterval = c.restartInterval;
  ExpectSameAsLibjpeg(MakeJpeg(options, static_cast<uint32_t>(c.width * 31 + c.quality)));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ReaderMatchesLibjpeg,
    ::testing::Values(ReaderCase{8, 8, 50, Sampling::k420, 0}, ReaderCase{16, 16, 75, Sampling::k420, 0},
                      ReaderCase{200, 100, 5, Sampling::k420, 0}, ReaderCase{318, 240, 25, Sampling::k420, 0},
                      ReaderCase{320, 240, 50, Sampling::k420, 0}, ReaderCase{320, 240, 100, Sampling::k420, 0},
                      ReaderCase{640, 480, 90, Sampling::k420, 0}, ReaderCase{1000, 8, 60, Sampling::k420, 0},
                      ReaderCase{200, 100, 50, Sampling::k420, 1}, ReaderCase{318, 240, 95, Sampling::k420, 7},
                      ReaderCase{200, 100, 50, Sampling::k444, 0}, ReaderCase{77, 45, 100, Sampling::k444, 7},
                      ReaderCase{33, 17, 10, Sampling::k444, 1}));

TEST(CoefReader, BlockCountsFollowTheMcuGrid) {
  for (const auto& [width, height, blocks] :
       {std::tuple{320, 240, 1800}, std::tuple{640, 480, 7200}, std::tuple{200, 100, 546}, std::tuple{8, 8, 6}}) {
    TestJpegOptions options;
    options.width = width;
    options.height = height;
    EXPECT_EQ(ReadOurs(MakeJpeg(options)).blockCount, blocks) << width << " x " << height;
  }
}

TEST(CoefReader, ReadsSixteenBitAndMergedQuantTables) {
  TestJpegOptions options;
  options.width = 64;
  options.height = 48;
  options.quality = 3;
  options.sixteenBitTables = true;  // entries above 255: 16-bit tables in an SOF1 stream
  const std::vector<uint8_t> wide = MakeJpeg(options);
  ExpectSameAsLibjpeg(wide);
  EXPECT_GT(ReadOurs(wide).set.quantTables[1][63], 255);

  const std::vector<uint8_t> mergedWide = test::MergeQuantSegments(wide);  // one DQT, length 259
  ExpectSameAsLibjpeg(mergedWide);
  options.sixteenBitTables = false;
  options.quality = 50;
  const std::vector<uint8_t> merged = test::MergeQuantSegments(MakeJpeg(options));  // length 132
  ExpectSameAsLibjpeg(merged);
  const Decoded ours = ReadOurs(merged);
  // Table 0 of a quality-50 stream in stream order: T.81 Table K.1 in zig-zag order.
  const std::vector<uint16_t> head(ours.set.quantTables[0].begin(), ours.set.quantTables[0].begin() + 8);
  EXPECT_EQ(head, (std::vector<uint16_t>{16, 11, 12, 14, 12, 10, 16, 14}));
}

TEST(CoefReader, SkipsBytesBeforeTheStartOfImage) {
  TestJpegOptions options;
  options.width = 48;
  options.height = 32;
  const std::vector<uint8_t> jpeg = MakeJpeg(options);
  std::vector<uint8_t> padded = {0x00, 0x00, 0x12, 0xFF, 0x00, 0xFF, 0xC4, 0x00};
  padded.insert(padded.end(), jpeg.begin(), jpeg.end());
  const Decoded ours = ReadOurs(padded);
  const Decoded plain = ReadOurs(jpeg);
  EXPECT_EQ(ours.blockCount, 3 * 2 * 6);
  EXPECT_EQ(ours.set.blocks, plain.set.blocks);
}

TEST(CoefReader, LinearSearchDecodesWholeStreamsIdentically) {
  for (int quality : {5, 50, 100}) {
    TestJpegOptions options;
    options.width = 160;
    options.height = 120;
    options.quality = quality;
    options.restartInterval = quality == 50 ? 3 : 0;
    const std::vector<uint8_t> jpeg = MakeJpeg(options, 7);
    const Decoded fast = ReadOurs(jpeg);
    const Decoded linear = ReadOurs(jpeg, CJpegCoefReader::HuffmanSearch::Linear);
    ASSERT_EQ(fast.blockCount, linear.blockCount);
    EXPECT_EQ(fast.set.blocks, linear.set.blocks) << "quality " << quality;
  }
}

TEST(CoefReader, RefusesStreamsItDoesNotDecode) {
  TestJpegOptions options;
  options.width = 64;
  options.height = 32;
  TestJpegOptions progressive = options;
  progressive.progressive = true;
  TestJpegOptions grey = options;
  grey.grey = true;
  TestJpegOptions sampled422 = options;
  sampled422.sampling = Sampling::k422;
  for (const TestJpegOptions& refused : {progressive, grey, sampled422}) {
    const std::vector<uint8_t> samples(static_cast<std::size_t>(64 * 32 * (refused.grey ? 1 : 3)), 90);
    const Decoded ours = ReadOurs(test::MakeTestJpeg(refused, samples));
    EXPECT_EQ(ours.refusal, ErrorKind::kUnsupported);
    EXPECT_EQ(ours.blockCount, 0);
    EXPECT_EQ(ours.set.width, 64u);  // the frame header is still reported
    EXPECT_EQ(ours.set.height, 32u);
  }
}

TEST(CoefReader, TruncatedStreamStopsAtTheLastCompleteMcu) {
  TestJpegOptions options;
  options.width = 320;
  options.height = 240;
  const std::vector<uint8_t> jpeg = MakeJpeg(options);
  const Decoded whole = ReadOurs(jpeg);
  // Without its EOI the stream is still complete.
  const Decoded noEnd = ReadOurs(std::span(jpeg).first(jpeg.size() - 2));
  EXPECT_FALSE(noEnd.refusal);
  EXPECT_EQ(noEnd.blockCount, 1800);
  for (std::size_t keep : {jpeg.size() / 2, jpeg.size() - 40, std::size_t{700}, std::size_t{20}}) {
    const Decoded cut = ReadOurs(std::span(jpeg).first(keep));
    EXPECT_EQ(cut.refusal, ErrorKind::kDamaged) << keep;
    EXPECT_LT(cut.blockCount, 1800);
    EXPECT_EQ(cut.blockCount % 6, 0);
    for (int32_t i = 0; i < cut.blockCount; ++i) ASSERT_EQ(cut.set.blocks[i], whole.set.blocks[i]);
  }
}

TEST(CoefReader, RealJpegFiles) {
  if (!test::HaveSharedMediaFolder()) {
    GTEST_SKIP() << "shared media folder not found: " << test::SharedMediaPath("");
  }
  const std::vector<std::string> decoded = {"jpeg_420_227x149_testorig.jpg", "jpeg_420_dri10_150x150.jpg",
                                            "jpeg_420_q50_150x103.jpeg",     "jpeg_444_dri60_479x322.jpg",
                                            "jpeg_444_q50_150x103.jpeg",     "jpeg_camera_420_800x532.jpg"};
  for (const std::string& name : decoded) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> jpeg = test::ReadAllBytes(test::SharedMediaPath(name));
    ASSERT_FALSE(jpeg.empty());
    ExpectSameAsLibjpeg(jpeg);
  }
  const std::vector<std::string> refused = {"jpeg_422_q50_150x103.jpeg", "jpeg_camera_422_1280x960.jpg",
                                            "jpeg_grey_150x103.jpeg", "jpeg_progressive_420_1024x768.jpg",
                                            "jpeg_progressive_420_q50_150x103.jpeg",
                                            "jpeg_progressive_grey_150x103.jpeg"};
  for (const std::string& name : refused) {
    const std::vector<uint8_t> jpeg = test::ReadAllBytes(test::SharedMediaPath(name));
    ASSERT_FALSE(jpeg.empty()) << name;
    EXPECT_EQ(ReadOurs(jpeg).blockCount, 0) << name;
  }
}

}  // namespace
}  // namespace reel
