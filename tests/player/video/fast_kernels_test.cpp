// The fast kernels of the frame decoder against the plain ones on the same inputs: the AVX2
// inverse transform (where the processor has AVX2) and the SSE2 colour conversion must give
// exactly what the plain C++ gives, block by block, macroblock by macroblock and for whole frames
// from the converter's own path (a picture through the JPEG stage and the coefficient reader into
// the frame coder), at the edge sizes and at odd ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/picture_scaler.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"
#include "player/video/colour_conversion.h"
#include "player/video/frame_decoder.h"
#include "player/video/inverse_transform.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using Block = std::array<int16_t, 64>;

DequantTable Widened(const std::array<uint8_t, 64>& table) {
  DequantTable out{};
  std::copy(table.begin(), table.end(), out.begin());
  return out;
}

// Every block of a frame, the way the decoder meets them: legal coefficients from a real forward
// DCT, with the frame's own tables.
TEST(FastKernels, TransformOfRealBlocksMatchesThePlainOne) {
  for (int32_t quality : {10, 50, 95}) {
    const auto frame =
        CodeCoefficients(MakeSampleCoefficients(160, 112, quality, 2), quality);
    ASSERT_TRUE(frame);
    const auto decoded = DecodeFrameCoefficients(*frame);
    ASSERT_TRUE(decoded);
    for (std::size_t b = 0; b < decoded->blocks.size(); ++b) {
      const DequantTable quant = Widened(b % 6 < 4 ? decoded->lumaQuant : decoded->chromaQuant);
      Block plain = decoded->blocks[b];
      Block fast = plain;
      Block reference = plain;
      InverseTransformBlock(plain, quant, NonZeroMask(plain), Kernels::kPlain);
      InverseTransformBlock(fast, quant, NonZeroMask(fast), Kernels::kFastest);
      InverseTransformBlockReference(reference, quant);
      ASSERT_EQ(fast, plain) << "quality " << quality << ", block " << b;
      ASSERT_EQ(plain, reference) << "quality " << quality << ", block " << b;
    }
  }
}

// Random blocks of every shape the shortcuts tell apart (DC only, one column, the 4 x 4 corner,
// anywhere), with legal small values and with hostile full-range values and tables whose products
// wrap the 32-bit arithmetic.
TEST(FastKernels, TransformOfRandomBlocksMatchesThePlainOne) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 20000; ++trial) {
    const int shape = trial % 4;
    const bool hostile = trial % 8 >= 4;
    DequantTable quant{};
    for (uint16_t& factor : quant) {
      factor = static_cast<uint16_t>(hostile ? rng() : 1 + rng() % 255);
    }
    Block block{};
    const int terms = shape == 0 ? 1 : static_cast<int>(1 + rng() % 20);
    for (int t = 0; t < terms; ++t) {
      const std::size_t position = shape == 0   ? 0
                                   : shape == 1 ? (rng() % 8) * 8
                                   : shape == 2 ? (rng() % 4) * 8 + rng() % 4
                                                : rng() % 64;
      block[position] = static_cast<int16_t>(hostile ? static_cast<int32_t>(rng())
                                                     : static_cast<int32_t>(rng() % 121) - 60);
    }
    Block plain = block;
    Block fast = block;
    InverseTransformBlock(plain, quant, NonZeroMask(block), Kernels::kPlain);
    InverseTransformBlock(fast, quant, NonZeroMask(block), Kernels::kFastest);
    ASSERT_EQ(fast, plain) << "trial " << trial;
  }
}

// Macroblocks whose samples stay well inside the colour tables, reach just to their ends, or
// leave them (those take the clamped path, which is the same code either way).
TEST(FastKernels, ColourConversionMatchesThePlainOne) {
  std::mt19937 rng(12);
  const ColourTables& tables = ProcessColourTables();
  for (int trial = 0; trial < 4000; ++trial) {
    const int lumaSpread = std::array{60, 200, 384, 600}[trial % 4];
    const int chromaSpread = std::array{30, 150, 400, 16384}[trial / 4 % 4];
    std::array<DecodedBlock, 6> blocks{};
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      const int spread = b < 4 ? lumaSpread : chromaSpread;
      for (int16_t& sample : blocks[b]) {
        sample = static_cast<int16_t>(static_cast<int32_t>(rng() % (2 * spread + 1)) - spread);
      }
    }
    std::vector<uint16_t> plain(48 * 32, 0x5A5A);
    std::vector<uint16_t> fast = plain;
    ConvertMacroblock(blocks, tables, plain, 48, 16, 16, Kernels::kPlain);
    ConvertMacroblock(blocks, tables, fast, 48, 16, 16, Kernels::kFastest);
    ASSERT_EQ(fast, plain) << "trial " << trial;
  }
}

std::vector<uint16_t> Decoded(const std::vector<uint8_t>& frame, Kernels kernels) {
  FrameDecoder decoder(kernels);
  EXPECT_TRUE(decoder.DecodeFrame(frame));
  return {decoder.Pixels().begin(), decoder.Pixels().end()};
}

// A bottom-up 24-bit picture of the generated scene.
BmpImage ScenePicture(uint32_t width, uint32_t height, uint32_t index) {
  const RgbPicture scene = MakeSamplePicture(width, height, index);
  BmpImage image = *BmpImage::Create(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    const std::span<uint8_t> row = image.Row(height - 1 - y);
    for (uint32_t x = 0; x < width; ++x) {
      const std::size_t from = (std::size_t{y} * width + x) * 3;
      row[x * 3] = scene.rgb[from + 2];
      row[x * 3 + 1] = scene.rgb[from + 1];
      row[x * 3 + 2] = scene.rgb[from];
    }
  }
  return image;
}

// The converter's path for one picture: JPEG at `quality`, coefficients read back, frame coded.
std::vector<uint8_t> ConverterFrame(const BmpImage& picture, int32_t quality) {
  const auto jpeg = EncodeFrameJpeg(picture, quality);
  EXPECT_TRUE(jpeg);
  if (!jpeg) return {};
  CByteSource source(*jpeg);
  CJpegCoefReader reader;
  EXPECT_TRUE(reader.Decode(source));
  const auto frame = CodeCoefficients(reader.TakeCoefficients(), quality);
  EXPECT_TRUE(frame);
  return frame ? *frame : std::vector<uint8_t>{};
}

// (A picture much smaller than 8 x 8 cannot be coded: its streams outgrow the coder's buffers.)
TEST(FastKernels, ConverterFramesDecodeIdentically) {
  struct Case {
    uint32_t width, height;
    int32_t quality;
  };
  for (const Case c : {Case{16, 16, 50}, Case{8, 8, 50}, Case{17, 9, 75}, Case{320, 218, 50},
                       Case{320, 240, 30}, Case{640, 480, 50}, Case{64, 48, 100}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " q" << c.quality);
    const auto frame = ConverterFrame(ScenePicture(c.width, c.height, 4), c.quality);
    ASSERT_FALSE(frame.empty());
    const auto plain = Decoded(frame, Kernels::kPlain);
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(Decoded(frame, Kernels::kFastest) == plain);
  }
}

// A real photograph, scaled by the converter's scaler as a job would.
TEST(FastKernels, CameraPictureDecodesIdentically) {
  const auto path = std::filesystem::path(REEL_SHARED_MEDIA_DIR) / "jpeg_camera_420_800x532.jpg";
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << "shared media absent: " << path;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const auto photo = DecodeFrameJpeg(bytes);
  ASSERT_TRUE(photo);
  for (auto [width, height] : {std::pair{320u, 240u}, std::pair{640u, 480u}, std::pair{320u, 218u}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const auto scaled = ScalePicture(*photo, width, height);
    ASSERT_TRUE(scaled);
    const auto frame = ConverterFrame(*scaled, 50);
    const auto plain = Decoded(frame, Kernels::kPlain);
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(Decoded(frame, Kernels::kFastest) == plain);
  }
}

// Keeps only the DC terms of two macroblocks in three, which the fast path fills flat.
CoefficientSet WithFlatMacroblocks(CoefficientSet set) {
  for (std::size_t b = 0; b < set.blocks.size(); ++b) {
    if (b / kBlocksPerMacroblock % 3 != 0) std::fill(set.blocks[b].begin() + 1, set.blocks[b].end(), 0);
  }
  return set;
}

// Random coefficients and tables that reach every symbol rule and the extreme values, as they come
// and with flat macroblocks among them (random DC values, some far outside the colour tables).
TEST(FastKernels, RandomCoefficientFramesDecodeIdentically) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const uint32_t width = 16 + 16 * (seed % 5) - seed % 3;
    for (const bool flat : {false, true}) {
      const CoefficientSet coefficients = MakeRandomCoefficients(width, 48, seed);
      const auto frame = CodeCoefficients(flat ? WithFlatMacroblocks(coefficients) : coefficients, 50);
      ASSERT_TRUE(frame) << seed;
      const auto plain = Decoded(*frame, Kernels::kPlain);
      ASSERT_FALSE(plain.empty()) << seed;
      EXPECT_TRUE(Decoded(*frame, Kernels::kFastest) == plain) << seed << (flat ? " flat" : "");
    }
  }
}

}  // namespace
}  // namespace reel
