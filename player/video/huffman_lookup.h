// Decodes the symbols of a frame's code trees.
//
// A frame's trees are fitted to that one frame and can be deep: symbols that never occur hang far
// down, and hostile counts give code words of a few hundred bits. The plain way to read a symbol is
// to walk the tree from the root one bit at a time (DecodeByTreeWalk), which is kept as the
// reference. The fast way looks the next kLookupBits bits up in a table built from the tree: a code
// word no longer than that gives its symbol and length at once, and a longer one gives the node
// reached after kLookupBits steps, from which the walk goes on bit by bit.
#pragma once

#include <array>
#include <cstdint>

#include "common/code_tree.h"
#include "player/video/bit_reader.h"

namespace reel {

// A tree can decode only when at least one node was joined: its root is then an inner node, and
// every inner node below it has both children.
inline bool CanDecode(const CodeTree& tree) { return tree.root >= tree.leafCount; }

// Reads one symbol by walking `tree` (CanDecode must hold) from its root.
int32_t DecodeByTreeWalk(const CodeTree& tree, BitReader& reader);

class HuffmanLookup {
 public:
  static constexpr uint32_t kLookupBits = 10;

  // `tree` must satisfy CanDecode and outlive the lookup.
  explicit HuffmanLookup(const CodeTree& tree);

  int32_t Decode(BitReader& reader) const {
    const Entry entry = entries_[reader.Peek32() & kIndexMask];
    reader.Skip(entry.length);
    if (entry.isSymbol) return entry.target;
    return WalkFrom(entry.target, reader);
  }

 private:
  static constexpr uint32_t kIndexMask = (1u << kLookupBits) - 1;

  struct Entry {
    int16_t target = 0;  // the symbol, or the inner node reached after kLookupBits bits
    uint8_t length = 0;  // bits consumed by this entry
    bool isSymbol = false;
  };

  void Fill(int32_t node, uint32_t depth, uint32_t prefix);
  int32_t WalkFrom(int32_t node, BitReader& reader) const;

  const CodeTree& tree_;
  std::array<Entry, 1u << kLookupBits> entries_{};
};

}  // namespace reel
