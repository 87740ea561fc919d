#include "common/code_tree.h"

#include <algorithm>
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

CodeTree BuildCodeTreeByHeap(std::span<const int32_t> counts) {
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

bool SuitsTwoQueues(std::span<const int32_t> counts) {
  int64_t total = 0;
  for (const int32_t count : counts) {
    if (count < 0) return false;
    total += count;
  }
  return total < kTreeWeightLimit;
}

CodeTree BuildCodeTreeByTwoQueues(std::span<const int32_t> counts) {
  CodeTree tree = EmptyTree(counts.size());
  const std::size_t leaves = counts.size();
  if (leaves < 2) return tree;
  // (weight, symbol) in one key, so that one sort orders by weight and then by symbol number.
  std::vector<uint64_t> sorted(leaves);
  for (std::size_t i = 0; i < leaves; ++i) {
    sorted[i] = (uint64_t{static_cast<uint32_t>(counts[i])} << 32) | i;
  }
  std::sort(sorted.begin(), sorted.end());
  // joinedWeight[k] is the weight of node leaves + k.
  std::vector<int32_t> joinedWeight(leaves - 1);
  std::size_t leafFront = 0;
  std::size_t joinedFront = 0;
  std::size_t joinedCount = 0;
  // Takes the lighter front; a symbol wins a tie, its number being below every joined node's.
  const auto take = [&](int32_t& weight) {
    const bool leafLeft = leafFront < leaves;
    const bool joinedLeft = joinedFront < joinedCount;
    if (leafLeft && (!joinedLeft || static_cast<int32_t>(sorted[leafFront] >> 32) <=
                                        joinedWeight[joinedFront])) {
      weight = static_cast<int32_t>(sorted[leafFront] >> 32);
      return static_cast<int32_t>(sorted[leafFront++] & 0xFFFFFFFFu);
    }
    weight = joinedWeight[joinedFront];
    return static_cast<int32_t>(leaves + joinedFront++);
  };
  for (; joinedCount < leaves - 1; ++joinedCount) {
    int32_t weightA = 0;
    int32_t weightB = 0;
    const int32_t a = take(weightA);
    const int32_t b = take(weightB);
    Join(tree, static_cast<int32_t>(leaves + joinedCount), a, b);
    joinedWeight[joinedCount] = weightA + weightB;
  }
  return tree;
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
  if (SuitsTwoQueues(counts)) return BuildCodeTreeByTwoQueues(counts);
  return BuildCodeTreeByHeap(counts);
}

}  // namespace reel
