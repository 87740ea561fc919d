// The table-driven Huffman decode (with its per-length fallback) against the plain linear search:
// same symbols after the same bits, for random valid tables on random bit streams.
#include "converter/jpeg/huff_decode_table.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace reel {
namespace {

// Entropy-coded bytes from bits (stuffing 0xFF), padded with 1-bits, followed by EOI.
std::vector<uint8_t> Pack(const std::vector<int>& bits) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    uint8_t byte = 0;
    for (std::size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte * 2 + (i + b < bits.size() ? bits[i + b] : 1));
    out.push_back(byte);
    if (byte == 0xFF) out.push_back(0x00);
  }
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

// Decodes `count` symbols both ways, then reads 24 more bits: both must agree on everything.
void ExpectSameDecoding(const HuffDecodeTable& table, const std::vector<uint8_t>& bytes, int count) {
  CByteSource fastSource(bytes);
  CByteSource linearSource(bytes);
  CJpegBitReader fast;
  CJpegBitReader linear;
  fast.Open(fastSource);
  linear.Open(linearSource);
  fast.StartBits();
  linear.StartBits();
  for (int i = 0; i < count; ++i) ASSERT_EQ(table.Decode(fast), table.DecodeLinear(linear)) << "symbol " << i;
  for (int i = 0; i < 24; ++i) ASSERT_EQ(fast.GetBit(), linear.GetBit()) << "trailing bit " << i;
}

TEST(HuffDecodeTable, UnmatchedBitsGiveSymbolZeroAfterTheLongestCode) {
  // Codes "0" -> 5 and "10" -> 7; "11" matches nothing.
  HuffDecodeTable table;
  const std::array<uint8_t, 16> counts = {1, 1};
  const std::array<uint8_t, 2> symbols = {5, 7};
  ASSERT_TRUE(table.Build(counts, symbols, true));
  const std::vector<uint8_t> bytes = Pack({1, 1, 1, 0, 0});
  CByteSource source(bytes);
  CJpegBitReader reader;
  reader.Open(source);
  reader.StartBits();
  EXPECT_EQ(table.Decode(reader), 0);  // "11"
  EXPECT_EQ(table.Decode(reader), 7);  // "10"
  EXPECT_EQ(table.Decode(reader), 5);  // "0"
  // An empty table reads no bits at all.
  HuffDecodeTable empty;
  EXPECT_EQ(empty.Decode(reader), 0);
  EXPECT_EQ(reader.GetBit(), 1);  // the padding after the five bits
}

TEST(HuffDecodeTable, RandomTablesDecodeIdenticallyBothWays) {
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    // Random code counts that fit (Kraft sum at most 1), with the all-ones code sometimes used.
    std::array<uint8_t, 16> counts{};
    uint32_t room = 2;  // codes still free at the current length
    int total = 0;
    for (int length = 0; length < 16 && total < 256; ++length) {
      const uint32_t limit = std::min<uint32_t>({room, 256u - static_cast<uint32_t>(total), 255u});
      const auto count = static_cast<uint32_t>(limit == 0 ? 0 : random() % (limit + 1) / (random() % 3 + 1));
      counts[static_cast<std::size_t>(length)] = static_cast<uint8_t>(count);
      total += static_cast<int>(count);
      room = std::min<uint32_t>((room - count) * 2, 1u << 17);
    }
    std::vector<uint8_t> symbols(static_cast<std::size_t>(total));
    for (uint8_t& symbol : symbols) symbol = static_cast<uint8_t>(random());
    HuffDecodeTable table;
    ASSERT_TRUE(table.Build(counts, symbols, false));
    std::vector<int> bits(4000);
    for (int& bit : bits) bit = static_cast<int>(random() % 2);
    ExpectSameDecoding(table, Pack(bits), 300);
  }
}

}  // namespace
}  // namespace reel
