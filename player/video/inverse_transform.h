// The integer inverse DCT with dequantisation, in place on one 8 x 8 block.
//
// Pass 1 runs down the columns on the dequantised coefficients (coefficient x factor as 32-bit
// products); a column whose seven AC terms are all zero becomes its DC term throughout. Pass 2 runs
// along the rows and shifts each result right by 3. Both passes store 16-bit values, truncating.
// The 1-D transform is the Loeffler-Ligtenberg-Moschytz factorisation in 16.16 fixed point, every
// product shifted right by 16 on its own; all of its arithmetic is 32-bit signed with two's-
// complement wrap-around, which hostile coefficients do reach, so it is computed in unsigned
// 32-bit arithmetic and turned back to signed only where a shift needs it. The results are
// sample values minus 128.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "player/video/kernel_choice.h"

namespace reel {

using DequantTable = std::array<uint16_t, 64>;  // natural (row-major) order

// The sample every position of a block holds after the transform when only its DC term (natural
// position 0) can be non-zero: pass 1 spreads the dequantised DC down column 0, pass 2 spreads each
// row's first value, shifted, along the row.
int16_t DcOnlySample(int16_t coefficient, uint16_t factor);

// Bit k set when coefficient k (natural order) is not 0.
uint64_t NonZeroMask(std::span<const int16_t, 64> block);

// The fast transform. It works only on the columns and rows that can hold anything: `nonZeroMask`
// has bit k set for every coefficient k that may be non-zero (a clear bit promises a 0; extra set
// bits cost time, not exactness). Gives exactly the reference's results. With Kernels::kFastest on
// a processor with AVX2, a block with any AC term is transformed eight columns (then eight rows) at
// once in 32-bit lanes, whose products wrap exactly as the plain arithmetic does.
void InverseTransformBlock(std::span<int16_t, 64> block, const DequantTable& quant,
                           uint64_t nonZeroMask, Kernels kernels = Kernels::kFastest);
void InverseTransformBlock(std::span<int16_t, 64> block, const DequantTable& quant);

// The plain transform, step by step as described above; the fast one is tested against it.
void InverseTransformBlockReference(std::span<int16_t, 64> block, const DequantTable& quant);

}  // namespace reel
