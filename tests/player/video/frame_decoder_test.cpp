#include "player/video/frame_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "converter/coder/frame_coder.h"
#include "hand_frame.h"
#include "player/video/colour_conversion.h"
#include "player/video/inverse_transform.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using test::AcSymbol;
using test::AcValue;
using test::HandFrame;

constexpr uint32_t kScreenPixels = 320 * 240;

std::vector<uint8_t> SampleFrame(uint32_t width, uint32_t height, uint32_t index = 0, int32_t quality = 50) {
  return *CodeCoefficients(MakeSampleCoefficients(width, height, quality, index), quality);
}

DequantTable Widened(const std::array<uint8_t, 64>& table) {
  DequantTable out{};
  std::copy(table.begin(), table.end(), out.begin());
  return out;
}

// The picture a frame decodes to, stage by stage with the plain pieces: the entropy stage by
// tree walk, the reference transform with the given tables, the colour conversion of each
// macroblock at its place in the padded picture.
std::vector<uint16_t> ExpectedPicture(const std::vector<uint8_t>& frame, const DequantTable& luma,
                                      const DequantTable& chroma) {
  auto decoded = DecodeFrameCoefficients(frame, SymbolDecoding::kTreeWalk);
  EXPECT_TRUE(decoded);
  if (!decoded) return {};
  const uint32_t paddedWidth = PaddedSize(decoded->width);
  std::vector<uint16_t> picture(std::size_t{paddedWidth} * PaddedSize(decoded->height));
  for (std::size_t b = 0; b < decoded->blocks.size(); ++b) {
    InverseTransformBlockReference(decoded->blocks[b], b % 6 < 4 ? luma : chroma);
  }
  for (std::size_t m = 0; m < decoded->blocks.size() / 6; ++m) {
    const auto x = static_cast<uint32_t>(m % (paddedWidth / 16) * 16);
    const auto y = static_cast<uint32_t>(m / (paddedWidth / 16) * 16);
    ConvertMacroblock(std::span(decoded->blocks).subspan(m * 6).first<6>(), ProcessColourTables(),
                      picture, paddedWidth, x, y, Kernels::kPlain);
  }
  return picture;
}

std::vector<uint16_t> ExpectedPicture(const std::vector<uint8_t>& frame) {
  const auto decoded = DecodeFrameCoefficients(frame);
  return ExpectedPicture(frame, Widened(decoded->lumaQuant), Widened(decoded->chromaQuant));
}

std::vector<uint16_t> PixelsOf(const FrameDecoder& decoder) {
  return {decoder.Pixels().begin(), decoder.Pixels().end()};
}

TEST(FrameDecoder, SampleFramesMatchTheStageByStageReference) {
  struct Case {
    uint32_t width, height;
    int32_t quality;
  };
  for (const Case c : {Case{320, 240, 50}, Case{320, 218, 75}, Case{640, 112, 30}, Case{48, 32, 100}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    std::vector<uint16_t> screen(kScreenPixels);
    FrameDecoder decoder;
    decoder.SetPictureBuffer(screen);
    const auto frame = SampleFrame(c.width, c.height, 1, c.quality);
    ASSERT_TRUE(decoder.DecodeFrame(frame));
    EXPECT_EQ(decoder.Width(), c.width);
    EXPECT_EQ(decoder.Height(), c.height);
    EXPECT_EQ(decoder.RowBytes(), 2 * PaddedSize(c.width));
    EXPECT_EQ(decoder.Pixels().data(), screen.data());
    EXPECT_TRUE(PixelsOf(decoder) == ExpectedPicture(frame));
  }
}

TEST(FrameDecoder, RandomCoefficientFramesMatchTheReference) {
  for (uint32_t seed = 0; seed < 6; ++seed) {
    const auto frame = *CodeCoefficients(MakeRandomCoefficients(64, 48, seed), 50);
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.DecodeFrame(frame));
    EXPECT_TRUE(PixelsOf(decoder) == ExpectedPicture(frame)) << seed;
  }
}

TEST(FrameDecoder, OddSizeIsDecodedAtThePaddedSize) {
  FrameDecoder decoder;
  const auto frame = SampleFrame(20, 18);
  ASSERT_TRUE(decoder.DecodeFrame(frame));
  EXPECT_EQ(decoder.Width(), 20u);
  EXPECT_EQ(decoder.Height(), 18u);
  EXPECT_EQ(decoder.PaddedWidth(), 32u);
  EXPECT_EQ(decoder.PaddedHeight(), 32u);
  EXPECT_EQ(decoder.RowBytes(), 64u);
  ASSERT_EQ(decoder.Pixels().size(), 32u * 32u);
  EXPECT_TRUE(PixelsOf(decoder) == ExpectedPicture(frame));
}

// A frame of the sample picture without its tables (the table flag cleared and the 128 bytes
// taken out).
std::vector<uint8_t> WithoutTables(std::vector<uint8_t> frame) {
  const test::FrameOffsets offsets = test::OffsetsOf(frame);
  frame.erase(frame.begin() + static_cast<std::ptrdiff_t>(offsets.tables),
              frame.begin() + static_cast<std::ptrdiff_t>(offsets.dcStream));
  frame[11] = 0;  // the flags' high byte: bit 27 off
  return frame;
}

TEST(FrameDecoder, TablesCarryOverToFramesWithoutThem) {
  const auto first = SampleFrame(64, 32, 0, 20);
  const auto second = SampleFrame(64, 32, 5, 90);
  const auto bare = WithoutTables(second);
  FrameDecoder decoder;
  ASSERT_TRUE(decoder.DecodeFrame(first));
  ASSERT_TRUE(decoder.DecodeFrame(bare));
  const auto tables = DecodeFrameCoefficients(first);
  EXPECT_TRUE(PixelsOf(decoder) ==
              ExpectedPicture(bare, Widened(tables->lumaQuant), Widened(tables->chromaQuant)));
  EXPECT_FALSE(PixelsOf(decoder) == ExpectedPicture(second));  // its own tables would differ
}

// Runs every frame of `bad` against a decoder that holds a good picture, and checks each is
// refused with the picture, its size and the tables left as they were.
void ExpectRefusedKeepingPicture(FrameDecoder& decoder, const std::vector<std::vector<uint8_t>>& bad) {
  const std::vector<uint16_t> before = PixelsOf(decoder);
  const uint32_t width = decoder.Width();
  const uint32_t height = decoder.Height();
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(decoder.DecodeFrame(bad[i]));
    EXPECT_EQ(decoder.Width(), width);
    EXPECT_EQ(decoder.Height(), height);
    EXPECT_TRUE(PixelsOf(decoder) == before);
  }
}

std::vector<uint8_t> Cut(std::vector<uint8_t> frame, std::size_t length) {
  frame.resize(length);
  return frame;
}

HandFrame ValidHandFrame() {
  HandFrame frame = test::DcOnlyFrame(16, 16, {10, 20, 30, 40, 50, 60});
  frame.ac = {AcValue(0, 5), AcSymbol(0), AcSymbol(0), AcSymbol(0), AcSymbol(0), AcSymbol(0), AcSymbol(0)};
  return frame;
}

TEST(FrameDecoder, DamagedFramesAreRefusedAndThePictureStays) {
  std::vector<uint16_t> screen(kScreenPixels);
  FrameDecoder decoder;
  decoder.SetPictureBuffer(screen);
  const auto good = SampleFrame(320, 240);
  ASSERT_TRUE(decoder.DecodeFrame(good));
  const test::FrameOffsets at = test::OffsetsOf(good);

  std::vector<std::vector<uint8_t>> bad = {
      {},
      Cut(good, 43),                   // shorter than the header
      Cut(good, 44 + 63),              // inside the DC counts
      Cut(good, at.acCounts + 5),      // inside the packed AC counts
      Cut(good, at.tables + 127),      // inside the tables
      Cut(good, at.dcStream + 8),      // inside the DC stream
      Cut(good, at.acStream + (good.size() - at.acStream) / 2),  // the AC stream runs out
  };
  auto dcTooLong = good;
  dcTooLong[28] = 0xFF;  // dcStreamSize far past the end
  bad.push_back(dcTooLong);
  auto headerOffsetFar = good;
  headerOffsetFar[4] = 0xF0;  // the table offset past the end
  bad.push_back(headerOffsetFar);

  for (int dimension : {16, 18}) {  // width or height 0
    auto zero = good;
    zero[static_cast<std::size_t>(dimension)] = 0;
    zero[static_cast<std::size_t>(dimension) + 1] = 0;
    bad.push_back(zero);
  }
  bad.push_back(SampleFrame(336, 240));  // 21 x 15 macroblocks: more than the screen holds
  bad.push_back(SampleFrame(640, 128));

  HandFrame shortDc = ValidHandFrame();
  shortDc.dcStreamSizeOverride = 0;  // the DC values run out at once
  bad.push_back(test::BuildFrame(shortDc));

  HandFrame noDcTree = ValidHandFrame();
  noDcTree.dcCounts = DcCounts{};
  noDcTree.dcCounts->fill(2100000000);  // every symbol used up: no node can be joined
  bad.push_back(test::BuildFrame(noDcTree));

  HandFrame oneAcSymbol = ValidHandFrame();
  oneAcSymbol.acCounts = AcCounts{};
  oneAcSymbol.acCounts->fill(2099999999);
  (*oneAcSymbol.acCounts)[0] = 7;  // a single live symbol: no tree to walk
  bad.push_back(test::BuildFrame(oneAcSymbol));

  HandFrame runTooFar = ValidHandFrame();
  runTooFar.ac.insert(runTooFar.ac.begin(), {AcSymbol(0xFF), AcSymbol(0xF0), AcValue(14, 1),
                                             AcValue(3, 1)});  // positions 45 .. 63
  runTooFar.lumaQuant.fill(9);  // a refused frame's tables must not be kept either
  bad.push_back(test::BuildFrame(runTooFar));

  ExpectRefusedKeepingPicture(decoder, bad);

  // The tables are still the good frame's: a frame without tables decodes with them.
  const auto bare = WithoutTables(SampleFrame(320, 240, 4));
  ASSERT_TRUE(decoder.DecodeFrame(bare));
  const auto tables = DecodeFrameCoefficients(good);
  EXPECT_TRUE(PixelsOf(decoder) ==
              ExpectedPicture(bare, Widened(tables->lumaQuant), Widened(tables->chromaQuant)));
}

TEST(FrameDecoder, FirstFrameWithoutTablesIsRefused) {
  FrameDecoder decoder;
  HandFrame frame = ValidHandFrame();
  frame.withTables = false;
  const Status decoded = decoder.DecodeFrame(test::BuildFrame(frame));
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.kind(), ErrorKind::kDamaged);
  EXPECT_TRUE(decoder.Pixels().empty());
  EXPECT_EQ(decoder.Width(), 0u);
  frame.withTables = true;
  EXPECT_TRUE(decoder.DecodeFrame(test::BuildFrame(frame)));
  frame.withTables = false;
  EXPECT_TRUE(decoder.DecodeFrame(test::BuildFrame(frame)));
}

TEST(FrameDecoder, OwnBufferIsSizedByTheFirstDecodedFrameAndNeverGrows) {
  FrameDecoder fresh;
  HandFrame broken = ValidHandFrame();
  broken.width = 8;  // a refused first frame allocates nothing
  broken.dcStreamSizeOverride = 0;
  EXPECT_FALSE(fresh.DecodeFrame(test::BuildFrame(broken)));
  ASSERT_TRUE(fresh.DecodeFrame(SampleFrame(48, 32)));
  const uint16_t* buffer = fresh.Pixels().data();
  EXPECT_TRUE(fresh.DecodeFrame(SampleFrame(32, 32)));  // 1,024 pixels fit in 1,536
  EXPECT_EQ(fresh.Pixels().data(), buffer);
  EXPECT_EQ(fresh.Pixels().size(), 1024u);
  EXPECT_FALSE(fresh.DecodeFrame(SampleFrame(48, 48)));  // 2,304 do not
  EXPECT_EQ(fresh.Width(), 32u);
}

// A reset decoder decodes as a new one: no picture, no tables to lend a frame without its own,
// and its own buffer sized afresh by the next frame, however large the last one was.
TEST(FrameDecoder, ResetDecodesAsANewDecoder) {
  FrameDecoder decoder;
  ASSERT_TRUE(decoder.DecodeFrame(SampleFrame(32, 32)));
  decoder.Reset();
  EXPECT_TRUE(decoder.Pixels().empty());
  EXPECT_EQ(decoder.Width(), 0u);
  EXPECT_FALSE(decoder.DecodeFrame(WithoutTables(SampleFrame(32, 32))));
  const auto larger = SampleFrame(64, 48, 3);
  ASSERT_TRUE(decoder.DecodeFrame(larger));  // 3,072 pixels, more than the first frame's 1,024
  EXPECT_TRUE(PixelsOf(decoder) == ExpectedPicture(larger));
}

TEST(FrameDecoder, HugeFrameWithoutOwnerBufferIsRefused) {
  // 4,080 x 16 pixels are 255 macroblocks; 65,535 x 1,024 would be 266,240.
  HandFrame frame = ValidHandFrame();
  frame.width = 65535;
  frame.height = 1024;
  FrameDecoder decoder;
  const Status decoded = decoder.DecodeFrame(test::BuildFrame(frame));
  ASSERT_FALSE(decoded);
  EXPECT_EQ(decoded.kind(), ErrorKind::kRefused);
  EXPECT_FALSE(DecodeFrameCoefficients(test::BuildFrame(frame)));
}

TEST(FrameDecoder, NewPictureBufferForgetsThePicture) {
  FrameDecoder decoder;
  ASSERT_TRUE(decoder.DecodeFrame(SampleFrame(32, 32)));
  std::vector<uint16_t> screen(kScreenPixels);
  decoder.SetPictureBuffer(screen);
  EXPECT_TRUE(decoder.Pixels().empty());
  ASSERT_TRUE(decoder.DecodeFrame(SampleFrame(320, 240)));
  EXPECT_EQ(decoder.Pixels().data(), screen.data());
  EXPECT_EQ(decoder.Pixels().size(), kScreenPixels);
}

}  // namespace
}  // namespace reel
