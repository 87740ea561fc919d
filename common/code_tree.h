// The per-frame Huffman code tree, built the same way by the frame coder and the frame decoder.
//
// Nodes 0 .. n-1 are the symbols, weighted by their counts; every symbol takes part, also one that
// never occurs. Joined nodes are numbered n, n+1, ... in the order they are made. Each step joins
// the lightest live node (child 0) with the next lightest (child 1); ties go to the lower node
// number, so a symbol beats a joined node of the same weight and an earlier joined node beats a
// later one. Weights are compared as signed 32-bit values and only weights below 2,099,999,999
// take part; a joined node's children are marked used up with 2,100,000,000. The root is the last
// node made. A code word is the path from the root: 0 for a step to child 0, 1 for child 1.
//
// The counts of a frame on disk are untrusted: a count at or above the limit keeps its symbol out
// of the tree, and sums wrap as 32-bit integers. Such a tree may leave symbols unreachable, which
// the callers detect (a symbol without a code, or a root that is not node 2n-2).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace reel {

inline constexpr int32_t kTreeWeightLimit = 2099999999;
inline constexpr int32_t kTreeWeightUsed = 2100000000;

struct CodeTree {
  int32_t leafCount = 0;
  std::vector<int32_t> child0;  // per node; -1 for a leaf or a node never made
  std::vector<int32_t> child1;
  std::vector<int32_t> parent;  // -1 for the root and for nodes outside the tree
  int32_t root = -1;            // the last node made; -1 when no node was joined

  bool IsLeaf(int32_t node) const { return node < leafCount; }
  // Every symbol hangs below the root: the construction ran to its natural end.
  bool Complete() const { return root == 2 * leafCount - 2; }
};

// Builds the tree making the same choices as the plain linear search. When no count is negative and
// all of them sum to less than the limit (every frame the coder writes), nothing wraps and nothing
// is left out, so joined nodes are made in order of weight: the symbols sorted by (count, number)
// and the joined nodes in the order they were made are then two queues, each in (weight, number)
// order, and the lighter front is the lightest live node, a symbol winning a tie. Other counts go
// through a priority queue ordered by (weight, node number). Either way O(n log n).
CodeTree BuildCodeTree(std::span<const int32_t> counts);

// The plain construction, repeated linear searches from node 0 upward. Kept as the reference the
// fast builder is tested against.
CodeTree BuildCodeTreeLinear(std::span<const int32_t> counts);

}  // namespace reel
