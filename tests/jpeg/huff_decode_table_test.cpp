// The per-length Huffman decode against the plain linear search: same symbols after the same
// bits, for the standard tables and for random valid tables on random bit streams.
#include "converter/jpeg/huff_decode_table.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace reel {
namespace {

// T.81 Table K.5: AC luminance code counts and symbols.
constexpr std::array<uint8_t, 16> kAcLumaCounts = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::array<uint8_t, 162> kAcLumaSymbols = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

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

void AppendCode(std::vector<int>& bits, const HuffDecodeTable::Code& code) {
  for (int b = code.length - 1; b >= 0; --b) bits.push_back((code.code >> b) & 1);
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

TEST(HuffDecodeTable, EveryStandardCodeDecodesToItsSymbol) {
  HuffDecodeTable table;
  ASSERT_TRUE(table.Build(kAcLumaCounts, kAcLumaSymbols, false));
  ASSERT_EQ(table.Count(), 162);
  // The longest code of the table is 1111111111111110 (sixteen bits), for 0xFA.
  EXPECT_EQ(table.Codes().back().code, 0xFFFE);
  EXPECT_EQ(table.Codes().back().length, 16);
  std::vector<int> bits;
  for (const auto& code : table.Codes()) AppendCode(bits, code);
  const std::vector<uint8_t> bytes = Pack(bits);
  CByteSource source(bytes);
  CJpegBitReader reader;
  reader.Open(source);
  reader.StartBits();
  for (uint8_t symbol : kAcLumaSymbols) ASSERT_EQ(table.Decode(reader), symbol);
  ExpectSameDecoding(table, bytes, 162);
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

TEST(HuffDecodeTable, RefusesBrokenTables) {
  HuffDecodeTable table;
  const std::array<uint8_t, 16> tooMany = {3};
  EXPECT_FALSE(table.Build(tooMany, std::array<uint8_t, 3>{1, 2, 3}, false));
  const std::array<uint8_t, 16> one = {1};
  EXPECT_FALSE(table.Build(one, std::array<uint8_t, 1>{16}, true));  // DC sizes stop at 15
  EXPECT_TRUE(table.Build(one, std::array<uint8_t, 1>{16}, false));
  EXPECT_FALSE(table.Build(one, std::array<uint8_t, 2>{1, 2}, false));  // symbol count mismatch
  std::array<uint8_t, 16> wide{};
  wide[15] = 255;
  wide[14] = 2;  // 257 codes
  EXPECT_FALSE(table.Build(wide, std::vector<uint8_t>(257), false));
}

}  // namespace
}  // namespace reel
