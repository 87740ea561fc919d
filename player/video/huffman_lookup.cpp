#include "player/video/huffman_lookup.h"

#include <cstddef>

namespace reel {
namespace {

int32_t Child(const CodeTree& tree, int32_t node, uint32_t bit) {
  const auto index = static_cast<std::size_t>(node);
  return bit != 0 ? tree.child1[index] : tree.child0[index];
}

}  // namespace

int32_t DecodeByTreeWalk(const CodeTree& tree, BitReader& reader) {
  int32_t node = tree.root;
  while (!tree.IsLeaf(node)) node = Child(tree, node, reader.ReadBit());
  return node;
}

HuffmanLookup::HuffmanLookup(const CodeTree& tree) : tree_(tree) { Fill(tree.root, 0, 0); }

// Fills every table entry whose low `depth` bits are `prefix`, the path from the root to `node`
// (first step in bit 0).
void HuffmanLookup::Fill(int32_t node, uint32_t depth, uint32_t prefix) {
  const bool isSymbol = tree_.IsLeaf(node);
  if (isSymbol || depth == kLookupBits) {
    const Entry entry{static_cast<int16_t>(node), static_cast<uint8_t>(depth), isSymbol};
    for (uint32_t index = prefix; index < entries_.size(); index += 1u << depth) {
      entries_[index] = entry;
    }
    return;
  }
  Fill(Child(tree_, node, 0), depth + 1, prefix);
  Fill(Child(tree_, node, 1), depth + 1, prefix | (1u << depth));
}

int32_t HuffmanLookup::WalkFrom(int32_t node, BitReader& reader) const {
  while (!tree_.IsLeaf(node)) node = Child(tree_, node, reader.ReadBit());
  return node;
}

}  // namespace reel
