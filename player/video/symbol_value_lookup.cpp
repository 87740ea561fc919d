#include "player/video/symbol_value_lookup.h"

namespace reel {
namespace {

// `count` (1 ... 16) bits of `window` from bit `first` on, the first of them the most significant,
// as the stream stores value bits.
uint32_t ValueBitsAt(uint32_t window, uint32_t first, uint32_t count) {
  const uint32_t low16 = (window >> first) & 0xFFFFu;
  const uint32_t reversed = (uint32_t{bit_reader_detail::kByteReversal[low16 & 0xFFu]} << 8) |
                            bit_reader_detail::kByteReversal[low16 >> 8];
  return reversed >> (16 - count);
}

}  // namespace

SymbolValueLookup::SymbolValueLookup(const CodeTree& tree, ValueBitCount valueBits)
    : symbols_(tree), valueBits_(valueBits) {
  for (uint32_t window = 0; window < entries_.size(); ++window) {
    const HuffmanLookup::Peeked peeked = symbols_.PeekEntry(window);
    if (!peeked.isSymbol || peeked.target > 0xFF) continue;
    const auto symbol = static_cast<uint32_t>(peeked.target);
    const uint32_t size = valueBits_(symbol);
    if (peeked.length + size > kLookupBits) continue;
    const int32_t value = size == 0 ? 0 : ExtendValue(ValueBitsAt(window, peeked.length, size), size);
    entries_[window] = Entry{static_cast<int16_t>(value), static_cast<uint8_t>(symbol),
                             static_cast<uint8_t>(peeked.length + size)};
  }
}

}  // namespace reel
