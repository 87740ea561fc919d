// CoefficientSet: the hand-over from the JPEG parser to the frame coder.
//
// Blocks are in macroblock order: each 16 x 16 macroblock contributes six blocks (four luminance
// blocks top-left, top-right, bottom-left, bottom-right, then Cb, then Cr), macroblocks in raster
// order from the top row of the picture. Every block holds 64 dequantised coefficients in natural
// (row-major) order with an absolute DC value. The two quantisation tables are in zig-zag order.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/qrx_format.h"

namespace reel {

using CoefficientBlock = std::array<int32_t, 64>;
using QuantTable = std::array<uint16_t, 64>;

inline constexpr uint32_t kMaxCoefficientBlocks = 30000;

struct CoefficientSet {
  uint32_t width = 0;   // picture width from the JPEG's frame header
  uint32_t height = 0;  // picture height
  std::vector<CoefficientBlock> blocks;  // the filled blocks, in macroblock order
  std::array<QuantTable, 2> quantTables{};  // table 0 luminance, table 1 chrominance; zig-zag order
};

// The same hand-over as the JPEG encoder holds it, before dequantisation: each value is the
// dequantised coefficient divided by its table entry (natural order, absolute DC), so the frame
// coder needs no division. Blocks and tables as in CoefficientSet.
using QuantisedBlock = std::array<int16_t, 64>;

struct QuantisedSet {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<QuantisedBlock> blocks;
  std::array<QuantTable, 2> quantTables{};
};

// Macroblocks across and down a picture: the picture is cut into 16 x 16 squares, the edge ones
// covering the JPEG's padding.
inline uint32_t MacroblockColumns(uint32_t width) { return width / 16 + (width % 16 != 0); }
inline uint32_t MacroblockRows(uint32_t height) { return height / 16 + (height % 16 != 0); }

}  // namespace reel
