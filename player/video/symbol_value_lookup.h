// Reads a symbol together with the value bits that follow it.
//
// In both of a frame's streams most symbols are followed by a few value bits (the DC difference,
// an AC coefficient), and a short code word and its value bits together usually fit in the bits
// the symbol lookup peeks at anyway. This table is made from the symbol lookup: for every window
// of kLookupBits bits whose code word and value bits both lie inside it, it holds the symbol, the
// value already extended to its sign, and the bits both take, so one look-up and one skip read
// them. Every other window (a long code word, or a value reaching past the window) reads the
// symbol through the symbol lookup and its value bits one by one, as before; the bits consumed are
// the same either way, so a stream's overrun is told at the same point.
#pragma once

#include <array>
#include <cstdint>

#include "common/code_tree.h"
#include "common/frame_alphabet.h"
#include "player/video/bit_reader.h"
#include "player/video/huffman_lookup.h"

namespace reel {

struct SymbolAndValue {
  uint32_t symbol = 0;
  int32_t value = 0;  // 0 for a symbol without value bits
};

class SymbolValueLookup {
 public:
  static constexpr uint32_t kLookupBits = HuffmanLookup::kLookupBits;
  // How many value bits follow a symbol of the alphabet (at most 16).
  using ValueBitCount = uint32_t (*)(uint32_t symbol);

  // `tree` must satisfy CanDecode and outlive the lookup.
  SymbolValueLookup(const CodeTree& tree, ValueBitCount valueBits);

  SymbolAndValue Decode(BitReader& reader) const {
    const Entry entry = entries_[reader.Peek32() & kIndexMask];
    if (entry.length != 0) {
      reader.Skip(entry.length);
      return {entry.symbol, entry.value};
    }
    const auto symbol = static_cast<uint32_t>(symbols_.Decode(reader));
    const uint32_t size = valueBits_(symbol);
    return {symbol, ExtendValue(reader.ReadValue(size), size)};
  }

 private:
  static constexpr uint32_t kIndexMask = (1u << kLookupBits) - 1;

  struct Entry {
    int16_t value = 0;
    uint8_t symbol = 0;
    uint8_t length = 0;  // code word and value bits; 0 when they do not both fit the window
  };

  HuffmanLookup symbols_;
  ValueBitCount valueBits_;
  std::array<Entry, 1u << kLookupBits> entries_{};
};

}  // namespace reel
