#include "player/video/frame_entropy_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "common/zigzag.h"
#include "converter/coder/frame_coder.h"
#include "hand_frame.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using test::AcSymbol;
using test::AcValue;
using test::DcValue;
using test::HandFrame;

// A 16 x 16 frame (one macroblock, six blocks) whose DC values are all 0 and whose AC stream is
// `ac`; every block but the first ends at once.
HandFrame OneBlockFrame(std::vector<test::StreamSymbol> ac) {
  HandFrame frame = test::DcOnlyFrame(16, 16, std::vector<int32_t>(6, 0));
  ac.insert(ac.end(), 5, AcSymbol(0));
  frame.ac = std::move(ac);
  return frame;
}

DecodedBlock FirstBlock(const HandFrame& frame) {
  const auto decoded = DecodeFrameCoefficients(test::BuildFrame(frame));
  EXPECT_TRUE(decoded.has_value());
  return decoded ? decoded->blocks.front() : DecodedBlock{};
}

// Natural position of AC position h (0 .. 62).
std::size_t At(std::size_t acPosition) { return kZigZag[acPosition + 1]; }

TEST(FrameEntropyDecoder, DocumentedBlockDecodesBack) {
  // Quantised DC 12 after a DC of 15; -3 at zig-zag position 1 and 1 at position 3.
  HandFrame frame = test::DcOnlyFrame(16, 16, {15, 12, 12, 12, 12, 12});
  frame.ac = {AcSymbol(0), AcValue(0, -3), AcValue(1, 1), AcSymbol(0),
              AcSymbol(0), AcSymbol(0),    AcSymbol(0),   AcSymbol(0)};
  EXPECT_EQ(frame.ac[1].symbol, 0x02);
  EXPECT_EQ(frame.ac[1].valueBits, 0u);
  EXPECT_EQ(frame.ac[2].symbol, 0x11);
  const auto decoded = DecodeFrameCoefficients(test::BuildFrame(frame));
  ASSERT_TRUE(decoded);
  const DecodedBlock& block = decoded->blocks[1];
  EXPECT_EQ(block[0], 12);
  EXPECT_EQ(block[kZigZag[1]], -3);
  EXPECT_EQ(block[kZigZag[3]], 1);
  int nonZero = 0;
  for (int16_t c : block) nonZero += c != 0;
  EXPECT_EQ(nonZero, 3);
}

TEST(FrameEntropyDecoder, DcChainRunsThroughAllBlocksAndWrapsAt16Bits) {
  // Two macroblocks: the chain continues from the second chroma block into the next luma block.
  HandFrame frame = test::DcOnlyFrame(32, 16, std::vector<int32_t>(12, 0));
  frame.dc = {DcValue(30000), DcValue(10000), DcValue(0), DcValue(-20000),
              DcValue(-30000), DcValue(-1), DcValue(5), DcValue(0),
              DcValue(0), DcValue(0), DcValue(0), DcValue(0)};
  const auto decoded = DecodeFrameCoefficients(test::BuildFrame(frame));
  ASSERT_TRUE(decoded);
  const std::vector<int16_t> expected = {30000, -25536, -25536, 20000, -10000, -10001,
                                         -9996, -9996,  -9996,  -9996, -9996,  -9996};
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(decoded->blocks[i][0], expected[i]) << i;
}

TEST(FrameEntropyDecoder, AcSymbolRules) {
  {
    SCOPED_TRACE("240 skips 15 positions, not 16");
    const DecodedBlock block = FirstBlock(OneBlockFrame({AcSymbol(0xF0), AcValue(0, 5), AcSymbol(0)}));
    EXPECT_EQ(block[At(15)], 5);
    EXPECT_EQ(block[At(16)], 0);
  }
  {
    SCOPED_TRACE("255 skips 30; skips add up");
    const DecodedBlock block =
        FirstBlock(OneBlockFrame({AcSymbol(0xFF), AcSymbol(0xF1), AcValue(2, -7), AcSymbol(0)}));
    EXPECT_EQ(block[At(48)], -7);  // 30 + 16 skipped, then a run of 2
  }
  {
    SCOPED_TRACE("a run with size 0 places a 0 and moves on by run + 1");
    const DecodedBlock block =
        FirstBlock(OneBlockFrame({AcValue(3, 0), AcValue(0, 9), AcValue(14, 0), AcValue(0, -1),
                                  AcSymbol(0)}));
    EXPECT_EQ(block[At(3)], 0);
    EXPECT_EQ(block[At(4)], 9);
    EXPECT_EQ(block[At(19)], 0);
    EXPECT_EQ(block[At(20)], -1);
  }
  {
    SCOPED_TRACE("value extension of every size, both signs");
    std::vector<test::StreamSymbol> ac;
    std::vector<int32_t> values;
    for (int32_t size = 1; size <= 15; ++size) {
      const int32_t low = 1 << (size - 1);
      for (int32_t value : {low, -low, 2 * low - 1, -(2 * low - 1)}) {
        values.push_back(value);
        ac.push_back(AcValue(0, value));
      }
    }
    ac.resize(63);
    values.resize(63);
    const DecodedBlock block = FirstBlock(OneBlockFrame(ac));
    for (std::size_t h = 0; h < 63; ++h) EXPECT_EQ(block[At(h)], values[h]) << h;
  }
}

TEST(FrameEntropyDecoder, BlockEnds) {
  std::vector<test::StreamSymbol> full;
  for (int32_t i = 0; i < 63; ++i) full.push_back(AcValue(0, i + 1));
  {
    SCOPED_TRACE("a block filled to position 62 needs no end symbol");
    auto ac = full;
    ac.push_back(AcValue(0, 77));  // the second block's first coefficient
    const auto decoded = DecodeFrameCoefficients(test::BuildFrame(OneBlockFrame(ac)));
    ASSERT_TRUE(decoded);
    for (std::size_t h = 0; h < 63; ++h) EXPECT_EQ(decoded->blocks[0][At(h)], h + 1);
    EXPECT_EQ(decoded->blocks[1][At(0)], 77);
  }
  {
    SCOPED_TRACE("a skip past the end completes the block without placing");
    std::vector<test::StreamSymbol> ac(full.begin(), full.begin() + 60);
    ac.push_back(AcSymbol(0xF0));
    ac.push_back(AcValue(0, 3));
    const auto decoded = DecodeFrameCoefficients(test::BuildFrame(OneBlockFrame(ac)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->blocks[0][At(60)], 0);
    EXPECT_EQ(decoded->blocks[1][At(0)], 3);
  }
  {
    SCOPED_TRACE("a run that would place past position 62 is refused");
    std::vector<test::StreamSymbol> ac(full.begin(), full.begin() + 60);
    ac.push_back(AcValue(2, 1));  // position 62: still inside
    EXPECT_TRUE(DecodeFrameCoefficients(test::BuildFrame(OneBlockFrame(ac))));
    ac.back() = AcValue(3, 1);  // position 63
    EXPECT_FALSE(DecodeFrameCoefficients(test::BuildFrame(OneBlockFrame(ac))));
  }
}

// The quantised values the coder codes: each dequantised coefficient divided by its table entry.
std::vector<DecodedBlock> Quantised(const CoefficientSet& set) {
  std::array<std::array<int32_t, 64>, 2> natural{};
  for (std::size_t t = 0; t < 2; ++t) {
    for (std::size_t i = 0; i < 64; ++i) natural[t][kZigZag[i]] = set.quantTables[t][i];
  }
  const std::size_t count = MacroblockColumns(set.width) * MacroblockRows(set.height) * 6;
  std::vector<DecodedBlock> blocks(count);
  for (std::size_t b = 0; b < count; ++b) {
    const auto& table = natural[b % 6 < 4 ? 0 : 1];
    for (std::size_t k = 0; k < 64; ++k) {
      blocks[b][k] = static_cast<int16_t>(set.blocks[b][k] / table[k]);
    }
  }
  return blocks;
}

void ExpectRoundTrip(const CoefficientSet& set, int32_t quality) {
  const auto coded = CodeCoefficients(set, quality);
  ASSERT_TRUE(coded);
  for (SymbolDecoding decoding : {SymbolDecoding::kLookupTable, SymbolDecoding::kTreeWalk}) {
    const auto decoded = DecodeFrameCoefficients(*coded, decoding);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, set.width);
    EXPECT_EQ(decoded->height, set.height);
    EXPECT_TRUE(decoded->blocks == Quantised(set));
    ASSERT_TRUE(decoded->hasTables);
    for (std::size_t i = 0; i < 64; ++i) {
      EXPECT_EQ(decoded->lumaQuant[kZigZag[i]], set.quantTables[0][i] & 0xFF);
      EXPECT_EQ(decoded->chromaQuant[kZigZag[i]], set.quantTables[1][i] & 0xFF);
    }
  }
}

struct RoundTripCase {
  uint32_t width;
  uint32_t height;
  int32_t quality;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, SamplePictureComesBack) {
  const RoundTripCase c = GetParam();
  ExpectRoundTrip(MakeSampleCoefficients(c.width, c.height, c.quality, 3), c.quality);
}

TEST_P(RoundTrip, RandomCoefficientsComeBack) {
  const RoundTripCase c = GetParam();
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    ExpectRoundTrip(MakeRandomCoefficients(c.width, c.height, seed * 7 + c.width), c.quality);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         testing::Values(RoundTripCase{16, 16, 50}, RoundTripCase{320, 240, 50},
                                         RoundTripCase{320, 218, 90}, RoundTripCase{33, 47, 100},
                                         RoundTripCase{640, 480, 10}, RoundTripCase{100, 60, 1}));

// Counts that follow the Fibonacci numbers give the deepest possible tree: one more level for
// each symbol, so the rarest symbols have code words far longer than the lookup table.
AcCounts DeepAcCounts() {
  AcCounts counts{};
  int32_t a = 1;
  int32_t b = 1;
  for (std::size_t i = 0; i < 40; ++i) {
    counts[i] = a;
    const int32_t next = a + b;
    a = b;
    b = next;
  }
  return counts;
}

TEST(FrameEntropyDecoder, LookupTableMatchesTheTreeWalk) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    std::vector<uint8_t> coded;
    if (trial % 2 == 0) {
      coded = *CodeCoefficients(MakeRandomCoefficients(48, 32, static_cast<uint32_t>(trial)), 50);
    } else {
      // Symbols from the deep end of a Fibonacci-shaped tree, and zero-count symbols (deeper
      // still), with values of every size.
      HandFrame frame = test::DcOnlyFrame(32, 16, std::vector<int32_t>(12, 0));
      frame.acCounts = DeepAcCounts();
      frame.ac.clear();
      for (int block = 0; block < 12; ++block) {
        for (int n = 0; n < 3; ++n) {
          const auto symbol = static_cast<int32_t>(1 + rng() % 239);
          frame.ac.push_back({symbol, static_cast<uint32_t>(rng()) & ((1u << (symbol & 15)) - 1),
                              static_cast<uint32_t>(symbol & 15)});
        }
        frame.ac.push_back(AcSymbol(0));
      }
      coded = test::BuildFrame(frame);
      EXPECT_GT(test::CodeWord(std::vector<int32_t>(frame.acCounts->begin(), frame.acCounts->end()), 200).size(), 40u);
    }
    const auto plain = DecodeFrameCoefficients(coded, SymbolDecoding::kTreeWalk);
    ASSERT_TRUE(plain.has_value());
    // Cut short, the streams run out: both fast decodes refuse exactly when the walk does.
    const std::vector<uint8_t> cut(coded.begin(), coded.end() - static_cast<std::ptrdiff_t>(1 + trial % 3));
    const auto plainCut = DecodeFrameCoefficients(cut, SymbolDecoding::kTreeWalk);
    for (SymbolDecoding decoding : {SymbolDecoding::kLookupTable, SymbolDecoding::kSymbolLookup}) {
      const auto fast = DecodeFrameCoefficients(coded, decoding);
      ASSERT_TRUE(fast.has_value());
      EXPECT_TRUE(fast->blocks == plain->blocks);
      const auto fastCut = DecodeFrameCoefficients(cut, decoding);
      ASSERT_EQ(fastCut.has_value(), plainCut.has_value());
      if (plainCut) {
        EXPECT_TRUE(fastCut->blocks == plainCut->blocks);
      }
    }
  }
}

}  // namespace
}  // namespace reel
