// The symbols of a coded frame: what the frame coder counts and writes for the DC differences and
// the AC coefficients of each block.
//
// DC: symbol size(d) and then bits(d) in size(d) bits, for the difference d from the previous
// block's DC (one chain through the whole frame, across components, never reset).
// AC, in zig-zag order: a non-zero value of size c after z zeros is one symbol z * 16 + c when
// z <= 14; a longer run is first cut into 0xFF symbols of 30 zeros while it exceeds 30, and a
// remainder of 15 ... 30 zeros becomes 0xF0 + (z - 15) followed by the value's own symbol c.
// Trailing zeros give the end-of-block symbol 0x00; a block whose last coefficient is non-zero
// has none. Symbols 0x01 ... 0xEF carry as many value bits as their low four bits say.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace reel {

struct FrameSymbol {
  uint8_t symbol = 0;
  uint8_t bitCount = 0;  // value bits that follow the symbol's code word
  uint16_t bits = 0;     // the value bits, written most significant first
  friend bool operator==(const FrameSymbol&, const FrameSymbol&) = default;
};

// The JPEG magnitude category of v, at most 15.
uint32_t MagnitudeSize(int32_t v);
// The value bits of v in MagnitudeSize(v) bits: v itself for v > 0, v + 2^c - 1 for v < 0.
uint16_t MagnitudeBits(int32_t v);

FrameSymbol DcSymbol(int32_t difference);

// Appends the AC symbols of one block of quantised coefficients in natural order.
void AppendAcSymbols(const std::array<int32_t, 64>& quantised, std::vector<FrameSymbol>& out);

}  // namespace reel
