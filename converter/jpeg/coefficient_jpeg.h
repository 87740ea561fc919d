// Baseline JPEGs written straight from quantised coefficients: the lossless way out of a frame.
//
// A frame holds what a baseline 4:2:0 JPEG holds, apart from the entropy coding: the quantised
// coefficients of every block (four luminance blocks, then Cb, then Cr, for each 16 x 16
// macroblock, macroblocks in raster order) and the two quantisation tables. This writer hands them
// to libjpeg-turbo's transcoding interface (jpeg_write_coefficients), which only entropy-codes
// them, with Huffman tables optimised for the picture (ITU-T T.81 Annex K.2): nothing is
// transformed or quantised again, so a reader that takes the coefficients back gets the same
// numbers and the same tables.
//
// The blocks of a macroblock that lie wholly right of or below the picture are the padding that
// every 4:2:0 JPEG carries. The library writes them as a JPEG encoder makes them (no AC, the DC of
// the block before), which is what the converter's encoder made of them in the first place.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"

namespace reel {

struct QuantisedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  // Six blocks per macroblock: 64 quantised coefficients each, natural (row-major) order,
  // absolute DC values.
  std::span<const std::array<int16_t, 64>> blocks;
  std::array<uint8_t, 64> lumaQuant{};  // natural order
  std::array<uint8_t, 64> chromaQuant{};
};

// The JPEG stream (SOI, JFIF APP0, two DQT, SOF0, optimised DHT, SOS, data, EOI). A kDamaged error
// (its message names no file) when the picture cannot be one: a size of 0 or above the JPEG limit,
// a block count that does not match the size, a quantisation value of 0, or a coefficient outside
// the baseline range of 8-bit samples.
Result<std::vector<uint8_t>> WriteCoefficientJpeg(const QuantisedPicture& picture);

}  // namespace reel
