// The fast picture scaler's kernels for exact halving, where the processor has AVX2: when every
// output sample is the mean of source samples 2x and 2x + 1, the quotient is floor((a + b) / 2),
// computed bytewise as (a & b) + ((a ^ b) >> 1) with no multiplies at all.
#pragma once

#if defined(__SSE2__)
#include <cstddef>
#include <cstdint>
#include <span>

namespace reel::scaler {

// The horizontal pass over one row of 3-byte source pixels (`source` reaches to the end of the
// picture) into `width` 4-byte pixels at `out` (`outBytes` long), six output pixels at a time
// while the reads and stores stay inside; returns where it stopped.
std::size_t HalveRowWide(std::span<const uint8_t> source, std::size_t width, uint8_t* out, std::size_t outBytes);

// The vertical pass: the mean of two rows of 4-byte pixels as `width` 3-byte pixels of `target`,
// every one of them.
void MeanOfRowsWide(const uint8_t* first, const uint8_t* second, std::span<uint8_t> target, uint32_t width);

}  // namespace reel::scaler

#endif  // __SSE2__
