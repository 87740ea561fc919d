// Reads a symbol together with the value bits that follow it.
//
// In both of a frame's streams most symbols are followed by a few value bits (the DC difference,
// an AC coefficient), and a short code word and its value bits together usually fit in the
// kLookupBits bits a symbol look-up peeks at anyway. The table is filled from the tree as the
// symbol lookup's is (common/code_tree.h, player/video/huffman_lookup.h), but where a code word and
// its value bits both lie inside the window it holds the symbol, the value already extended to its
// sign, and the bits both take, so that one look-up and one skip read them. Otherwise it holds the
// symbol and its code word's length (its value bits are then read one after the other), or, for a
// code word longer than the window, the node reached after kLookupBits bits, from which the walk
// goes on bit by bit. The bits consumed are the same either way, so a stream's overrun is told at
// the same point as with the plain walk.
#pragma once

#include <array>
#include <cstdint>

#include "common/code_tree.h"
#include "common/frame_alphabet.h"
#include "player/video/bit_reader.h"

namespace reel {

struct SymbolAndValue {
  uint32_t symbol = 0;
  int32_t value = 0;  // 0 for a symbol without value bits
};

class SymbolValueLookup {
 public:
  static constexpr uint32_t kLookupBits = 10;
  // How many value bits (at most 16) follow a symbol of the alphabet.
  using ValueBitCount = uint32_t (*)(uint32_t symbol);

  // `tree` must satisfy CanDecode (player/video/huffman_lookup.h) and outlive the lookup.
  SymbolValueLookup(const CodeTree& tree, ValueBitCount valueBits);

  SymbolAndValue Decode(BitReader& reader) const {
    const Entry entry = entries_[reader.Peek32() & kIndexMask];
    reader.Skip(entry.length);
    if (entry.kind == Kind::kSymbolAndValue) return {static_cast<uint32_t>(entry.target), entry.value};
    if (entry.kind == Kind::kSymbol) {
      const auto size = static_cast<uint32_t>(entry.value);
      return {static_cast<uint32_t>(entry.target), ExtendValue(reader.ReadValue(size), size)};
    }
    LongCodeRead read = DecodeLongCode(entry.target, reader);
    reader = read.reader;
    return read.symbolAndValue;
  }

 private:
  static constexpr uint32_t kIndexMask = (1u << kLookupBits) - 1;

  enum class Kind : uint8_t { kSymbolAndValue, kSymbol, kNode };
  // Eight bytes, so that an entry is loaded whole.
  struct alignas(8) Entry {
    int16_t target = 0;  // the symbol, or the inner node reached after kLookupBits bits
    int16_t value = 0;   // kSymbolAndValue: the value its bits stand for; kSymbol: how many value bits follow
    uint8_t length = 0;  // bits consumed by this entry
    Kind kind = Kind::kNode;
  };

  void Fill(int32_t node, uint32_t depth, uint32_t prefix);
  void FillWithValues(int32_t symbol, uint32_t depth, uint32_t prefix, uint32_t size);
  int32_t WalkFrom(int32_t node, BitReader& reader) const;
  struct LongCodeRead {
    SymbolAndValue symbolAndValue;
    BitReader reader;  // after the code word and its value bits
  };
  // The rare code word longer than the window, and its value bits. Out of line, and taking and
  // giving back the reader by value, so that the caller's reader never has its address taken and
  // can live in registers through the decode loop.
  [[gnu::noinline]] LongCodeRead DecodeLongCode(int32_t node, BitReader reader) const;

  const CodeTree& tree_;
  ValueBitCount valueBits_;
  std::array<Entry, 1u << kLookupBits> entries_{};
};

}  // namespace reel
