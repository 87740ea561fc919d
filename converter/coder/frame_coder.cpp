// The frame coder: quantised coefficients to a self-contained "JBP1" frame.
//
// Stages, in order: check the set against the format's limits, restore the quantised values (each
// dequantised coefficient divided by its table entry, truncating toward zero, gives back exactly
// what the JPEG held), turn the DC chain and the AC runs into symbols, count them, build one code
// tree per stream from the counts, write the two bit streams, and lay out the frame. The counts
// are stored before the trees are built from them; the reader rebuilds identical trees from them.
#include "converter/coder/frame_coder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "common/byte_io.h"
#include "common/code_tree.h"
#include "common/qrx_format.h"
#include "common/symbol_counts.h"
#include "common/zigzag.h"
#include "converter/coder/bit_writer.h"
#include "converter/coder/frame_symbols.h"

namespace reel {
namespace {

constexpr uint32_t kMaxFrameSide = 0xFFFF;  // the frame header holds 16-bit sizes
constexpr uint32_t kBitsPerPixelStored = 24;

using NaturalTable = std::array<uint32_t, 64>;

// A code word as the path from the root, first step in bit 0 of words[0]. Trees over 256 symbols
// are at most 255 deep.
struct CodeWord {
  std::array<uint32_t, 8> words{};
  uint32_t length = 0;
};

struct FrameSymbols {
  std::vector<FrameSymbol> dc;
  std::vector<FrameSymbol> ac;
  DcCounts dcCounts{};
  AcCounts acCounts{};
};

NaturalTable ToNaturalOrder(const QuantTable& zigzagTable) {
  NaturalTable natural{};
  for (std::size_t i = 0; i < 64; ++i) natural[kZigZag[i]] = zigzagTable[i];
  return natural;
}

bool TableUsable(const NaturalTable& table) {
  for (uint32_t q : table) {
    if (q == 0) return false;
  }
  return true;
}

// Table entries are 1 ... 65,535, so the 32-bit division truncates toward zero without overflow;
// most coefficients are 0 and need no division at all.
std::array<int32_t, 64> Quantise(const CoefficientBlock& block, const NaturalTable& table) {
  std::array<int32_t, 64> out{};
  for (std::size_t k = 0; k < 64; ++k) {
    if (block[k] != 0) out[k] = block[k] / static_cast<int32_t>(table[k]);
  }
  return out;
}

int32_t WrappingDifference(int32_t value, int32_t previous) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) - static_cast<uint32_t>(previous));
}

FrameSymbols CollectSymbols(const CoefficientSet& set, uint32_t macroblocks,
                            const NaturalTable& luma, const NaturalTable& chroma) {
  FrameSymbols symbols;
  symbols.dc.reserve(macroblocks * kBlocksPerMacroblock);
  symbols.ac.reserve(macroblocks * kBlocksPerMacroblock * 8);
  int32_t previousDc = 0;
  for (std::size_t b = 0; b < std::size_t{macroblocks} * kBlocksPerMacroblock; ++b) {
    const bool isLuma = b % kBlocksPerMacroblock < 4;
    const std::array<int32_t, 64> quantised = Quantise(set.blocks[b], isLuma ? luma : chroma);
    const int32_t difference = b == 0 ? quantised[0] : WrappingDifference(quantised[0], previousDc);
    previousDc = quantised[0];
    symbols.dc.push_back(DcSymbol(difference));
    ++symbols.dcCounts[symbols.dc.back().symbol];
    const std::size_t acStart = symbols.ac.size();
    AppendAcSymbols(quantised, symbols.ac);
    for (std::size_t i = acStart; i < symbols.ac.size(); ++i) ++symbols.acCounts[symbols.ac[i].symbol];
  }
  return symbols;
}

template <std::size_t N>
std::array<CodeWord, N> CodeWords(const std::array<int32_t, N>& counts) {
  const CodeTree tree = BuildCodeTree(counts);
  std::array<CodeWord, N> words{};
  for (std::size_t symbol = 0; symbol < N; ++symbol) {
    // Walk up to the root, then lay the steps out root first.
    std::array<uint8_t, 2 * N> steps{};
    uint32_t depth = 0;
    for (auto node = static_cast<int32_t>(symbol); tree.parent[static_cast<std::size_t>(node)] >= 0;) {
      const int32_t up = tree.parent[static_cast<std::size_t>(node)];
      steps[depth++] = tree.child1[static_cast<std::size_t>(up)] == node ? 1 : 0;
      node = up;
    }
    CodeWord& word = words[symbol];
    word.length = depth;
    for (uint32_t i = 0; i < depth; ++i) {
      if (steps[depth - 1 - i]) word.words[i / 32] |= 1u << (i % 32);
    }
  }
  return words;
}

template <std::size_t N>
std::vector<uint8_t> WriteStream(const std::vector<FrameSymbol>& symbols,
                                 const std::array<CodeWord, N>& codes) {
  BitWriter writer;
  // Every symbol's code word and value bits fit in 32 bits but for degenerate trees: room for the
  // usual case up front.
  writer.Reserve(symbols.size() * 2 + 4);
  for (const FrameSymbol& s : symbols) {
    const CodeWord& code = codes[s.symbol];
    if (code.length + s.bitCount <= 32) {
      // Code word and value bits in one go: the value bits follow the code word, reversed.
      const uint64_t value = uint64_t{ReverseLowBits(s.bits, s.bitCount)} << code.length;
      writer.PutLsbFirst(code.words[0] | static_cast<uint32_t>(value), code.length + s.bitCount);
      continue;
    }
    for (uint32_t written = 0; written < code.length; written += 32) {
      writer.PutLsbFirst(code.words[written / 32], std::min<uint32_t>(32, code.length - written));
    }
    writer.PutMsbFirst(s.bits, s.bitCount);
  }
  writer.Flush();
  return writer.Bytes();
}

void AppendTable(std::vector<uint8_t>& out, const NaturalTable& table) {
  for (uint32_t q : table) out.push_back(static_cast<uint8_t>(q));
}

std::vector<uint8_t> LayOutFrame(const CoefficientSet& set, int32_t quality, const FrameSymbols& symbols,
                                 const NaturalTable& luma, const NaturalTable& chroma,
                                 const std::vector<uint8_t>& dcStream, const std::vector<uint8_t>& acStream) {
  QrxFrameHeader header;
  header.quality = quality;
  header.width = static_cast<uint16_t>(set.width);
  header.height = static_cast<uint16_t>(set.height);
  header.bitsPerPixel = kBitsPerPixelStored;
  header.dcStreamSize = static_cast<uint32_t>(dcStream.size());
  header.acStreamSize = static_cast<uint32_t>(acStream.size());

  std::vector<uint8_t> frame(kQrxFrameHeaderSize);
  WriteQrxFrameHeader(header, std::span<uint8_t>(frame).first<kQrxFrameHeaderSize>());
  ByteWriter out(frame);
  for (int32_t count : symbols.dcCounts) out.I32(count);
  out.Bytes(PackAcCounts(symbols.acCounts));
  AppendTable(frame, luma);
  AppendTable(frame, chroma);
  out.Bytes(dcStream);
  out.Bytes(acStream);
  return frame;
}

}  // namespace

std::optional<std::vector<uint8_t>> CodeCoefficients(const CoefficientSet& set, int32_t quality) {
  if (set.width == 0 || set.height == 0 || set.width > kMaxFrameSide || set.height > kMaxFrameSide) {
    return std::nullopt;
  }
  const uint32_t macroblocks = MacroblockColumns(set.width) * MacroblockRows(set.height);
  if (macroblocks > kMaxFrameMacroblocks || set.blocks.size() < std::size_t{macroblocks} * kBlocksPerMacroblock) {
    return std::nullopt;
  }
  const NaturalTable luma = ToNaturalOrder(set.quantTables[0]);
  const NaturalTable chroma = ToNaturalOrder(set.quantTables[1]);
  if (!TableUsable(luma) || !TableUsable(chroma)) return std::nullopt;

  const FrameSymbols symbols = CollectSymbols(set, macroblocks, luma, chroma);
  const std::vector<uint8_t> dcStream = WriteStream(symbols.dc, CodeWords(symbols.dcCounts));
  const std::vector<uint8_t> acStream = WriteStream(symbols.ac, CodeWords(symbols.acCounts));

  // The streams' working buffers hold width x height bytes (DC) and three times that (AC); streams
  // longer than that are beyond the format's working limits.
  const uint64_t pixels = uint64_t{set.width} * set.height;
  if (dcStream.size() > pixels || acStream.size() > 3 * pixels) return std::nullopt;
  return LayOutFrame(set, quality, symbols, luma, chroma, dcStream, acStream);
}

}  // namespace reel
