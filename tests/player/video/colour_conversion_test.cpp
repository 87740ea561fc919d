#include "player/video/colour_conversion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "player/video/colour_tables.h"

namespace reel {
namespace {

// The conversion of one pixel straight from the formulas, in 64-bit arithmetic with the 32-bit
// wrap made explicit, and the tables' contents spelled out per range.
int32_t Wrapped(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

uint16_t ReferenceField(int64_t index, int channelBits, int shift) {
  const int64_t clamped = std::clamp<int64_t>(index, 0, 767);
  if (clamped < 256) return 0;
  const int64_t colour = clamped >= 512 ? 255 : clamped - 256;
  return static_cast<uint16_t>((colour >> (8 - channelBits)) << shift);
}

uint16_t ReferencePixel(int16_t y, int16_t cb, int16_t cr) {
  const int32_t r = Wrapped(int64_t{cr} * 91881) >> 16;
  const int32_t g = Wrapped(int64_t{cb} * 22553 + int64_t{cr} * 46801) >> 16;
  const int32_t b = Wrapped(int64_t{cb} * 116129) >> 16;
  const int64_t base = int64_t{y} + 384;
  return static_cast<uint16_t>(ReferenceField(base + r, 5, 11) | ReferenceField(base - g, 6, 5) |
                               ReferenceField(base + b, 5, 0));
}

TEST(ColourTables, RangesHoldBlackColourAndSaturation) {
  const ColourTables& t = ProcessColourTables();
  EXPECT_EQ(&t, &ProcessColourTables());
  for (std::size_t i : {0u, 255u}) {
    EXPECT_EQ(t.RedField[i] | t.GreenField[i] | t.BlueField[i], 0) << i;
  }
  EXPECT_EQ(t.RedField[256 + 200], (200 >> 3) << 11);
  EXPECT_EQ(t.GreenField[256 + 200], (200 >> 2) << 5);
  EXPECT_EQ(t.BlueField[256 + 7], 0);
  EXPECT_EQ(t.BlueField[256 + 8], 1);
  EXPECT_EQ(t.RedField[511], 0xF800);
  for (std::size_t i : {512u, 767u}) {
    EXPECT_EQ(t.RedField[i], 0xF800);
    EXPECT_EQ(t.GreenField[i], 0x07E0);
    EXPECT_EQ(t.BlueField[i], 0x001F);
  }
}

TEST(ColourConversion, GreyExtremesGiveBlackAndWhite) {
  const ColourTables& tables = ProcessColourTables();
  const ChromaTerms none = ComputeChromaTerms(0, 0);
  EXPECT_EQ(ConvertPixel(tables, -200, none), 0x0000);  // index 184
  EXPECT_EQ(ConvertPixel(tables, 200, none), 0xFFFF);   // index 584
  EXPECT_EQ(ConvertPixel(tables, 0, none), ReferencePixel(0, 0, 0));
  EXPECT_EQ(ConvertPixel(tables, 0, none), (16u << 11) | (32u << 5) | 16u);  // mid grey 128
}

TEST(ColourConversion, HostileTermsWrapAndClampInsteadOfReadingOutside) {
  const ColourTables& tables = ProcessColourTables();
  for (int16_t cb : {int16_t{-32768}, int16_t{32767}, int16_t{0}}) {
    for (int16_t cr : {int16_t{-32768}, int16_t{32767}, int16_t{1}}) {
      for (int16_t y : {int16_t{-32768}, int16_t{32767}, int16_t{5}}) {
        EXPECT_EQ(ConvertPixel(tables, y, ComputeChromaTerms(cb, cr)), ReferencePixel(y, cb, cr));
      }
    }
  }
}

// Samples of four kinds: a narrow range that needs no clamping, a wide legal range, values at the
// tables' edges (one step inside or outside), and hostile full-range values that wrap the terms.
std::array<DecodedBlock, 6> RandomMacroblock(std::mt19937& rng, int kind) {
  auto uniform = [&rng](int32_t low, int32_t high) {
    return static_cast<int16_t>(low + static_cast<int32_t>(rng() % static_cast<uint32_t>(high - low + 1)));
  };
  std::array<DecodedBlock, 6> blocks{};
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const bool chroma = b >= 4;
    for (auto& sample : blocks[b]) {
      switch (kind) {
        case 0: sample = chroma ? uniform(-40, 40) : uniform(-120, 120); break;
        case 1: sample = uniform(-300, 300); break;
        case 2: sample = chroma ? uniform(-2, 2) : (rng() % 2 ? uniform(379, 386) : uniform(-387, -380)); break;
        default: sample = static_cast<int16_t>(rng());
      }
    }
  }
  return blocks;
}

TEST(ColourConversion, IndexAtEachEndOfTheTables) {
  const ColourTables& tables = ProcessColourTables();
  std::array<DecodedBlock, 6> blocks{};
  std::vector<uint16_t> picture(16 * 16);
  for (int16_t luma : {int16_t{383}, int16_t{384}, int16_t{-384}, int16_t{-385}}) {
    for (std::size_t b = 0; b < 4; ++b) blocks[b].fill(luma);
    for (Kernels kernels : {Kernels::kPlain, Kernels::kFastest}) {
      ConvertMacroblock(blocks, tables, picture, 16, 0, 0, kernels);
      for (uint16_t pixel : picture) ASSERT_EQ(pixel, ReferencePixel(luma, 0, 0)) << luma;
    }
  }
}

// Each pixel of a macroblock against the plain formula: luma from the block covering the pixel,
// chroma shared by each 2 x 2 group, written at the macroblock's place in a wider picture.
TEST(ColourConversion, MacroblockMatchesPerPixelFormula) {
  const ColourTables& tables = ProcessColourTables();
  std::mt19937 rng(5);
  constexpr uint32_t kRowPixels = 48;
  for (int trial = 0; trial < 800; ++trial) {
    const auto blocks = RandomMacroblock(rng, trial / 2 % 4);
    std::vector<uint16_t> picture(kRowPixels * 32, 0x1234);
    const uint32_t x = 16 * (trial % 3);
    const uint32_t y = 16 * (trial / 2 % 2);
    ConvertMacroblock(blocks, tables, picture, kRowPixels, x, y,
                      trial % 2 == 0 ? Kernels::kPlain : Kernels::kFastest);
    for (uint32_t py = 0; py < 32; ++py) {
      for (uint32_t px = 0; px < kRowPixels; ++px) {
        const uint16_t got = picture[py * kRowPixels + px];
        const bool inside = px >= x && px < x + 16 && py >= y && py < y + 16;
        if (!inside) {
          ASSERT_EQ(got, 0x1234) << px << "," << py;
          continue;
        }
        const uint32_t mx = px - x;
        const uint32_t my = py - y;
        const DecodedBlock& luma = blocks[(my / 8) * 2 + mx / 8];
        const std::size_t chroma = (my / 2) * 8 + mx / 2;
        ASSERT_EQ(got, ReferencePixel(luma[(my % 8) * 8 + mx % 8], blocks[4][chroma], blocks[5][chroma]))
            << trial << ": " << mx << "," << my;
      }
    }
  }
}

}  // namespace
}  // namespace reel
