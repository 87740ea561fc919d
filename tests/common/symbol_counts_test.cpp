#include "common/symbol_counts.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace reel {
namespace {

TEST(SymbolCounts, FlatColourCountsPackToTwelveBytes) {
  AcCounts counts{};
  counts[0] = 1800;  // 300 macroblocks of end-of-block symbols only
  const std::vector<uint8_t> packed = PackAcCounts(counts);
  const std::vector<uint8_t> expected = {0x08, 0x07, 0, 255, 0, 255, 0, 255, 0, 253, 0, 0};
  EXPECT_EQ(packed, expected);
  const auto unpacked = UnpackAcCounts(packed);
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(unpacked->counts, counts);
  EXPECT_EQ(unpacked->paddedLength, 12u);
}

TEST(SymbolCounts, RandomCountsRoundTrip) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    AcCounts counts{};
    for (auto& c : counts) c = rng() % 4 == 0 ? static_cast<int32_t>(rng() % (trial * 1000 + 2)) : 0;
    const std::vector<uint8_t> packed = PackAcCounts(counts);
    EXPECT_EQ(packed.size() % 4, 0u);
    const auto unpacked = UnpackAcCounts(packed);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(unpacked->counts, counts);
    EXPECT_EQ(unpacked->paddedLength, packed.size());
  }
}

TEST(SymbolCounts, ShortOrOverlongPackedBytesAreHandledSafely) {
  const std::vector<uint8_t> truncated = {0x08, 0x07, 0, 255};
  EXPECT_FALSE(UnpackAcCounts(truncated));
  EXPECT_FALSE(UnpackAcCounts({}));
  // Five runs of 256 would produce 1,280 bytes: the last run is cut at 1,024.
  const std::vector<uint8_t> overlong = {0, 255, 0, 255, 0, 255, 0, 255, 0, 255};
  const auto unpacked = UnpackAcCounts(overlong);
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(unpacked->paddedLength, 8u);
}

}  // namespace
}  // namespace reel
