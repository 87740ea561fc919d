// The fast picture scaler's general kernels eight lanes wide, where the processor has AVX2: the
// SSE2 kernels' arithmetic on two 128-bit halves at once, for windows of up to four taps across
// and of any number down. Every operation used works within each half, so each half computes
// exactly what one SSE2 vector does. Callers check for AVX2 before calling any of these.
#pragma once

#if defined(__SSE2__)
#include <cstddef>
#include <cstdint>
#include <span>

#include "converter/coder/picture_scaler_lanes.h"
#include "converter/coder/picture_scaler_plan.h"

namespace reel::scaler {

// Fills lanes.wide from its pair weights and divisors, for windows of up to 2 x kMaxWidePairs
// taps; `width` is the number of output pixels.
void ArrangeWideRowLanes(RowLanes& lanes, std::size_t width);

// The horizontal pass, eight output pixels at a time while below `count`, as ScaleRowInLanes;
// nothing when lanes.wide is empty. Returns where it stopped.
std::size_t ScaleRowWide(const RowLanes& lanes, Division division, uint32_t bytesPerPixel,
                         std::span<const uint32_t> offsets, const uint8_t* row, std::size_t count, uint8_t* out);

// The vertical pass, 32 bytes (8 pixels) of the window's rows at a time while the stores fit in
// `target`, as SumRowsInLanes; returns the byte of the 4-byte pixel rows where it stopped.
std::size_t SumRowsWide(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                        const Divisor& divisor, Division division, std::size_t rowBytes, std::span<uint8_t> target);

}  // namespace reel::scaler

#endif  // __SSE2__
