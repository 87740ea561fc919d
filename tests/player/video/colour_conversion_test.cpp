// The colour conversion against pixels whose 5-6-5 values are worked out by hand: the JFIF
// primaries, greys, a colour whose terms truncate, the ends of the tables and hostile samples
// whose 32-bit terms wrap. The fast kernels are held to the plain one in fast_kernels_test.cpp.
#include "player/video/colour_conversion.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "player/video/colour_tables.h"

namespace reel {
namespace {

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

// Samples are level-shifted (the colour minus 128). r = (Cr x 91881) >> 16, g = (Cb x 22553 +
// Cr x 46801) >> 16 and b = (Cb x 116129) >> 16, shifts rounding toward minus infinity; each
// channel's colour is Y + 128 + r, Y + 128 - g, Y + 128 + b, held to 0 ... 255 and cut to 5, 6 and
// 5 bits.
struct KnownPixel {
  const char* what;
  int16_t y;
  int16_t cb;
  int16_t cr;
  uint16_t rgb565;
};

const KnownPixel kKnownPixels[] = {
    {"mid grey 128: 16, 32, 16", 0, 0, 0, 0x8410},
    {"grey 138: 17, 34, 17", 10, 0, 0, 0x8C51},
    {"Y -200 is below black (colour index 184)", -200, 0, 0, 0x0000},
    {"Y +200 is above white (colour index 584)", 200, 0, 0, 0xFFFF},
    // JFIF's red (255, 0, 0) is Y 76, Cb -43, Cr 127: r = 178 gives 254, g = 75 gives 1, b = -77
    // gives -1, held at 0.
    {"red", -52, -43, 127, 0xF800},
    // Green (0, 255, 0): Y 150, Cb -84, Cr -107: r = -151 gives -1, g = -106 gives 256, b = -149 gives 1.
    {"green", 22, -84, -107, 0x07E0},
    // Blue (0, 0, 255): Y 29, Cb 127, Cr -21: r = -30 gives -1, g = 28 gives 1, b = 225 gives 254.
    {"blue", -99, 127, -21, 0x001F},
    // r = 42.06 -> 42 gives 180 (22); g = 14.54 -> 14 gives 124 (31); b = -35.4 -> -36 gives 102 (12).
    {"truncated terms", 10, -20, 30, 0xB3EC},
    // Cr x 91881 wraps to a negative term, so the red of a huge Cr is 0; green's term does not wrap
    // and lies far below 0; blue is the grey's.
    {"a red term that wraps", 0, 0, 32767, 0x0010},
    {"every term wraps, every index below the tables", -32768, -32768, -32768, 0x0000},
    {"every term wraps, every index above the tables", 32767, 32767, 32767, 0xFFFF},
    // Grey luma at the tables' ends: index 767 is the last, 768 and -1 are held at the ends.
    {"index 767", 383, 0, 0, 0xFFFF},
    {"index 768", 384, 0, 0, 0xFFFF},
    {"index 0", -384, 0, 0, 0x0000},
    {"index -1", -385, 0, 0, 0x0000},
};

TEST(ColourConversion, PixelsWorkedOutByHand) {
  const ColourTables& tables = ProcessColourTables();
  for (const KnownPixel& p : kKnownPixels) {
    EXPECT_EQ(ConvertPixel(tables, p.y, ComputeChromaTerms(p.cb, p.cr)), p.rgb565) << p.what;
  }
}

// A macroblock whose four luma blocks are flat (black, white, grey 138 and mid grey) and whose
// chroma is 0 but for the group at chroma position (3, 5), written at (16, 16) of a 48 x 32
// picture: each pixel comes from the luma block covering it, the chroma group covers 2 x 2
// pixels, and nothing outside the macroblock is touched, with either kernel.
TEST(ColourConversion, MacroblockPixelsComeFromTheirBlocks) {
  const ColourTables& tables = ProcessColourTables();
  std::array<DecodedBlock, 6> blocks{};
  blocks[0].fill(-200);
  blocks[1].fill(200);
  blocks[2].fill(10);
  blocks[3].fill(0);
  blocks[4][5 * 8 + 3] = -20;  // pixels 6 and 7 of rows 10 and 11: the bottom-left block
  blocks[5][5 * 8 + 3] = 30;
  constexpr uint32_t kRowPixels = 48;
  for (Kernels kernels : {Kernels::kPlain, Kernels::kFastest}) {
    std::vector<uint16_t> picture(kRowPixels * 32, 0x1234);
    ConvertMacroblock(blocks, tables, picture, kRowPixels, 16, 16, kernels);
    for (uint32_t py = 0; py < 32; ++py) {
      for (uint32_t px = 0; px < kRowPixels; ++px) {
        uint16_t expected = 0x1234;
        if (px >= 16 && px < 32 && py >= 16) {
          const uint32_t x = px - 16;
          const uint32_t y = py - 16;
          const uint16_t flat[2][2] = {{0x0000, 0xFFFF}, {0x8C51, 0x8410}};
          expected = flat[y / 8][x / 8];
          if (x / 2 == 3 && y / 2 == 5) expected = 0xB3EC;
        }
        ASSERT_EQ(picture[py * kRowPixels + px], expected) << px << "," << py;
      }
    }
  }
}

}  // namespace
}  // namespace reel
