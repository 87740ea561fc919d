#include "converter/coder/picture_scaler_sse2.h"

#if defined(__SSE2__)
#include <algorithm>
#include <cstring>

namespace reel::scaler {
namespace {

// One output pixel's quotients. `kPairs` 0: as many as `pairs`. Inlined into the loop that calls
// it four times over, as it is the pass's inner work.
template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
[[gnu::always_inline]] inline __m128i PixelQuotients(const RowLanes& lanes, std::span<const uint32_t> offsets, const uint8_t* row, std::size_t x) {
  const __m128i zero = _mm_setzero_si128();
  const uint32_t pairs = kPairs != 0 ? kPairs : lanes.pairs;
  const uint8_t* pixel = row + offsets[x];
  const WeightLanes* weights = &lanes.pairWeights[x * pairs];
  __m128i sums = zero;
  for (uint32_t k = 0; k < pairs; ++k, pixel += 2 * kBytes) {
    const __m128i paired = _mm_unpacklo_epi8(LoadPixel(pixel), LoadPixel(pixel + kBytes));
    sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_unpacklo_epi8(paired, zero), Load(weights[k])));
  }
  return Quotients<kDivision>(sums, lanes.divisors[x]);
}

template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
std::size_t ScaleLanes(const RowLanes& lanes, std::span<const uint32_t> offsets, const uint8_t* row, std::size_t from,
                       std::size_t count, uint8_t* out) {
  std::size_t x = from;
  for (; x + 4 <= count; x += 4) {
    StoreBytes(out + x * kLaneBytes, PixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x),
               PixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x + 1),
               PixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x + 2),
               PixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x + 3));
  }
  return x;
}

// Windows of up to four taps (steps up to 4 source pixels) have shapes of their own.
template <Division kDivision>
std::size_t ScaleLanesFor(const RowLanes& lanes, uint32_t bytesPerPixel, std::span<const uint32_t> offsets,
                          const uint8_t* row, std::size_t from, std::size_t count, uint8_t* out) {
  if (bytesPerPixel == 3) {
    if (lanes.pairs == 1) return ScaleLanes<kDivision, 3, 1>(lanes, offsets, row, from, count, out);
    if (lanes.pairs == 2) return ScaleLanes<kDivision, 3, 2>(lanes, offsets, row, from, count, out);
    return ScaleLanes<kDivision, 3, 0>(lanes, offsets, row, from, count, out);
  }
  if (lanes.pairs == 1) return ScaleLanes<kDivision, 4, 1>(lanes, offsets, row, from, count, out);
  if (lanes.pairs == 2) return ScaleLanes<kDivision, 4, 2>(lanes, offsets, row, from, count, out);
  return ScaleLanes<kDivision, 4, 0>(lanes, offsets, row, from, count, out);
}

template <Division kDivision>
void SumRows(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights, const Divisor& divisor,
             std::size_t rowBytes, std::size_t from, std::span<uint8_t> target, uint32_t width, uint8_t* spare) {
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t i = from; i < rowBytes; i += kVectorBytes) {
    __m128i sums0 = zero;
    __m128i sums1 = zero;
    __m128i sums2 = zero;
    __m128i sums3 = zero;
    for (std::size_t k = 0; k < pairWeights.size(); ++k) {
      const __m128i weight = Load(pairWeights[k]);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[2 * k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[2 * k + 1] + i));
      const __m128i low = _mm_unpacklo_epi8(a, b);
      const __m128i high = _mm_unpackhi_epi8(a, b);
      sums0 = _mm_add_epi32(sums0, _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), weight));
      sums1 = _mm_add_epi32(sums1, _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), weight));
      sums2 = _mm_add_epi32(sums2, _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), weight));
      sums3 = _mm_add_epi32(sums3, _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), weight));
    }
    const __m128i bytes = PackBytes(Quotients<kDivision>(sums0, divisor), Quotients<kDivision>(sums1, divisor),
                                    Quotients<kDivision>(sums2, divisor), Quotients<kDivision>(sums3, divisor));
    // Four pixels of 3 bytes, stored as two overlapping 8-byte halves of 6: while the 14 bytes
    // written fit in the row; the rest goes through `spare`.
    const std::size_t at = i / kLaneBytes * kChannels;
    if (at + 14 <= target.size()) {
      StoreFourPixels(&target[at], bytes);
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(spare), bytes);
    const std::size_t firstPixel = i / kLaneBytes;
    for (std::size_t x = firstPixel; x < std::min<std::size_t>(width, firstPixel + 4); ++x) {
      std::memcpy(&target[x * kChannels], spare + (x - firstPixel) * kLaneBytes, kChannels);
    }
  }
}

}  // namespace

RowLanes ArrangeRowLanes(const AxisPlan& plan) {
  const std::size_t width = plan.start.size();
  RowLanes lanes;
  lanes.pairs = (plan.taps + 1) / 2;
  lanes.pairWeights.resize(width * lanes.pairs);
  lanes.divisors.reserve(width);
  const Division division = plan.division == Division::Integer ? Division::Corrected : plan.division;
  for (std::size_t x = 0; x < width; ++x) {
    const uint32_t* weights = &plan.weights[x * plan.taps];
    for (uint32_t k = 0; k < lanes.pairs; ++k) {
      const uint32_t second = 2 * k + 1 < plan.taps ? weights[2 * k + 1] : 0;
      // The fourth lane (the byte after the pixel) gets weight 0.
      lanes.pairWeights[x * lanes.pairs + k] = PairedWeights(weights[2 * k], second, 3);
    }
    lanes.divisors.push_back(MakeDivisor(plan.totals[x], division));
  }
  return lanes;
}

std::size_t ScaleRowInLanes(const RowLanes& lanes, Division division, uint32_t bytesPerPixel,
                            std::span<const uint32_t> offsets, const uint8_t* row, std::size_t from,
                            std::size_t count, uint8_t* out) {
  if (division == Division::Reciprocal) {
    return ScaleLanesFor<Division::Reciprocal>(lanes, bytesPerPixel, offsets, row, from, count, out);
  }
  return ScaleLanesFor<Division::Corrected>(lanes, bytesPerPixel, offsets, row, from, count, out);
}

void SumRowsInLanes(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                    const Divisor& divisor, Division division, std::size_t rowBytes, std::size_t from,
                    std::span<uint8_t> target, uint32_t width, uint8_t* spare) {
  if (division == Division::Reciprocal) {
    return SumRows<Division::Reciprocal>(window, pairWeights, divisor, rowBytes, from, target, width, spare);
  }
  SumRows<Division::Corrected>(window, pairWeights, divisor, rowBytes, from, target, width, spare);
}

}  // namespace reel::scaler

#endif  // __SSE2__
