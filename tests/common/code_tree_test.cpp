#include "common/code_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace reel {
namespace {

std::string CodeWordOf(const CodeTree& tree, int32_t symbol) {
  std::string path;
  for (int32_t node = symbol; tree.parent[static_cast<size_t>(node)] >= 0;) {
    const int32_t up = tree.parent[static_cast<size_t>(node)];
    path.insert(path.begin(), tree.child0[static_cast<size_t>(up)] == node ? '0' : '1');
    node = up;
  }
  return path;
}

TEST(CodeTree, WorkedExampleGivesTheDocumentedCodes) {
  std::vector<int32_t> counts(16, 0);
  counts[0] = 5;
  counts[1] = 3;
  counts[2] = 2;
  const CodeTree tree = BuildCodeTree(counts);
  ASSERT_TRUE(tree.Complete());
  EXPECT_EQ(tree.root, 30);
  // Zero-weight symbols join first, in pairs by number.
  EXPECT_EQ(tree.child0[16], 3);
  EXPECT_EQ(tree.child1[16], 4);
  EXPECT_EQ(tree.child0[22], 15);
  EXPECT_EQ(tree.child1[22], 16);
  EXPECT_EQ(tree.child0[30], 0);  // symbol 0 beats node 29 of the same weight
  EXPECT_EQ(CodeWordOf(tree, 0), "0");
  EXPECT_EQ(CodeWordOf(tree, 1), "11");
  EXPECT_EQ(CodeWordOf(tree, 2), "101");
  for (int32_t s = 3; s < 16; ++s) EXPECT_EQ(CodeWordOf(tree, s).substr(0, 3), "100") << s;
}

void ExpectSameTree(const CodeTree& a, const CodeTree& b) {
  EXPECT_EQ(a.root, b.root);
  EXPECT_EQ(a.child0, b.child0);
  EXPECT_EQ(a.child1, b.child1);
  EXPECT_EQ(a.parent, b.parent);
}

TEST(CodeTree, FastBuilderMatchesTheLinearSearch) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const size_t n = trial % 2 == 0 ? 16 : 256;
    std::vector<int32_t> counts(n);
    const int mode = trial % 5;
    for (auto& c : counts) {
      switch (mode) {
        case 0: c = static_cast<int32_t>(rng() % 4); break;             // many ties
        case 1: c = static_cast<int32_t>(rng() % 100000); break;        // frame-like
        case 2: c = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 50); break;
        case 3: c = static_cast<int32_t>(rng()); break;                 // hostile: huge, negative
        default: c = static_cast<int32_t>(rng() % 2 == 0 ? 2099999999 + rng() % 3 : rng() % 9);
      }
    }
    SCOPED_TRACE(trial);
    ExpectSameTree(BuildCodeTree(counts), BuildCodeTreeLinear(counts));
  }
}

// Counts at the edges of the sorted two-queue build: the total just below the limit (that build),
// at it and one count negative (the general build), equal weights of symbols and joined nodes.
TEST(CodeTree, BothBuildsMatchTheLinearSearchAtTheirBorder) {
  const int32_t third = kTreeWeightLimit / 3;
  const std::vector<std::vector<int32_t>> table = {
      {third, third, kTreeWeightLimit - 1 - 2 * third, 0},
      {third, third, kTreeWeightLimit - 2 * third, 0},
      {5, -1, 3, 2, 2, 0},
      {1, 1, 2, 4, 8, 16, 32},
      {0},
      {7, 7},
  };
  for (const std::vector<int32_t>& counts : table) {
    SCOPED_TRACE(::testing::PrintToString(counts));
    ExpectSameTree(BuildCodeTree(counts), BuildCodeTreeLinear(counts));
  }
}

TEST(CodeTree, AllZeroCountsStillGiveACompleteTree) {
  const CodeTree tree = BuildCodeTree(std::vector<int32_t>(256, 0));
  EXPECT_TRUE(tree.Complete());
  EXPECT_EQ(CodeWordOf(tree, 0).size(), 8u);  // 256 equal leaves: a balanced tree
}

TEST(CodeTree, CountsAtTheLimitStayOutOfTheTree) {
  std::vector<int32_t> counts(16, 1);
  counts[4] = kTreeWeightLimit;
  const CodeTree tree = BuildCodeTree(counts);
  EXPECT_FALSE(tree.Complete());
  EXPECT_EQ(tree.parent[4], -1);
}

}  // namespace
}  // namespace reel
