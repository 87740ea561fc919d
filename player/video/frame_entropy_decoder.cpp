#include "player/video/frame_entropy_decoder.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/code_tree.h"
#include "common/frame_alphabet.h"
#include "common/zigzag.h"
#include "player/video/bit_reader.h"
#include "player/video/huffman_lookup.h"
#include "player/video/symbol_value_lookup.h"

namespace reel {
namespace {

constexpr uint32_t kLastPosition = kAcPositions - 1;  // AC positions count 0 .. 62 (zig-zag entries 1 .. 63)

int16_t Truncate16(int32_t value) { return static_cast<int16_t>(value); }

uint32_t DcValueBitCount(uint32_t symbol) { return symbol; }

// The ways of reading a symbol and its value bits; the stream decoders are instantiated for each.
// The first two read the symbol and then its value bits one after the other.
template <typename ReadSymbol>
SymbolAndValue ReadSymbolThenValue(const ReadSymbol& read, BitReader& reader,
                                   SymbolValueLookup::ValueBitCount valueBits) {
  const auto symbol = static_cast<uint32_t>(read(reader));
  const uint32_t size = valueBits(symbol);
  return {symbol, ExtendValue(reader.ReadValue(size), size)};
}

class TreeWalkSymbols {
 public:
  TreeWalkSymbols(const CodeTree& tree, SymbolValueLookup::ValueBitCount valueBits)
      : tree_(tree), valueBits_(valueBits) {}
  SymbolAndValue Read(BitReader& reader) const {
    return ReadSymbolThenValue([this](BitReader& r) { return DecodeByTreeWalk(tree_, r); }, reader,
                               valueBits_);
  }

 private:
  const CodeTree& tree_;
  SymbolValueLookup::ValueBitCount valueBits_;
};

class LookupSymbols {
 public:
  LookupSymbols(const CodeTree& tree, SymbolValueLookup::ValueBitCount valueBits)
      : lookup_(tree), valueBits_(valueBits) {}
  SymbolAndValue Read(BitReader& reader) const {
    return ReadSymbolThenValue([this](BitReader& r) { return lookup_.Decode(r); }, reader,
                               valueBits_);
  }

 private:
  HuffmanLookup lookup_;
  SymbolValueLookup::ValueBitCount valueBits_;
};

class LookupSymbolsAndValues {
 public:
  LookupSymbolsAndValues(const CodeTree& tree, SymbolValueLookup::ValueBitCount valueBits)
      : lookup_(tree, valueBits) {}
  SymbolAndValue Read(BitReader& reader) const { return lookup_.Decode(reader); }

 private:
  SymbolValueLookup lookup_;
};

// A block is cleared with eight plain 16-byte stores. Left to itself the compiler clears the
// 128 bytes with a string store instruction, whose start-up alone costs more than these stores;
// with 1,800 blocks a frame that was about a sixth of the AC stream's time.
void ClearBlock(DecodedBlock& block) {
#if defined(__SSE2__)
  // Written out: a loop of these stores is turned back into the string store.
  static_assert(sizeof(DecodedBlock) == 8 * sizeof(__m128i));
  const __m128i zero = _mm_setzero_si128();
  auto* const storage = reinterpret_cast<__m128i*>(block.data());
  _mm_storeu_si128(storage, zero);
  _mm_storeu_si128(storage + 1, zero);
  _mm_storeu_si128(storage + 2, zero);
  _mm_storeu_si128(storage + 3, zero);
  _mm_storeu_si128(storage + 4, zero);
  _mm_storeu_si128(storage + 5, zero);
  _mm_storeu_si128(storage + 6, zero);
  _mm_storeu_si128(storage + 7, zero);
#else
  block = DecodedBlock{};
#endif
}

// The DC values go to a small list of their own; each block is cleared and given its DC value only
// when the AC stream fills it, so the (large) block area is walked once, not twice.
template <typename Symbols>
bool DecodeDcValues(const CodeTree& tree, std::span<const uint8_t> stream,
                    std::span<int16_t> dcValues) {
  // A DC tree has 16 leaves, so the symbol (the number of value bits) is at most 15.
  const Symbols symbols(tree, DcValueBitCount);
  BitReader reader(stream);
  int16_t dc = 0;
  for (int16_t& value : dcValues) {
    dc = Truncate16(dc + symbols.Read(reader).value);
    value = dc;
  }
  return !reader.Overrun();
}

// A value symbol's value bits are read with it, also when its run then leads past the last
// position; the frame is refused either way.
template <typename Symbols>
bool DecodeAcBlock(const Symbols& symbols, BitReader& reader, DecodedBlock& block,
                   uint64_t& placed) {
  uint32_t position = 0;
  while (position <= kLastPosition) {
    const SymbolAndValue read = symbols.Read(reader);
    if (read.symbol == kEndOfBlockSymbol) break;
    if (IsZeroRunSymbol(read.symbol)) {
      position += ZerosOfRunSymbol(read.symbol);
      continue;
    }
    position += RunOfValueSymbol(read.symbol);
    if (position > kLastPosition) return false;
    const uint32_t natural = kZigZag[position + 1];
    block[natural] = Truncate16(read.value);
    placed |= uint64_t{1} << natural;
    ++position;
  }
  return !reader.Overrun();
}

template <typename Symbols>
bool DecodeAcValues(const CodeTree& tree, std::span<const uint8_t> stream,
                    std::span<const int16_t> dcValues, std::span<DecodedBlock> blocks,
                    std::span<uint64_t> placed) {
  const Symbols symbols(tree, AcValueBitCount);
  BitReader reader(stream);
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    ClearBlock(blocks[b]);
    blocks[b][0] = dcValues[b];
    // Gathered in a local, which the block's stores cannot alias, and stored once.
    uint64_t placedHere = 1;  // the DC value
    const bool decoded = DecodeAcBlock(symbols, reader, blocks[b], placedHere);
    placed[b] = placedHere;
    if (!decoded) return false;
  }
  return true;
}

template <typename Symbols>
bool DecodeStreams(const FrameLayout& layout, std::span<DecodedBlock> blocks,
                   std::span<uint64_t> placed) {
  // The DC tree is built, used up, and only then the AC tree built.
  std::vector<int16_t> dcValues(blocks.size());
  const CodeTree dcTree = BuildCodeTree(layout.dcCounts);
  if (!CanDecode(dcTree) || !DecodeDcValues<Symbols>(dcTree, layout.dcStream, dcValues)) {
    return false;
  }
  const CodeTree acTree = BuildCodeTree(layout.acCounts);
  return CanDecode(acTree) &&
         DecodeAcValues<Symbols>(acTree, layout.acStream, dcValues, blocks, placed);
}

}  // namespace

bool DecodeFrameBlocks(const FrameLayout& layout, std::span<DecodedBlock> blocks,
                       std::span<uint64_t> placed, SymbolDecoding decoding) {
  if (placed.size() != blocks.size()) return false;
  switch (decoding) {
    case SymbolDecoding::kTreeWalk:
      return DecodeStreams<TreeWalkSymbols>(layout, blocks, placed);
    case SymbolDecoding::kSymbolLookup:
      return DecodeStreams<LookupSymbols>(layout, blocks, placed);
    case SymbolDecoding::kLookupTable:
      break;
  }
  return DecodeStreams<LookupSymbolsAndValues>(layout, blocks, placed);
}

bool DecodeFrameBlocks(const FrameLayout& layout, std::span<DecodedBlock> blocks,
                       SymbolDecoding decoding) {
  std::vector<uint64_t> placed(blocks.size());
  return DecodeFrameBlocks(layout, blocks, placed, decoding);
}

std::optional<FrameCoefficients> DecodeFrameCoefficients(std::span<const uint8_t> frame,
                                                         SymbolDecoding decoding) {
  const auto layout = ReadFrameLayout(frame);
  if (!layout) return std::nullopt;
  const uint64_t macroblocks = FrameMacroblocks(layout->width, layout->height);
  if (macroblocks > kMaxDecodedMacroblocks) return std::nullopt;

  FrameCoefficients result;
  result.width = layout->width;
  result.height = layout->height;
  result.blocks.resize(static_cast<std::size_t>(macroblocks * kBlocksPerMacroblock));
  if (!DecodeFrameBlocks(*layout, result.blocks, decoding)) return std::nullopt;
  result.hasTables = layout->hasTables;
  if (layout->hasTables) {
    result.lumaQuant = layout->lumaQuant;
    result.chromaQuant = layout->chromaQuant;
  }
  return result;
}

}  // namespace reel
