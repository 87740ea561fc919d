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
#include <bit>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/byte_io.h"
#include "common/code_tree.h"
#include "common/frame_alphabet.h"
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
    const bool isLuma = b % kBlocksPerMacroblock < kLumaBlocksPerMacroblock;
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

// The plain way: each symbol walks up to the root, then the steps are laid out root first.
template <std::size_t N>
std::array<CodeWord, N> CodeWordsWalkingUp(const std::array<int32_t, N>& counts) {
  const CodeTree tree = BuildCodeTree(counts);
  std::array<CodeWord, N> words{};
  for (std::size_t symbol = 0; symbol < N; ++symbol) {
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

// The same code words in one pass down the tree. A joined node is made after its children, so
// going down the node numbers meets every node after its parent: each joined node hands its own
// word, one step longer, to its two children. A node without a parent starts an empty word, as a
// walk up from below it would stop there.
template <std::size_t N>
std::array<CodeWord, N> CodeWords(const std::array<int32_t, N>& counts) {
  const CodeTree tree = BuildCodeTree(counts);
  std::array<CodeWord, 2 * N - 1> nodeWords;
  for (std::size_t node = tree.parent.size(); node-- > N;) {
    const CodeWord& word = nodeWords[node];
    const std::array<int32_t, 2> children = {tree.child0[node], tree.child1[node]};
    for (uint32_t step = 0; step < 2; ++step) {
      if (children[step] < 0) continue;
      CodeWord& child = nodeWords[static_cast<std::size_t>(children[step])];
      child = word;
      child.words[word.length / 32] |= step << (word.length % 32);
      child.length = word.length + 1;
    }
  }
  std::array<CodeWord, N> words;
  std::copy_n(nodeWords.begin(), N, words.begin());
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
  return {writer.Bytes().begin(), writer.Bytes().end()};
}

void AppendTable(std::vector<uint8_t>& out, const NaturalTable& table) {
  for (uint32_t q : table) out.push_back(static_cast<uint8_t>(q));
}

template <typename Set>
std::vector<uint8_t> LayOutFrame(const Set& set, int32_t quality, const DcCounts& dcCounts, const AcCounts& acCounts, const NaturalTable& luma, const NaturalTable& chroma,
                                 std::span<const uint8_t> dcStream, std::span<const uint8_t> acStream) {
  QrxFrameHeader header;
  header.quality = quality;
  header.width = static_cast<uint16_t>(set.width);
  header.height = static_cast<uint16_t>(set.height);
  header.bitsPerPixel = kBitsPerPixelStored;
  header.dcStreamSize = static_cast<uint32_t>(dcStream.size());
  header.acStreamSize = static_cast<uint32_t>(acStream.size());

  std::vector<uint8_t> frame;
  frame.reserve(kQrxFrameHeaderSize + kDcSymbolCount * 4 + kAcCountBytes + 2 * 64 + dcStream.size() + acStream.size());
  frame.resize(kQrxFrameHeaderSize);
  WriteQrxFrameHeader(header, std::span<uint8_t>(frame).first<kQrxFrameHeaderSize>());
  ByteWriter out(frame);
  for (int32_t count : dcCounts) out.I32(count);
  out.Bytes(PackAcCounts(acCounts));
  AppendTable(frame, luma);
  AppendTable(frame, chroma);
  out.Bytes(dcStream);
  out.Bytes(acStream);
  return frame;
}

// The set's tables in natural order, or none when the set is beyond the format's limits.
struct FrameTables {
  uint32_t macroblocks = 0;
  NaturalTable luma{};
  NaturalTable chroma{};
};

template <typename Set>
std::optional<FrameTables> CheckSet(const Set& set) {
  if (set.width == 0 || set.height == 0 || set.width > kMaxFrameSide || set.height > kMaxFrameSide) {
    return std::nullopt;
  }
  FrameTables tables;
  tables.macroblocks = MacroblockColumns(set.width) * MacroblockRows(set.height);
  if (tables.macroblocks > kMaxFrameMacroblocks ||
      set.blocks.size() < std::size_t{tables.macroblocks} * kBlocksPerMacroblock) {
    return std::nullopt;
  }
  tables.luma = ToNaturalOrder(set.quantTables[0]);
  tables.chroma = ToNaturalOrder(set.quantTables[1]);
  if (!TableUsable(tables.luma) || !TableUsable(tables.chroma)) return std::nullopt;
  return tables;
}

// The streams' working buffers hold width x height bytes (DC) and three times that (AC); streams
// longer than that are beyond the format's working limits.
template <typename Set>
bool StreamsFit(const Set& set, std::size_t dcBytes, std::size_t acBytes) {
  const uint64_t pixels = uint64_t{set.width} * set.height;
  return dcBytes <= pixels && acBytes <= 3 * pixels;
}

// ---- The reusable coder's pieces.

using PackedSymbol = FrameCoder::PackedSymbol;

// Symbols one block can give: 63 values, each after a run that needs at most one extra symbol
// once the run is past 14 (two runs of 30 fill a block), and the end of block.
constexpr std::size_t kMostAcSymbolsPerBlock = 128;

constexpr std::array<uint8_t, 256> kReversedBytes = [] {
  std::array<uint8_t, 256> reversed{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    for (uint32_t bit = 0; bit < 8; ++bit) reversed[byte] |= static_cast<uint8_t>((byte >> bit & 1) << (7 - bit));
  }
  return reversed;
}();

// ReverseLowBits for value bits, which are at most 15: two byte lookups and one shift, no branch.
constexpr uint32_t ReverseValueBits(uint32_t bits, uint32_t size) {
  const uint32_t reversed = uint32_t{kReversedBytes[bits & 0xFF]} << 8 | kReversedBytes[bits >> 8 & 0xFF];
  return reversed >> (16 - size);
}

// MagnitudeSize and MagnitudeBits without a branch: the magnitude held to 32,767 (size 15, as
// for every larger one) has the bit width of 2m + 1 less one, and a negative value's bits are
// those of v - 1.
[[gnu::always_inline]] constexpr PackedSymbol PackAnyValue(int32_t value) {
  const uint32_t sign = static_cast<uint32_t>(value >> 31);  // all ones for a negative value
  const uint32_t magnitude = std::min((static_cast<uint32_t>(value) ^ sign) - sign, 0x7FFFu);
  const auto size = static_cast<uint32_t>(31 - __builtin_clz(2 * magnitude + 1));  // never of 0
  const uint32_t bits = (static_cast<uint32_t>(value) + sign) & ((1u << size) - 1);
  return {0, static_cast<uint8_t>(size), static_cast<uint16_t>(ReverseValueBits(bits, size))};
}

// The values most blocks hold, -128 ... 127, packed beforehand (entry v + 128, symbol 0).
constexpr int32_t kSmallValueLimit = 128;
constexpr std::array<PackedSymbol, 2 * kSmallValueLimit> kSmallValues = [] {
  std::array<PackedSymbol, 2 * kSmallValueLimit> packed{};
  for (int32_t value = -kSmallValueLimit; value < kSmallValueLimit; ++value) {
    packed[static_cast<std::size_t>(value + kSmallValueLimit)] = PackAnyValue(value);
  }
  return packed;
}();

[[gnu::always_inline]] inline PackedSymbol PackValue(uint8_t symbol, int32_t value) {
  const uint32_t index = static_cast<uint32_t>(value) + kSmallValueLimit;
  PackedSymbol packed = index < kSmallValues.size() ? kSmallValues[index] : PackAnyValue(value);
  packed.symbol = symbol;
  return packed;
}

// A block's quantised value at a natural-order index: a dequantised value divided back by its
// table entry, a quantised one as it stands.
int32_t QuantisedValue(const CoefficientBlock& block, const NaturalTable& table, std::size_t natural) {
  return block[natural] / static_cast<int32_t>(table[natural]);
}
int32_t QuantisedValue(const QuantisedBlock& block, const NaturalTable&, std::size_t natural) {
  return block[natural];
}

// Zig-zag position of each natural-order index.
constexpr std::array<uint8_t, 64> kZigZagPosition = [] {
  std::array<uint8_t, 64> positions{};
  for (std::size_t i = 0; i < 64; ++i) positions[kZigZag[i]] = static_cast<uint8_t>(i);
  return positions;
}();

// The non-zero coefficients of a block, one bit per natural-order index, one at a time (where
// there are no vector lanes).
template <typename Block>
[[maybe_unused]] uint64_t NaturalNonZeroMaskPlain(const Block& block) {
  uint64_t mask = 0;
  for (std::size_t i = 0; i < 64; ++i) mask |= uint64_t{block[i] != 0} << i;
  return mask;
}

// The non-zero coefficients of a block, one bit per natural-order index. Narrowing with signed
// saturation keeps every non-zero value non-zero.
uint64_t NaturalNonZeroMask(const CoefficientBlock& block) {
#if defined(__SSE2__)
  uint64_t zeros = 0;
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t part = 0; part < 4; ++part) {
    const auto* at = reinterpret_cast<const __m128i*>(block.data() + part * 16);
    const __m128i low = _mm_packs_epi32(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
    const __m128i high = _mm_packs_epi32(_mm_loadu_si128(at + 2), _mm_loadu_si128(at + 3));
    const __m128i bytes = _mm_packs_epi16(low, high);
    zeros |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)))} << (part * 16);
  }
  return ~zeros;
#else
  return NaturalNonZeroMaskPlain(block);
#endif
}

uint64_t NaturalNonZeroMask(const QuantisedBlock& block) {
#if defined(__SSE2__)
  uint64_t zeros = 0;
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t part = 0; part < 4; ++part) {
    const auto* at = reinterpret_cast<const __m128i*>(block.data() + part * 16);
    const __m128i bytes = _mm_packs_epi16(_mm_loadu_si128(at), _mm_loadu_si128(at + 1));
    zeros |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)))} << (part * 16);
  }
  return ~zeros;
#else
  return NaturalNonZeroMaskPlain(block);
#endif
}

// The non-zero AC coefficients of a block, one bit per zig-zag position (bit i for position i).
template <typename Block>
uint64_t AcNonZeroMask(const Block& block) {
  uint64_t natural = NaturalNonZeroMask(block) & ~uint64_t{1};
  uint64_t zigZag = 0;
  while (natural != 0) {
    zigZag |= uint64_t{1} << kZigZagPosition[static_cast<std::size_t>(std::countr_zero(natural))];
    natural &= natural - 1;
  }
  return zigZag;
}

// Appends one block's AC symbols at `out` and returns the end; the counts follow along.
template <typename Block>
PackedSymbol* AcSymbolsOfBlock(const Block& block, const NaturalTable& table, PackedSymbol* out, AcCounts& counts) {
  uint64_t mask = AcNonZeroMask(block);
  uint32_t last = 0;  // zig-zag position of the last non-zero value written
  while (mask != 0) {
    const auto position = static_cast<uint32_t>(std::countr_zero(mask));
    mask &= mask - 1;
    const std::size_t natural = kZigZag[position];
    const int32_t value = QuantisedValue(block, table, natural);
    if (value == 0) continue;  // below its table entry: a zero after all
    const uint32_t run = position - last - 1;
    last = position;
    PackedSymbol packed = PackValue(0, value);
    packed.symbol = RunAndValueSymbols(run, packed.bitCount, [&](uint8_t zeroRun) {
      *out++ = {zeroRun, 0, 0};
      ++counts[zeroRun];
    });
    *out++ = packed;
    ++counts[packed.symbol];
  }
  if (last < kAcPositions) {
    *out++ = {kEndOfBlockSymbol, 0, 0};
    ++counts[kEndOfBlockSymbol];
  }
  return out;
}

// A code word that fits one write, first bit lowest; lengths of 32 and more go the long way.
struct ShortCode {
  uint32_t word = 0;
  uint32_t length = 0;
};

// Writes the symbols' code words and value bits into `writer`, emptied first. When `branchFree`,
// every code word and its value bits fit 32 bits and go through the writer's fast path.
template <std::size_t N>
void WritePacked(std::span<const PackedSymbol> symbols, const std::array<CodeWord, N>& codes, bool branchFree,
                 BitWriter& writer) {
  writer.Clear();
  if (branchFree) {
    std::array<ShortCode, N> shortCodes{};
    for (std::size_t s = 0; s < N; ++s) shortCodes[s] = {codes[s].words[0], codes[s].length};
    writer.PutShortPieces(symbols.size(), [&](auto put) {
      for (const PackedSymbol& s : symbols) {
        const ShortCode code = shortCodes[s.symbol];
        put(static_cast<uint32_t>(code.word | (uint64_t{s.bitsLsbFirst} << code.length)), code.length + s.bitCount);
      }
    });
  } else {
    writer.Reserve(symbols.size() * 2 + 4);
    for (const PackedSymbol& s : symbols) {
      const CodeWord& code = codes[s.symbol];
      for (uint32_t written = 0; written < code.length; written += 32) {
        writer.PutLsbFirst(code.words[written / 32], std::min<uint32_t>(32, code.length - written));
      }
      writer.PutLsbFirst(s.bitsLsbFirst, s.bitCount);
    }
  }
  writer.Flush();
}

// Every symbol that occurs has a code word that fits one 32-bit write with its value bits (as
// many as a DC symbol says, or as AcValueBitCount says for an AC symbol).
template <std::size_t N>
bool AllFit(const std::array<int32_t, N>& counts, const std::array<CodeWord, N>& codes, bool dc) {
  for (std::size_t s = 0; s < N; ++s) {
    const uint32_t valueBits = dc ? static_cast<uint32_t>(s) : AcValueBitCount(static_cast<uint32_t>(s));
    if (counts[s] != 0 && codes[s].length + valueBits > 32) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> CodeCoefficients(const CoefficientSet& set, int32_t quality) {
  const std::optional<FrameTables> tables = CheckSet(set);
  if (!tables) return std::nullopt;
  const FrameSymbols symbols = CollectSymbols(set, tables->macroblocks, tables->luma, tables->chroma);
  const std::vector<uint8_t> dcStream = WriteStream(symbols.dc, CodeWordsWalkingUp(symbols.dcCounts));
  const std::vector<uint8_t> acStream = WriteStream(symbols.ac, CodeWordsWalkingUp(symbols.acCounts));
  if (!StreamsFit(set, dcStream.size(), acStream.size())) return std::nullopt;
  return LayOutFrame(set, quality, symbols.dcCounts, symbols.acCounts, tables->luma, tables->chroma, dcStream,
                     acStream);
}

template <typename Set>
std::optional<std::vector<uint8_t>> FrameCoder::CodeSet(const Set& set, int32_t quality) {
  const std::optional<FrameTables> tables = CheckSet(set);
  if (!tables) return std::nullopt;
  const std::size_t blocks = std::size_t{tables->macroblocks} * kBlocksPerMacroblock;
  if (dc_.size() < blocks) dc_.resize(blocks);
  if (ac_.size() < blocks * kMostAcSymbolsPerBlock) ac_.resize(blocks * kMostAcSymbolsPerBlock);
  DcCounts dcCounts{};
  AcCounts acCounts{};
  PackedSymbol* acEnd = ac_.data();
  int32_t previousDc = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    const auto& block = set.blocks[b];
    const NaturalTable& table = b % kBlocksPerMacroblock < kLumaBlocksPerMacroblock ? tables->luma : tables->chroma;
    const int32_t dc = QuantisedValue(block, table, 0);
    const int32_t difference = b == 0 ? dc : WrappingDifference(dc, previousDc);
    previousDc = dc;
    dc_[b] = PackValue(0, difference);
    dc_[b].symbol = dc_[b].bitCount;
    ++dcCounts[dc_[b].symbol];
    acEnd = AcSymbolsOfBlock(block, table, acEnd, acCounts);
  }
  const std::span<const PackedSymbol> dcSymbols(dc_.data(), blocks);
  const std::span<const PackedSymbol> acSymbols(ac_.data(), static_cast<std::size_t>(acEnd - ac_.data()));
  const auto dcCodes = CodeWords(dcCounts);
  const auto acCodes = CodeWords(acCounts);
  WritePacked(dcSymbols, dcCodes, AllFit(dcCounts, dcCodes, true), dcStream_);
  WritePacked(acSymbols, acCodes, AllFit(acCounts, acCodes, false), acStream_);
  if (!StreamsFit(set, dcStream_.Bytes().size(), acStream_.Bytes().size())) return std::nullopt;
  return LayOutFrame(set, quality, dcCounts, acCounts, tables->luma, tables->chroma, dcStream_.Bytes(),
                     acStream_.Bytes());
}

std::optional<std::vector<uint8_t>> FrameCoder::Code(const CoefficientSet& set, int32_t quality) {
  return CodeSet(set, quality);
}

std::optional<std::vector<uint8_t>> FrameCoder::Code(const QuantisedSet& set, int32_t quality) {
  return CodeSet(set, quality);
}

}  // namespace reel
