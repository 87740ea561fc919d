#include "converter/coder/frame_coder.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <span>
#include <utility>
#include <vector>

#include "common/byte_io.h"
#include "common/code_tree.h"
#include "common/qrx_format.h"
#include "common/symbol_counts.h"
#include "common/zigzag.h"
#include "converter/coder/bit_writer.h"
#include "converter/coder/frame_symbols.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

// A plain reading of a coded frame, independent of the coder: the symbols of both streams,
// decoded by walking the trees rebuilt from the stored counts.
struct ReadFrame {
  QrxFrameHeader header;
  DcCounts dcCounts{};
  AcCounts acCounts{};
  std::size_t packedLength = 0;
  std::vector<FrameSymbol> dc, ac;
};

class PlainBitReader {
 public:
  explicit PlainBitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Bit() {
    const uint32_t bit = (bytes_[pos_ / 8] >> (pos_ % 8)) & 1u;
    ++pos_;
    return bit;
  }
  std::size_t Position() const { return pos_; }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t pos_ = 0;
};

FrameSymbol ReadSymbol(PlainBitReader& in, const CodeTree& tree, bool acValueRule) {
  int32_t node = tree.root;
  while (!tree.IsLeaf(node)) node = in.Bit() ? tree.child1[static_cast<size_t>(node)] : tree.child0[static_cast<size_t>(node)];
  FrameSymbol s;
  s.symbol = static_cast<uint8_t>(node);
  s.bitCount = acValueRule ? (node >= 0xF0 ? 0 : node & 15) : static_cast<uint8_t>(node);
  for (uint32_t i = 0; i < s.bitCount; ++i) s.bits = static_cast<uint16_t>((s.bits << 1) | in.Bit());
  return s;
}

ReadFrame ReadWholeFrame(const std::vector<uint8_t>& frame, std::size_t dcSymbols) {
  ReadFrame r;
  r.header = ReadQrxFrameHeader(std::span<const uint8_t>(frame).first<kQrxFrameHeaderSize>());
  ByteReader counts(std::span<const uint8_t>(frame).subspan(kQrxFrameHeaderSize));
  for (auto& c : r.dcCounts) c = counts.I32();
  const auto unpacked = UnpackAcCounts(std::span<const uint8_t>(frame).subspan(kQrxFrameHeaderSize + 64));
  r.acCounts = unpacked->counts;
  r.packedLength = unpacked->paddedLength;
  const std::size_t dcStart = kQrxFrameHeaderSize + 64 + r.packedLength + 128;
  std::span<const uint8_t> dcBytes(frame.data() + dcStart, r.header.dcStreamSize);
  std::span<const uint8_t> acBytes(frame.data() + dcStart + r.header.dcStreamSize, r.header.acStreamSize);
  const CodeTree dcTree = BuildCodeTreeLinear(r.dcCounts);
  PlainBitReader dcIn(dcBytes);
  for (std::size_t i = 0; i < dcSymbols; ++i) r.dc.push_back(ReadSymbol(dcIn, dcTree, false));
  const CodeTree acTree = BuildCodeTreeLinear(r.acCounts);
  PlainBitReader acIn(acBytes);
  std::size_t expectedAc = 0;
  for (int32_t c : r.acCounts) expectedAc += static_cast<std::size_t>(c);
  for (std::size_t i = 0; i < expectedAc; ++i) r.ac.push_back(ReadSymbol(acIn, acTree, true));
  return r;
}

CoefficientSet FlatSet(uint32_t width, uint32_t height, int32_t dc) {
  CoefficientSet set;
  set.width = width;
  set.height = height;
  set.quantTables = {ScaledQuantTable(0, 50), ScaledQuantTable(1, 50)};
  CoefficientBlock block{};
  block[0] = dc;
  set.blocks.assign(size_t{MacroblockColumns(width)} * MacroblockRows(height) * 6, block);
  return set;
}

std::vector<uint8_t> BytesOf(const BitWriter& writer) { return {writer.Bytes().begin(), writer.Bytes().end()}; }

TEST(BitWriter, FirstBitGoesToBitZeroAndFlushCompletesTheWord) {
  BitWriter w;
  w.PutLsbFirst(1, 1);
  w.PutLsbFirst(0, 1);
  w.PutLsbFirst(1, 1);
  w.Flush();
  EXPECT_EQ(BytesOf(w), (std::vector<uint8_t>{0x05, 0, 0, 0}));
  w.Flush();  // nothing pending: nothing stored
  EXPECT_EQ(w.Bytes().size(), 4u);

  BitWriter values;
  values.PutMsbFirst(0b110, 3);  // value bits go most significant first
  values.PutLsbFirst(0xFFFFFFFF, 32);
  values.Flush();
  EXPECT_EQ(BytesOf(values), (std::vector<uint8_t>{0xFB, 0xFF, 0xFF, 0xFF, 0x07, 0, 0, 0}));
}

// The fast path against the plain one on the same pieces: runs of pieces of every length 0 ... 32
// (none, one, crossing words, ending on a word boundary), between plain writes, on a writer
// emptied and used again.
TEST(BitWriter, FastPathWritesWhatThePlainOneWrites) {
  uint32_t state = 11;
  const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  BitWriter fast;
  for (const std::size_t pieces : {0u, 1u, 2u, 31u, 32u, 33u, 500u}) {
    std::vector<std::pair<uint32_t, uint32_t>> run(pieces);
    for (auto& [bits, count] : run) {
      count = pieces == 32 ? 32 : next() % 33;  // 32 pieces of 32 bits end on a word boundary
      bits = count == 32 ? next() : next() & ((1u << count) - 1);
    }
    const uint32_t before = pieces == 32 ? 0 : next() % 32;
    BitWriter plain;
    fast.Clear();
    for (BitWriter* w : {&plain, &fast}) w->PutLsbFirst(0x2AAAAAAAu, before);
    for (const auto& [bits, count] : run) plain.PutLsbFirst(bits, count);
    fast.PutShortPieces(run.size(), [&](auto put) {
      for (const auto& [bits, count] : run) put(bits, count);
    });
    for (BitWriter* w : {&plain, &fast}) {
      w->PutLsbFirst(1, 1);
      w->Flush();
    }
    ASSERT_EQ(BytesOf(fast), BytesOf(plain)) << pieces << " pieces after " << before << " bits";
  }
}

TEST(BitWriter, ReversingValueBitsMatchesTheBitByBitReversal) {
  uint32_t state = 7;
  for (uint32_t count = 0; count <= 32; ++count) {
    for (int round = 0; round < 200; ++round) {
      state = state * 1664525u + 1013904223u;
      uint32_t expected = 0;
      for (uint32_t i = 0; i < count; ++i) expected = (expected << 1) | ((state >> i) & 1u);
      ASSERT_EQ(ReverseLowBits(state, count), expected) << count;
    }
  }
}

TEST(FrameSymbols, MagnitudeCategoriesAndValueBits) {
  EXPECT_EQ(MagnitudeSize(0), 0u);
  EXPECT_EQ(MagnitudeSize(-1), 1u);
  EXPECT_EQ(MagnitudeBits(-1), 0);
  EXPECT_EQ(MagnitudeSize(-3), 2u);
  EXPECT_EQ(MagnitudeBits(-3), 0);
  EXPECT_EQ(MagnitudeSize(-5), 3u);
  EXPECT_EQ(MagnitudeBits(-5), 2);
  EXPECT_EQ(MagnitudeSize(16383), 14u);
  EXPECT_EQ(MagnitudeSize(16384), 15u);
  EXPECT_EQ(MagnitudeSize(INT_MIN), 15u);
  EXPECT_EQ(MagnitudeBits(INT_MIN), 0x7FFF);  // (v AND 0x7FFF) - 1, kept to 15 bits
  EXPECT_EQ(MagnitudeBits(40000), 40000 & 0x7FFF);
}

TEST(FrameSymbols, OneBlockWorkedExample) {
  EXPECT_EQ(DcSymbol(12 - 15), (FrameSymbol{2, 2, 0}));
  std::array<int32_t, 64> block{};
  block[kZigZag[1]] = -3;
  block[kZigZag[3]] = 1;
  std::vector<FrameSymbol> ac;
  AppendAcSymbols(block, ac);
  EXPECT_EQ(ac, (std::vector<FrameSymbol>{{0x02, 2, 0}, {0x11, 1, 1}, {0x00, 0, 0}}));
}

TEST(FrameSymbols, LongRunsAreCutIntoThirtyAndFifteenPlusSymbols) {
  struct Case {
    uint32_t run;
    std::vector<uint8_t> symbols;
  };
  const std::vector<Case> cases = {{14, {0xE1}},       {15, {0xF0, 0x01}}, {30, {0xFF, 0x01}},
                                   {31, {0xFF, 0x11}}, {45, {0xFF, 0xF0, 0x01}}, {60, {0xFF, 0xFF, 0x01}}};
  for (const Case& c : cases) {
    std::array<int32_t, 64> block{};
    block[kZigZag[c.run + 1]] = 1;  // the value after `run` zeros
    std::vector<FrameSymbol> ac;
    AppendAcSymbols(block, ac);
    if (c.run + 1 < 63) ac.pop_back();  // the end-of-block symbol
    std::vector<uint8_t> symbols;
    for (const FrameSymbol& s : ac) symbols.push_back(s.symbol);
    EXPECT_EQ(symbols, c.symbols) << "run " << c.run;
  }
  std::array<int32_t, 64> full{};
  full[63] = 7;  // last coefficient non-zero: no end-of-block symbol
  std::vector<FrameSymbol> ac;
  AppendAcSymbols(full, ac);
  ASSERT_EQ(ac.size(), 3u);  // 62 zeros: 0xFF, then 32 zeros: 0xFF, then 2 zeros with the value
  EXPECT_EQ(ac[0].symbol, 0xFF);
  EXPECT_EQ(ac[1].symbol, 0xFF);
  EXPECT_EQ(ac[2], (FrameSymbol{0x23, 3, 7}));
}

TEST(FrameCoder, FlatColourFrameLayout) {
  const auto frame = CodeCoefficients(FlatSet(320, 240, 80), 50);
  ASSERT_TRUE(frame);
  const ReadFrame r = ReadWholeFrame(*frame, 1800);
  EXPECT_EQ(r.header.tag, kQrxFrameTag);
  EXPECT_EQ(r.header.headerSize, 44u);
  EXPECT_EQ(r.header.flags, 0x08000001u);
  EXPECT_EQ(r.header.quality, 50);
  EXPECT_EQ(r.header.width, 320);
  EXPECT_EQ(r.header.height, 240);
  EXPECT_EQ(r.header.bitsPerPixel, 24u);
  EXPECT_EQ(r.acCounts[0], 1800);
  EXPECT_EQ(r.packedLength, 12u);
  const std::vector<uint8_t> packed(frame->begin() + 108, frame->begin() + 120);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0x08, 0x07, 0, 255, 0, 255, 0, 255, 0, 253, 0, 0}));
  // End-of-block is the only AC symbol: code word "1", one bit per block.
  EXPECT_EQ(r.header.acStreamSize, 228u);  // 1,800 bits in 57 words
  const std::size_t acStart = 236 + 12 + r.header.dcStreamSize;
  EXPECT_EQ((*frame)[acStart], 0xFF);
  EXPECT_EQ(frame->size(), 236 + 12 + r.header.dcStreamSize + r.header.acStreamSize);
  // Quantisation tables in natural order after the counts.
  const QuantTable luma = ScaledQuantTable(0, 50);
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ((*frame)[120 + kZigZag[i]], luma[i]);
  // The DC chain: the first value whole (80 / 16 = 5 for luma), then differences.
  EXPECT_EQ(r.dc[0].symbol, MagnitudeSize(5));
}

TEST(FrameCoder, DcChainRunsAcrossComponentsAndMacroblocks) {
  CoefficientSet set = FlatSet(32, 16, 0);
  for (auto& q : set.quantTables[0]) q = 1;
  for (auto& q : set.quantTables[1]) q = 1;
  const std::array<int32_t, 12> dcs = {10, 12, 12, 9, -4, 100, 101, 101, 101, 101, 0, 0};
  for (std::size_t b = 0; b < 12; ++b) set.blocks[b][0] = dcs[b];
  const auto frame = CodeCoefficients(set, 100);
  ASSERT_TRUE(frame);
  const ReadFrame r = ReadWholeFrame(*frame, 12);
  int32_t previous = 0;
  for (std::size_t b = 0; b < 12; ++b) {
    EXPECT_EQ(r.dc[b], DcSymbol(b == 0 ? dcs[0] : dcs[b] - previous)) << b;
    previous = dcs[b];
  }
}

TEST(FrameCoder, StreamsReadBackToTheSymbolsOfEveryBlock) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const CoefficientSet set = seed % 2 ? MakeRandomCoefficients(64, 48, seed) : MakeSampleCoefficients(96, 80, 30 * static_cast<int32_t>(seed), seed);
    const auto frame = CodeCoefficients(set, 75);
    ASSERT_TRUE(frame) << seed;
    const std::size_t blocks = set.blocks.size();
    const ReadFrame r = ReadWholeFrame(*frame, blocks);
    std::vector<FrameSymbol> expectedAc;
    int32_t previous = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
      const QuantTable& zig = set.quantTables[b % 6 < 4 ? 0 : 1];
      std::array<int32_t, 64> quantised{};
      for (std::size_t i = 0; i < 64; ++i) quantised[kZigZag[i]] = set.blocks[b][kZigZag[i]] / zig[i];
      EXPECT_EQ(r.dc[b], DcSymbol(b == 0 ? quantised[0] : quantised[0] - previous));
      previous = quantised[0];
      AppendAcSymbols(quantised, expectedAc);
    }
    EXPECT_EQ(r.ac, expectedAc) << seed;
    EXPECT_EQ(r.header.dcStreamSize % 4, 0u);
    EXPECT_EQ(r.header.acStreamSize % 4, 0u);
  }
}

TEST(FrameCoder, OddSizesKeepTheirSizeAndCodeThePaddedMacroblocks) {
  const CoefficientSet set = MakeSampleCoefficients(320, 218, 50, 0);
  EXPECT_EQ(set.blocks.size(), 20u * 14u * 6u);
  const auto frame = CodeCoefficients(set, 50);
  ASSERT_TRUE(frame);
  const QrxFrameHeader header = ReadQrxFrameHeader(std::span<const uint8_t>(*frame).first<kQrxFrameHeaderSize>());
  EXPECT_EQ(header.width, 320);
  EXPECT_EQ(header.height, 218);
}

TEST(FrameCoder, SetsBeyondTheFormatsLimitsAreRefused) {
  EXPECT_FALSE(CodeCoefficients(FlatSet(0, 240, 0), 50));
  EXPECT_FALSE(CodeCoefficients(FlatSet(320, 0, 0), 50));
  EXPECT_FALSE(CodeCoefficients(FlatSet(1280, 1024, 0), 50));  // 5,120 macroblocks
  EXPECT_TRUE(CodeCoefficients(FlatSet(1280, 992, 0), 50));     // 4,960 macroblocks
  CoefficientSet wide = FlatSet(16, 16, 0);
  wide.width = 70000;
  EXPECT_FALSE(CodeCoefficients(wide, 50));

  CoefficientSet shortSet = FlatSet(320, 240, 0);
  shortSet.blocks.pop_back();
  EXPECT_FALSE(CodeCoefficients(shortSet, 50));

  CoefficientSet zeroTable = FlatSet(32, 32, 0);
  zeroTable.quantTables[1][5] = 0;
  EXPECT_FALSE(CodeCoefficients(zeroTable, 50));

  // An 8 x 8 picture has a 64-byte DC buffer and a 192-byte AC buffer: dense large values
  // cannot fit and are refused rather than written past the buffers.
  CoefficientSet dense = FlatSet(8, 8, 0);
  dense.quantTables[0].fill(1);
  dense.quantTables[1].fill(1);
  for (auto& block : dense.blocks) {
    for (std::size_t k = 0; k < 64; ++k) block[k] = static_cast<int32_t>(1000 + 37 * k) * (k % 2 ? -1 : 1);
  }
  EXPECT_FALSE(CodeCoefficients(dense, 100));
  EXPECT_TRUE(CodeCoefficients(FlatSet(8, 8, 40), 50));  // a plain 8 x 8 picture fits
}

}  // namespace
}  // namespace reel
