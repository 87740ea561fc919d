#include "converter/coder/picture_scaler_avx2.h"

#if defined(__SSE2__)
#include <algorithm>

namespace reel::scaler {
namespace {

// Output pixels x + j (low half) and x + j + 4 (high half) of windows of up to 2 x kPairs
// taps, each pair of the window's pixels read as 8 bytes and paired channel by channel with one
// byte shuffle.
template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
[[gnu::always_inline]] REEL_AVX2 inline __m256i WidePixelQuotients(const RowLanes& lanes, std::span<const uint32_t> offsets, const uint8_t* row,
                                     std::size_t x, std::size_t j) {
  static_assert(kBytes == 3 || kBytes == 4);
  // Bytes of the window's first pixel interleaved with its second's; the fourth pair is unused.
  const __m128i pairing = kBytes == 3 ? _mm_setr_epi8(0, 3, 1, 4, 2, 5, 6, 7, 8, 11, 9, 12, 10, 13, 14, 15)
                                      : _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
  const uint8_t* low = row + offsets[x + j];
  const uint8_t* high = row + offsets[x + j + 4];
  const WideLanes& wide = lanes.wide[x / 2 + j];
  __m256i sums = _mm256_setzero_si256();
  for (uint32_t k = 0; k < kPairs; ++k, low += 2 * kBytes, high += 2 * kBytes) {
    const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(low)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(high)));
    const __m256i values = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(both, pairing));
    const __m256i weights = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&wide.weights[16 * k]));
    sums = _mm256_add_epi32(sums, _mm256_madd_epi16(values, weights));
  }
  return WideQuotients<kDivision>(sums, _mm256_loadu_ps(wide.reciprocal.data()), _mm256_loadu_ps(wide.total.data()));
}

// Eight output pixels at a time: the packed bytes of pixels x ... x + 3 land in the low half
// and those of x + 4 ... x + 7 in the high half, which is their order in memory.
template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
REEL_AVX2 std::size_t ScaleWideLanes(const RowLanes& lanes, std::span<const uint32_t> offsets, const uint8_t* row,
                                     std::size_t count, uint8_t* out) {
  std::size_t x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256i bytes = WidePackBytes(WidePixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x, 0),
                                        WidePixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x, 1),
                                        WidePixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x, 2),
                                        WidePixelQuotients<kDivision, kBytes, kPairs>(lanes, offsets, row, x, 3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), bytes);
  }
  return x;
}

template <Division kDivision>
std::size_t ScaleWideFor(const RowLanes& lanes, uint32_t bytesPerPixel, std::span<const uint32_t> offsets,
                         const uint8_t* row, std::size_t count, uint8_t* out) {
  if (bytesPerPixel == 3) {
    if (lanes.pairs == 1) return ScaleWideLanes<kDivision, 3, 1>(lanes, offsets, row, count, out);
    return ScaleWideLanes<kDivision, 3, 2>(lanes, offsets, row, count, out);
  }
  if (lanes.pairs == 1) return ScaleWideLanes<kDivision, 4, 1>(lanes, offsets, row, count, out);
  return ScaleWideLanes<kDivision, 4, 2>(lanes, offsets, row, count, out);
}

template <Division kDivision>
REEL_AVX2 std::size_t SumRows(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                              const Divisor& divisor, std::size_t rowBytes, std::span<uint8_t> target) {
  const __m256 reciprocal = _mm256_set_m128(divisor.reciprocal, divisor.reciprocal);
  const __m256 total = _mm256_set_m128(divisor.total, divisor.total);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lowMask = _mm256_set1_epi64x(0xFFFFFF);
  const __m256i highMask = _mm256_set1_epi64x(0xFFFFFF000000);
  std::size_t i = 0;
  for (; i + 32 <= rowBytes && i / kLaneBytes * kChannels + 26 <= target.size(); i += 32) {
    __m256i sums0 = zero;
    __m256i sums1 = zero;
    __m256i sums2 = zero;
    __m256i sums3 = zero;
    for (std::size_t k = 0; k < pairWeights.size(); ++k) {
      const __m256i weight = _mm256_broadcastsi128_si256(Load(pairWeights[k]));
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k] + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k + 1] + i));
      const __m256i low = _mm256_unpacklo_epi8(a, b);
      const __m256i high = _mm256_unpackhi_epi8(a, b);
      sums0 = _mm256_add_epi32(sums0, _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), weight));
      sums1 = _mm256_add_epi32(sums1, _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), weight));
      sums2 = _mm256_add_epi32(sums2, _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), weight));
      sums3 = _mm256_add_epi32(sums3, _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), weight));
    }
    const __m256i bytes = WidePackBytes(WideQuotients<kDivision>(sums0, reciprocal, total),
                                        WideQuotients<kDivision>(sums1, reciprocal, total),
                                        WideQuotients<kDivision>(sums2, reciprocal, total),
                                        WideQuotients<kDivision>(sums3, reciprocal, total));
    // Each half holds four 4-byte pixels; as in StoreFourPixels, two 8-byte stores of 6 each.
    const __m256i packed =
        _mm256_or_si256(_mm256_and_si256(bytes, lowMask), _mm256_and_si256(_mm256_srli_epi64(bytes, 8), highMask));
    const __m128i first = _mm256_castsi256_si128(packed);
    const __m128i second = _mm256_extracti128_si256(packed, 1);
    uint8_t* at = &target[i / kLaneBytes * kChannels];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 6), _mm_unpackhi_epi64(first, first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 12), second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 18), _mm_unpackhi_epi64(second, second));
  }
  return i;
}

}  // namespace

// The weights and divisors of output pixels x + j and x + j + 4 side by side, as
// WidePixelQuotients takes them.
void ArrangeWideRowLanes(RowLanes& lanes, std::size_t width) {
  const std::size_t groups = width / 8;
  lanes.wide.resize(groups * 4);
  for (std::size_t g = 0; g < groups; ++g) {
    for (std::size_t j = 0; j < 4; ++j) {
      WideLanes& wide = lanes.wide[g * 4 + j];
      for (std::size_t half = 0; half < 2; ++half) {
        const std::size_t x = g * 8 + j + 4 * half;
        for (std::size_t k = 0; k < lanes.pairs; ++k) {
          const WeightLanes& pair = lanes.pairWeights[x * lanes.pairs + k];
          std::copy(pair.begin(), pair.end(), wide.weights.begin() + static_cast<std::ptrdiff_t>(16 * k + 8 * half));
        }
        _mm_storeu_ps(&wide.reciprocal[4 * half], lanes.divisors[x].reciprocal);
        _mm_storeu_ps(&wide.total[4 * half], lanes.divisors[x].total);
      }
    }
  }
}

std::size_t ScaleRowWide(const RowLanes& lanes, Division division, uint32_t bytesPerPixel,
                         std::span<const uint32_t> offsets, const uint8_t* row, std::size_t count, uint8_t* out) {
  if (lanes.wide.empty()) return 0;
  if (division == Division::Reciprocal) {
    return ScaleWideFor<Division::Reciprocal>(lanes, bytesPerPixel, offsets, row, count, out);
  }
  return ScaleWideFor<Division::Corrected>(lanes, bytesPerPixel, offsets, row, count, out);
}

std::size_t SumRowsWide(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                        const Divisor& divisor, Division division, std::size_t rowBytes, std::span<uint8_t> target) {
  if (division == Division::Reciprocal) return SumRows<Division::Reciprocal>(window, pairWeights, divisor, rowBytes, target);
  return SumRows<Division::Corrected>(window, pairWeights, divisor, rowBytes, target);
}

}  // namespace reel::scaler

#endif  // __SSE2__
