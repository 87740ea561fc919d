// Truncating division of a weighted pixel sum by its weight total through a float reciprocal, as
// the fast picture scaler does it four lanes at a time.
//
// A sum is at most 255 x its total, so the quotient lies in 0 ... 255. For totals up to
// kReciprocalLimit, multiplying the sum (exact in float: below 2^21) by the smallest float not
// below 1 / total and truncating gives exactly floor(sum / total): the product is never below the
// true quotient, and it exceeds it by at most 2^-23 relative, 2^-15 absolute, which stays below
// the gap of at least 1 / total = 2^-13 to the next integer even after rounding (floats below 256
// lie 2^-16 apart or closer). Larger totals, up to kCorrectedLimit, use the nearest reciprocal and
// one correction step by the remainder, exact in float because every operand stays below 2^24.
#pragma once

#include <cmath>
#include <cstdint>

namespace reel {

inline constexpr uint32_t kReciprocalLimit = 8192;
inline constexpr uint32_t kCorrectedLimit = 65535;

// The smallest float not below 1 / total.
inline float ReciprocalAbove(uint32_t total) {
  float reciprocal = 1.0f / static_cast<float>(total);
  if (static_cast<double>(reciprocal) * total < 1.0) reciprocal = std::nextafter(reciprocal, 2.0f);
  return reciprocal;
}

// floor(sum / total) for total <= kReciprocalLimit and sum <= 255 x total, one lane's worth.
inline uint32_t QuotientByReciprocal(uint32_t sum, float reciprocalAbove) {
  return static_cast<uint32_t>(static_cast<float>(sum) * reciprocalAbove);
}

// Division in 16-bit lanes, for weight totals brought into 65 ... 128 (kSmallTotalLow ...
// kSmallTotalHigh) by scaling a position's weights: with m = ceil(2^22 / total), a 16-bit
// multiply keeping the high half and a shift by 6 give floor(sum * m / 2^22), which is
// floor(sum / total) for every sum up to 255 x total: m / 2^22 exceeds 1 / total by less than
// 2^-22, so the estimate exceeds the true quotient by less than 255 x 128 / 2^22 < 1 / 128, less
// than the gap of at least 1 / total to the next integer. m lies in 2^15 ... 2^16 - 1.
inline constexpr uint32_t kSmallTotalLow = 65;
inline constexpr uint32_t kSmallTotalHigh = 128;
inline constexpr uint32_t kSmallQuotientShift = 6;

inline uint16_t SmallQuotientMagic(uint32_t total) {
  return static_cast<uint16_t>(((uint32_t{1} << (16 + kSmallQuotientShift)) + total - 1) / total);
}

// floor(sum / total) for a total in kSmallTotalLow ... kSmallTotalHigh and sum <= 255 x total.
inline uint32_t QuotientBySmallMagic(uint32_t sum, uint16_t magic) {
  return ((sum * magic) >> 16) >> kSmallQuotientShift;
}

}  // namespace reel
