#include "player/video/symbol_value_lookup.h"

#include <cstddef>

namespace reel {
namespace {

int32_t Child(const CodeTree& tree, int32_t node, uint32_t bit) {
  const auto index = static_cast<std::size_t>(node);
  return bit != 0 ? tree.child1[index] : tree.child0[index];
}

// The window bits that hold the `size` value bits `bits` from bit `first` on: the stream stores a
// value's most significant bit first, and the window's next bit is its bit 0, so the value's bits
// lie there in reversed order.
uint32_t SpreadValueBits(uint32_t bits, uint32_t size, uint32_t first) {
  using bit_reader_detail::kByteReversal;
  if (size == 0) return 0;
  const uint32_t reversed16 = (uint32_t{kByteReversal[bits & 0xFFu]} << 8) | kByteReversal[(bits >> 8) & 0xFFu];
  return (reversed16 >> (16 - size)) << first;
}

}  // namespace

SymbolValueLookup::SymbolValueLookup(const CodeTree& tree, ValueBitCount valueBits)
    : tree_(tree), valueBits_(valueBits) {
  Fill(tree.root, 0, 0);
}

// Fills every table entry whose low `depth` bits are `prefix`, the path from the root to `node`
// (first step in bit 0).
void SymbolValueLookup::Fill(int32_t node, uint32_t depth, uint32_t prefix) {
  if (tree_.IsLeaf(node)) {
    const uint32_t size = valueBits_(static_cast<uint32_t>(node));
    if (depth + size <= kLookupBits) {
      FillWithValues(node, depth, prefix, size);
      return;
    }
  }
  if (tree_.IsLeaf(node) || depth == kLookupBits) {
    const auto size = tree_.IsLeaf(node) ? static_cast<int16_t>(valueBits_(static_cast<uint32_t>(node))) : int16_t{0};
    const Entry entry{static_cast<int16_t>(node), size, static_cast<uint8_t>(depth),
                      tree_.IsLeaf(node) ? Kind::kSymbol : Kind::kNode};
    for (uint32_t index = prefix; index < entries_.size(); index += 1u << depth) entries_[index] = entry;
    return;
  }
  Fill(Child(tree_, node, 0), depth + 1, prefix);
  Fill(Child(tree_, node, 1), depth + 1, prefix | (1u << depth));
}

// A symbol whose code word (`depth` bits) and `size` value bits fit the window: one entry kind
// for each of its values.
void SymbolValueLookup::FillWithValues(int32_t symbol, uint32_t depth, uint32_t prefix, uint32_t size) {
  const uint32_t length = depth + size;
  for (uint32_t bits = 0; bits < (1u << size); ++bits) {
    const Entry entry{static_cast<int16_t>(symbol), static_cast<int16_t>(ExtendValue(bits, size)),
                      static_cast<uint8_t>(length), Kind::kSymbolAndValue};
    const uint32_t first = prefix | SpreadValueBits(bits, size, depth);
    for (uint32_t index = first; index < entries_.size(); index += 1u << length) entries_[index] = entry;
  }
}

SymbolValueLookup::LongCodeRead SymbolValueLookup::DecodeLongCode(int32_t node, BitReader reader) const {
  const auto symbol = static_cast<uint32_t>(WalkFrom(node, reader));
  const uint32_t size = valueBits_(symbol);
  const SymbolAndValue read{symbol, ExtendValue(reader.ReadValue(size), size)};
  return {read, reader};
}

int32_t SymbolValueLookup::WalkFrom(int32_t node, BitReader& reader) const {
  while (!tree_.IsLeaf(node)) node = Child(tree_, node, reader.ReadBit());
  return node;
}

}  // namespace reel
