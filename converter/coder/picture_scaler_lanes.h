// The vector lanes the fast picture scaler's kernels share: weighted sums of pixel bytes in 32-bit
// lanes, their truncating division by the weight total through a float reciprocal (exact for the
// totals it is used on, area_quotient.h), and the packing of quotients back into bytes and 3-byte
// pixels. The AVX2 forms do the same arithmetic on two 128-bit halves at once.
#pragma once

#if defined(__SSE2__)
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "converter/coder/area_quotient.h"
#include "converter/coder/picture_scaler_plan.h"

namespace reel::scaler {

// A weight total in lanes. A total of 0 becomes 1: its sums are all 0, so the quotient stays 0.
struct Divisor {
  __m128 reciprocal;
  __m128 total;
};

inline Divisor MakeDivisor(uint32_t weightTotal, Division division) {
  const uint32_t total = std::max(weightTotal, 1u);
  const float reciprocal = division == Division::Reciprocal ? ReciprocalAbove(total) : 1.0f / static_cast<float>(total);
  return {_mm_set1_ps(reciprocal), _mm_set1_ps(static_cast<float>(total))};
}

// floor(sums / total) in each lane, for the divisions the float lanes handle exactly.
template <Division kDivision>
inline __m128i Quotients(__m128i sums, const Divisor& divisor) {
  static_assert(kDivision != Division::Integer);
  const __m128 sum = _mm_cvtepi32_ps(sums);
  __m128i quotient = _mm_cvttps_epi32(_mm_mul_ps(sum, divisor.reciprocal));
  if constexpr (kDivision == Division::Corrected) {
    // The estimate is within one of the quotient; the remainder's sign and size say which way.
    const __m128 rest = _mm_sub_ps(sum, _mm_mul_ps(_mm_cvtepi32_ps(quotient), divisor.total));
    quotient = _mm_sub_epi32(quotient, _mm_castps_si128(_mm_cmpge_ps(rest, divisor.total)));
    quotient = _mm_add_epi32(quotient, _mm_castps_si128(_mm_cmplt_ps(rest, _mm_setzero_ps())));
  }
  return quotient;
}

// Four vectors of quotients (0 ... 255) as 16 bytes.
inline __m128i PackBytes(__m128i q0, __m128i q1, __m128i q2, __m128i q3) {
  return _mm_packus_epi16(_mm_packs_epi32(q0, q1), _mm_packs_epi32(q2, q3));
}

inline void StoreBytes(uint8_t* out, __m128i q0, __m128i q1, __m128i q2, __m128i q3) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), PackBytes(q0, q1, q2, q3));
}

// Four 4-byte pixels (blue, green, red, 0) as 12 bytes at `out`, writing 14: each 8-byte half
// drops its pixels' fourth bytes and ends in two 0 bytes, which the next pixels overwrite.
inline void StoreFourPixels(uint8_t* out, __m128i pixels) {
  const __m128i first = _mm_and_si128(pixels, _mm_set1_epi64x(0xFFFFFF));
  const __m128i second = _mm_and_si128(_mm_srli_epi64(pixels, 8), _mm_set1_epi64x(0xFFFFFF000000));
  const __m128i packed = _mm_or_si128(first, second);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_unpackhi_epi64(packed, packed));
}

inline __m128i LoadPixel(const uint8_t* pixel) {
  int32_t value = 0;
  std::memcpy(&value, pixel, sizeof value);
  return _mm_cvtsi32_si128(value);
}

// Eight 16-bit weights in the order a multiply-add pairs them with its values.
using WeightLanes = std::array<int16_t, 8>;

inline WeightLanes PairedWeights(uint32_t first, uint32_t second, int pixelsWeighted) {
  WeightLanes lanes{};
  for (int k = 0; k < pixelsWeighted; ++k) {
    lanes[static_cast<std::size_t>(2 * k)] = static_cast<int16_t>(first);
    lanes[static_cast<std::size_t>(2 * k + 1)] = static_cast<int16_t>(second);
  }
  return lanes;
}

inline __m128i Load(const WeightLanes& lanes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.data())); }

// The AVX2 lanes: the same arithmetic on two 128-bit halves at once. Every operation used works
// within each half, so each half computes exactly what one SSE2 vector does.
#define REEL_AVX2 __attribute__((target("avx2")))

template <Division kDivision>
REEL_AVX2 inline __m256i WideQuotients(__m256i sums, __m256 reciprocal, __m256 total) {
  const __m256 sum = _mm256_cvtepi32_ps(sums);
  __m256i quotient = _mm256_cvttps_epi32(_mm256_mul_ps(sum, reciprocal));
  if constexpr (kDivision == Division::Corrected) {
    const __m256 rest = _mm256_sub_ps(sum, _mm256_mul_ps(_mm256_cvtepi32_ps(quotient), total));
    quotient = _mm256_sub_epi32(quotient, _mm256_castps_si256(_mm256_cmp_ps(rest, total, _CMP_GE_OQ)));
    quotient = _mm256_add_epi32(quotient, _mm256_castps_si256(_mm256_cmp_ps(rest, _mm256_setzero_ps(), _CMP_LT_OQ)));
  }
  return quotient;
}

REEL_AVX2 inline __m256i WidePackBytes(__m256i q0, __m256i q1, __m256i q2, __m256i q3) {
  return _mm256_packus_epi16(_mm256_packs_epi32(q0, q1), _mm256_packs_epi32(q2, q3));
}

// The horizontal pass's general lanes for one axis plan: each output pixel's window weights,
// paired as a multiply-add takes them, and its divisor; and, for the AVX2 lanes, the same for
// output pixels x + j and x + j + 4 (x a multiple of 8, j < 4) side by side.
struct WideLanes {
  std::array<int16_t, 16 * kMaxWidePairs> weights;  // per pair: low half's 8, high half's 8
  std::array<float, 8> reciprocal;
  std::array<float, 8> total;
};

struct RowLanes {
  uint32_t pairs = 0;                   // (taps + 1) / 2
  std::vector<WeightLanes> pairWeights;  // `pairs` per output pixel
  std::vector<Divisor> divisors;         // one per output pixel
  std::vector<WideLanes> wide;           // one per 4 output pixels of each group of 8; empty: none
};

}  // namespace reel::scaler

#endif  // __SSE2__
