// The fast picture scaler's general kernels in SSE2 lanes, for windows of any number of taps:
// four channels of a pixel at a time, source bytes paired up as 16-bit values and multiplied by
// the pair's weights with one multiply-add into 32-bit sums (a sum never exceeds 255 x the step,
// at most 255 x 16384 x 1024, below 2^32), then divided by the weight total in float lanes.
#pragma once

#if defined(__SSE2__)
#include <cstddef>
#include <cstdint>
#include <span>

#include "converter/coder/picture_scaler_lanes.h"
#include "converter/coder/picture_scaler_plan.h"

namespace reel::scaler {

// The horizontal pass's pair weights and divisors for `plan` (whose totals the float lanes divide:
// Integer division is arranged as Corrected, for the lanes that never run).
RowLanes ArrangeRowLanes(const AxisPlan& plan);

// The horizontal pass, four output pixels at a time from `from` while below `count` (the pixels
// whose windows may be read in lanes), into 4-byte pixels at `out`. `offsets` gives each output
// pixel's window start in the row, in bytes; `bytesPerPixel` is 3 or 4 and `division` Reciprocal
// or Corrected. Returns where it stopped.
std::size_t ScaleRowInLanes(const RowLanes& lanes, Division division, uint32_t bytesPerPixel,
                            std::span<const uint32_t> offsets, const uint8_t* row, std::size_t from,
                            std::size_t count, uint8_t* out);

// The vertical pass for one output row, from byte `from` of the window's 4-byte pixel rows
// (`rowBytes` each, a whole number of vectors; an odd last row pairs with itself at weight 0) to
// the end, stored as `width` 3-byte pixels into `target`. `spare` holds 16 bytes for the row's
// last pixels.
void SumRowsInLanes(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                    const Divisor& divisor, Division division, std::size_t rowBytes, std::size_t from,
                    std::span<uint8_t> target, uint32_t width, uint8_t* spare);

}  // namespace reel::scaler

#endif  // __SSE2__
