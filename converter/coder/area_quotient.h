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

}  // namespace reel
