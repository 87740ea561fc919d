#include "player/video/inverse_transform.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace reel {
namespace {

DequantTable Uniform(uint16_t value) {
  DequantTable table{};
  table.fill(value);
  return table;
}

using Block = std::array<int16_t, 64>;

Block Transformed(Block block, const DequantTable& quant, bool reference) {
  if (reference) {
    InverseTransformBlockReference(block, quant);
  } else {
    InverseTransformBlock(block, quant);
  }
  return block;
}

TEST(InverseTransform, DcOnlyBlockIsFlat) {
  Block block{};
  block[0] = 25;  // 25 x 8 = 200, shifted by 3: 25
  for (bool reference : {false, true}) {
    const Block out = Transformed(block, Uniform(8), reference);
    for (int16_t sample : out) EXPECT_EQ(sample, 25);
  }
  block[0] = -13;  // -104 >> 3 = -13; an odd product rounds toward minus infinity
  for (int16_t sample : Transformed(block, Uniform(7), false)) EXPECT_EQ(sample, -12);  // -91 >> 3
}

TEST(InverseTransform, DcProductIsTruncatedTo16BitsBeforeTheRowPass) {
  Block block{};
  block[0] = 32767;  // 32767 x 255 = 8,355,585 = 0x7F7F01: its low 16 bits are 0x7F01 = 32513
  for (bool reference : {false, true}) {
    for (int16_t sample : Transformed(block, Uniform(255), reference)) EXPECT_EQ(sample, 32513 >> 3);
  }
}

// Coefficient 1 at row 0, column 1 with factor 1024: the first pass keeps column 1 as 1024 in
// every row (its AC terms are zero), and the second turns each row into the first cosine across.
// The real transform gives 1024 / (4 x sqrt 2) x cos((2k + 1) pi / 16) = 177.54, 150.51, 100.57,
// 35.32 and their negatives; the fixed-point arithmetic, shifted right by 3, gives their floors.
TEST(InverseTransform, SingleLowFrequencyTermGivesTheFirstCosine) {
  Block block{};
  block[1] = 1;
  const std::array<int16_t, 8> expected = {177, 150, 100, 35, -36, -101, -151, -178};
  for (bool reference : {false, true}) {
    const Block out = Transformed(block, Uniform(1024), reference);
    for (int row = 0; row < 8; ++row) {
      for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(out[static_cast<std::size_t>(row * 8 + k)], expected[static_cast<std::size_t>(k)]) << row << "," << k;
      }
    }
  }
}

// Legal coefficient blocks with the sparsity of real pictures (a few low-frequency terms, some
// reaching into the corner or the whole block) and hostile blocks of full-range values whose
// arithmetic wraps: the fast transform must give the reference's samples exactly.
TEST(InverseTransform, FastTransformMatchesReference) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 20000; ++trial) {
    Block block{};
    DequantTable quant{};
    const int kind = trial % 5;
    for (auto& q : quant) q = static_cast<uint16_t>(kind == 4 ? rng() % 256 : 1 + rng() % 99);
    const int terms = kind == 0 ? 1 : static_cast<int>(1 + rng() % 12);
    for (int t = 0; t < terms; ++t) {
      const std::size_t corner = (rng() % 4) * 8 + rng() % 4;
      const std::size_t position = kind == 0 ? 0 : kind == 1 ? corner : rng() % 64;
      const int32_t value = kind >= 3 ? static_cast<int16_t>(rng()) : static_cast<int32_t>(rng() % 401) - 200;
      block[position] = static_cast<int16_t>(value);
    }
    if (kind == 2) block[4 + 8 * (rng() % 4)] = 1;  // just outside the corner
    SCOPED_TRACE(trial);
    const Block expected = Transformed(block, quant, true);
    ASSERT_EQ(Transformed(block, quant, false), expected);
    // A mask with extra bits set only costs time.
    Block widerMask = block;
    InverseTransformBlock(widerMask, quant, NonZeroMask(block) | (uint64_t{rng()} << 32 | rng()));
    ASSERT_EQ(widerMask, expected);
  }
}

}  // namespace
}  // namespace reel
