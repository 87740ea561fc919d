// Turns one decoded macroblock (four luma sample blocks, then Cb and Cr) into 5-6-5 pixels.
//
// The conversion is JFIF's YCbCr to RGB in 16.16 fixed point. Chroma is not interpolated: each
// chroma sample serves a 2 x 2 group of pixels, and its three colour terms are computed once for
// the group. A pixel is the OR of the red, green and blue table entries at Y + 384 + r,
// Y + 384 - g and Y + 384 + b. The terms use 32-bit signed arithmetic with wrap-around; an index
// outside the tables, which only hostile data produces, is clamped to the nearest end. A macroblock
// whose sample ranges show that no index can leave the tables is written without the clamps; on
// x86-64 such a macroblock is converted eight pixels at a time with SSE2 in 16-bit lanes, where the
// table lookups become a clamp to 0 .. 255 and two masks and shifts (the very values the tables
// hold), and the terms use the same products split so that each factor fits 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "player/video/colour_tables.h"
#include "player/video/frame_entropy_decoder.h"
#include "player/video/kernel_choice.h"

namespace reel {

struct ChromaTerms {
  int32_t red = 0;    // (Cr x 1.402) >> 16
  int32_t green = 0;  // (Cb x 0.34414 + Cr x 0.71414) >> 16, subtracted
  int32_t blue = 0;   // (Cb x 1.772) >> 16
};

ChromaTerms ComputeChromaTerms(int16_t cb, int16_t cr);

// Where the rows of a picture lie in memory: `rows` rows of `rowPixels` pixels, stored top row
// first, or bottom row first (as in a bottom-up surface, where row 0 is the last one stored).
struct PictureRows {
  std::span<uint16_t> pixels;
  uint32_t rowPixels = 0;
  uint32_t rows = 0;
  bool bottomUp = false;

  // `count` pixels of row `row` from column `column` on.
  std::span<uint16_t> Row(std::size_t row, std::size_t column, std::size_t count) const {
    const std::size_t stored = bottomUp ? rows - 1 - row : row;
    return pixels.subspan(stored * rowPixels + column, count);
  }
};

// One pixel from a luma sample and its group's terms.
uint16_t ConvertPixel(const ColourTables& tables, int16_t luma, const ChromaTerms& terms);

// Writes the 16 x 16 pixels of `blocks` (6 sample blocks) into `picture`, whose rows are
// `rowPixels` pixels long, with the macroblock's top-left pixel at (x, y). The caller guarantees
// the macroblock lies inside the picture. Kernels::kPlain forces the per-pixel table lookups.
void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       std::span<uint16_t> picture, uint32_t rowPixels, uint32_t x, uint32_t y,
                       Kernels kernels = Kernels::kFastest);
// The same into rows laid out as `picture` says; the macroblock lies inside its rows.
void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       const PictureRows& picture, uint32_t x, uint32_t y,
                       Kernels kernels = Kernels::kFastest);

// A flat macroblock: each of its six blocks holds one sample throughout (`samples`: the four luma
// blocks in order, then Cb and Cr), so each 8 x 8 quadrant is one colour, worked out once by
// ConvertPixel. Writes exactly what ConvertMacroblock writes for blocks filled with those samples.
void FillFlatMacroblock(std::span<const int16_t, 6> samples, const ColourTables& tables,
                        const PictureRows& picture, uint32_t x, uint32_t y);

}  // namespace reel
