// FrameCoder against CodeCoefficients, the plain coder it stands beside: the same frame bytes (or
// the same refusal), from dequantised and from quantised values, on real photographs, generated
// scenes, random coefficients, values that vanish when divided back by their table entries, the
// edge sizes, trees too deep for one 32-bit write, and one coder reused across frames of every
// size.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "common/code_tree.h"
#include "common/qrx_format.h"
#include "common/symbol_counts.h"
#include "common/zigzag.h"
#include "converter/coder/frame_coder.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"
#include "tests/support/file_bytes.h"
#include "tests/support/shared_media.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

// The set's values divided back by their table entries (an entry of 0 leaves its value as it is),
// or none when a quotient does not fit 16 bits.
std::optional<QuantisedSet> QuantisedOf(const CoefficientSet& set) {
  QuantisedSet quantised{set.width, set.height, std::vector<QuantisedBlock>(set.blocks.size()), set.quantTables};
  for (std::size_t b = 0; b < set.blocks.size(); ++b) {
    const QuantTable& table = set.quantTables[b % 6 < 4 ? 0 : 1];
    for (std::size_t i = 0; i < 64; ++i) {
      const int32_t entry = table[i];
      const int32_t value = set.blocks[b][kZigZag[i]];
      const int32_t quotient = entry == 0 ? value : value / entry;
      if (quotient < INT16_MIN || quotient > INT16_MAX) return std::nullopt;
      quantised.blocks[b][kZigZag[i]] = static_cast<int16_t>(quotient);
    }
  }
  return quantised;
}

// The reusable coder gives the reference's bytes from the dequantised set and, where its values
// fit, from the quantised one.
void ExpectSameFrame(FrameCoder& coder, const CoefficientSet& set, int32_t quality) {
  const std::optional<std::vector<uint8_t>> reference = CodeCoefficients(set, quality);
  const std::optional<QuantisedSet> quantised = QuantisedOf(set);
  std::vector<std::optional<std::vector<uint8_t>>> fast = {coder.Code(set, quality)};
  if (quantised) fast.push_back(coder.Code(*quantised, quality));
  for (const std::optional<std::vector<uint8_t>>& frame : fast) {
    ASSERT_EQ(reference.has_value(), frame.has_value()) << set.width << " x " << set.height;
    if (reference) {
      ASSERT_EQ(*reference, *frame) << set.width << " x " << set.height;
    }
  }
}

CoefficientSet CoefficientsOfJpeg(const std::vector<uint8_t>& jpeg) {
  CByteSource source(jpeg);
  CJpegCoefReader reader;
  EXPECT_TRUE(reader.Decode(source));
  return reader.TakeCoefficients();
}

TEST(FrameCoderEquality, RealPhotographsAtSeveralQualities) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "shared media folder absent";
  FrameCoder coder;
  for (const char* name : {"jpeg_camera_420_800x532.jpg", "jpeg_420_227x149_testorig.jpg", "jpeg_444_dri60_479x322.jpg",
                           "jpeg_420_dri10_150x150.jpg"}) {
    const std::vector<uint8_t> original = test::ReadAllBytes(test::SharedMediaPath(name));
    ASSERT_FALSE(original.empty()) << name;
    const std::optional<BmpImage> picture = DecodeFrameJpeg(original);
    ASSERT_TRUE(picture) << name;
    for (int32_t quality : {5, 50, 100}) {
      const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(*picture, quality);
      ASSERT_TRUE(jpeg) << name;
      ExpectSameFrame(coder, CoefficientsOfJpeg(*jpeg), quality);
    }
  }
}

TEST(FrameCoderEquality, ScenesAndRandomCoefficientsAtEdgeSizes) {
  FrameCoder coder;
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {7, 3}, {8, 8}, {17, 9}, {321, 241}, {320, 240},
                                                 {640, 480}, {33, 500}};
  uint32_t seed = 1;
  for (const auto& [width, height] : sizes) {
    ExpectSameFrame(coder, MakeSampleCoefficients(width, height, 50, seed), 50);
    ExpectSameFrame(coder, MakeSampleCoefficients(width, height, 95, seed), 95);
    ExpectSameFrame(coder, MakeRandomCoefficients(width, height, seed), 50);
    ++seed;
  }
  for (uint32_t more = 0; more < 40; ++more) ExpectSameFrame(coder, MakeRandomCoefficients(64, 48, 100 + more), 50);
}

// Dequantised values need not be multiples of their entries: the ones below their entry divide
// back to 0 and count as zeros in the runs; the extremes of 32 bits divide without overflow.
TEST(FrameCoderEquality, ValuesThatVanishOrSitAtTheExtremes) {
  FrameCoder coder;
  CoefficientSet set = MakeRandomCoefficients(48, 32, 9);
  uint32_t state = 5;
  for (auto& block : set.blocks) {
    for (int32_t& value : block) {
      state = state * 1664525u + 1013904223u;
      const uint32_t pick = state >> 28;
      if (pick == 0) value = INT32_MIN;
      if (pick == 1) value = INT32_MAX;
      if (pick >= 2 && pick < 8) value = static_cast<int32_t>(state >> 20 & 7) - 3;
    }
  }
  set.quantTables[0].fill(4);
  set.quantTables[1].fill(65535);
  ExpectSameFrame(coder, set, 50);
  set.quantTables[0].fill(1);
  ExpectSameFrame(coder, set, 50);
}

// AC symbols whose counts grow like the Fibonacci numbers make a tree whose rarest code words are
// longer than 17 steps, so with 15 value bits they no longer fit one 32-bit write.
TEST(FrameCoderEquality, TreesTooDeepForOneWrite) {
  // (zeros before, magnitude size) of each symbol, rarest first.
  std::vector<std::pair<uint32_t, int32_t>> symbols = {{1, 15}};
  for (int32_t size = 15; size >= 1; --size) symbols.emplace_back(0, size);
  for (int32_t size = 1; size <= 9; ++size) symbols.emplace_back(1, size);
  CoefficientSet set;
  set.width = 640;
  set.height = 480;
  set.quantTables[0].fill(1);
  set.quantTables[1].fill(1);
  set.blocks.assign(std::size_t{40} * 30 * 6, CoefficientBlock{});
  std::size_t block = 0;
  std::size_t position = 1;  // zig-zag position in the block
  uint64_t count = 1;
  uint64_t next = 1;
  for (const auto& [zeros, size] : symbols) {
    for (uint64_t n = 0; n < count; ++n) {
      if (position + zeros > 63) {
        ++block;
        position = 1;
      }
      ASSERT_LT(block, set.blocks.size());
      position += zeros;
      set.blocks[block][kZigZag[position++]] = (1 << (size - 1)) | 1;
    }
    const uint64_t sum = count + next;
    count = next;
    next = sum;
  }
  FrameCoder coder;
  ExpectSameFrame(coder, set, 50);

  // The tree really is that deep for the rarest symbol, which carries 15 value bits.
  const std::optional<std::vector<uint8_t>> frame = CodeCoefficients(set, 50);
  ASSERT_TRUE(frame);
  const auto stored = UnpackAcCounts(std::span<const uint8_t>(*frame).subspan(kQrxFrameHeaderSize + 64));
  ASSERT_TRUE(stored);
  const CodeTree tree = BuildCodeTree(stored->counts);
  uint32_t depth = 0;
  for (int32_t node = 0x1F; tree.parent[static_cast<std::size_t>(node)] >= 0; node = tree.parent[static_cast<std::size_t>(node)]) {
    ++depth;
  }
  EXPECT_GT(depth + 15, 32u);
}

TEST(FrameCoderEquality, OneCoderAcrossFramesOfEverySizeAndTheRefusals) {
  FrameCoder coder;
  ExpectSameFrame(coder, MakeSampleCoefficients(1280, 992, 50, 3), 50);
  ExpectSameFrame(coder, MakeSampleCoefficients(16, 16, 50, 4), 50);
  ExpectSameFrame(coder, MakeRandomCoefficients(640, 480, 5), 50);
  CoefficientSet refused = MakeSampleCoefficients(64, 64, 50, 6);
  refused.blocks.pop_back();
  ExpectSameFrame(coder, refused, 50);
  refused = MakeSampleCoefficients(64, 64, 50, 6);
  refused.quantTables[1][5] = 0;
  ExpectSameFrame(coder, refused, 50);
  refused.width = 0;
  ExpectSameFrame(coder, refused, 50);
  // Dense large values overflow an 8 x 8 picture's stream buffers: refused by both.
  CoefficientSet dense = MakeSampleCoefficients(8, 8, 50, 7);
  dense.quantTables[0].fill(1);
  dense.quantTables[1].fill(1);
  for (auto& block : dense.blocks) {
    for (std::size_t k = 0; k < 64; ++k) block[k] = static_cast<int32_t>(1000 + 37 * k) * (k % 2 ? -1 : 1);
  }
  ExpectSameFrame(coder, dense, 100);
  ExpectSameFrame(coder, MakeSampleCoefficients(320, 240, 50, 8), 50);
}

}  // namespace
}  // namespace reel
