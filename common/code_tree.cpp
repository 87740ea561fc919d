#include "common/code_tree.h"

#include <cstddef>
#include <queue>
#include <utility>

namespace reel {
namespace {

int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

CodeTree EmptyTree(std::size_t leafCount) {
  const std::size_t nodes = leafCount == 0 ? 0 : 2 * leafCount - 1;
  CodeTree tree;
  tree.leafCount = static_cast<int32_t>(leafCount);
  tree.child0.assign(nodes, -1);
  tree.child1.assign(nodes, -1);
  tree.parent.assign(nodes, -1);
  return tree;
}

void Join(CodeTree& tree, int32_t node, int32_t a, int32_t b) {
  tree.child0[static_cast<std::size_t>(node)] = a;
  tree.child1[static_cast<std::size_t>(node)] = b;
  tree.parent[static_cast<std::size_t>(a)] = node;
  tree.parent[static_cast<std::size_t>(b)] = node;
  tree.root = node;
}

// The lightest node below the limit among 0 .. end-1, other than `skip`; the lowest number wins a
// tie because the comparison is strict.
int32_t FindLightest(const std::vector<int32_t>& weights, int32_t end, int32_t skip) {
  int32_t best = kTreeWeightLimit;
  int32_t found = -1;
  for (int32_t i = 0; i < end; ++i) {
    if (i != skip && weights[static_cast<std::size_t>(i)] < best) {
      best = weights[static_cast<std::size_t>(i)];
      found = i;
    }
  }
  return found;
}

}  // namespace

CodeTree BuildCodeTreeLinear(std::span<const int32_t> counts) {
  CodeTree tree = EmptyTree(counts.size());
  std::vector<int32_t> weights(tree.child0.size(), 0);
  std::copy(counts.begin(), counts.end(), weights.begin());
  auto next = static_cast<int32_t>(counts.size());
  while (next < static_cast<int32_t>(weights.size())) {
    const int32_t a = FindLightest(weights, next, -1);
    if (a < 0) break;
    const int32_t b = FindLightest(weights, next, a);
    if (b < 0) break;
    Join(tree, next, a, b);
    weights[static_cast<std::size_t>(next)] =
        WrappingAdd(weights[static_cast<std::size_t>(a)], weights[static_cast<std::size_t>(b)]);
    weights[static_cast<std::size_t>(a)] = kTreeWeightUsed;
    weights[static_cast<std::size_t>(b)] = kTreeWeightUsed;
    ++next;
  }
  return tree;
}

CodeTree BuildCodeTree(std::span<const int32_t> counts) {
  CodeTree tree = EmptyTree(counts.size());
  using Entry = std::pair<int32_t, int32_t>;  // (weight, node): smallest weight, then lowest node
  std::vector<Entry> storage;
  storage.reserve(counts.size());
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] < kTreeWeightLimit) storage.emplace_back(counts[i], static_cast<int32_t>(i));
  }
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> live(std::greater<>{},
                                                                      std::move(storage));
  auto next = static_cast<int32_t>(counts.size());
  while (live.size() >= 2) {
    const Entry a = live.top();
    live.pop();
    const Entry b = live.top();
    live.pop();
    Join(tree, next, a.second, b.second);
    const int32_t weight = WrappingAdd(a.first, b.first);
    if (weight < kTreeWeightLimit) live.emplace(weight, next);
    ++next;
  }
  return tree;
}

}  // namespace reel
