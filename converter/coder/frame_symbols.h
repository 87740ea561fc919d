// The symbols of a coded frame: what the frame coder counts and writes for the DC differences and
// the AC coefficients of each block, in the frame's alphabet (common/frame_alphabet.h).
//
// DC: one symbol for the difference d from the previous block's DC (one chain through the whole
// frame, across components, never reset). AC, in zig-zag order: each non-zero value with the run
// of zeros before it; trailing zeros give the end-of-block symbol, so a block whose last
// coefficient is non-zero has none. This is the plain symbol maker the frame coder's reference
// uses; FrameCoder makes the same symbols its own faster way.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/frame_alphabet.h"

namespace reel {

struct FrameSymbol {
  uint8_t symbol = 0;
  uint8_t bitCount = 0;  // value bits that follow the symbol's code word
  uint16_t bits = 0;     // the value bits, written most significant first
  friend bool operator==(const FrameSymbol&, const FrameSymbol&) = default;
};

FrameSymbol DcSymbol(int32_t difference);

// Appends the AC symbols of one block of quantised coefficients in natural order.
void AppendAcSymbols(const std::array<int32_t, 64>& quantised, std::vector<FrameSymbol>& out);

}  // namespace reel
