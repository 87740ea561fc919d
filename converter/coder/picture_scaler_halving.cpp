#include "converter/coder/picture_scaler_halving.h"

#if defined(__SSE2__)
#include "converter/coder/picture_scaler_lanes.h"

namespace reel::scaler {

// Each half of the vector averages 16 source bytes with the 16 that start one pixel later and
// keeps pixels 0, 2 and 4 of the result: six output pixels per step, stored as 4-byte pixels with
// a 0 fourth byte (the last 4 bytes of each 16 written are 0 too, and the next store or the row's
// padding takes them).
REEL_AVX2 std::size_t HalveRowWide(std::span<const uint8_t> source, std::size_t width, uint8_t* out,
                                   std::size_t outBytes) {
  const __m256i pick = _mm256_setr_epi8(0, 1, 2, -128, 6, 7, 8, -128, 12, 13, 14, -128, -128, -128, -128, -128,  //
                                        0, 1, 2, -128, 6, 7, 8, -128, 12, 13, 14, -128, -128, -128, -128, -128);
  const __m256i low7 = _mm256_set1_epi8(0x7F);
  const uint8_t* row = source.data();
  std::size_t x = 0;
  for (; x + 6 <= width && 6 * x + 37 <= source.size() && 4 * x + 28 <= outBytes; x += 6) {
    const uint8_t* pixel = row + 6 * x;
    const __m256i a = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(pixel + 18), reinterpret_cast<const __m128i*>(pixel));
    const __m256i b =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(pixel + 21), reinterpret_cast<const __m128i*>(pixel + 3));
    const __m256i half = _mm256_and_si256(_mm256_srli_epi16(_mm256_xor_si256(a, b), 1), low7);
    const __m256i pixels = _mm256_shuffle_epi8(_mm256_add_epi8(_mm256_and_si256(a, b), half), pick);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm256_castsi256_si128(pixels));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 12), _mm256_extracti128_si256(pixels, 1));
  }
  return x;
}

// Eight 4-byte pixels at a time stored as 24 bytes (each half's 12 and then 4 zeros, which the
// next store, the rest of the row or its padding takes), the rest one by one.
REEL_AVX2 void MeanOfRowsWide(const uint8_t* first, const uint8_t* second, std::span<uint8_t> target, uint32_t width) {
  const __m256i pick = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m256i low7 = _mm256_set1_epi8(0x7F);
  std::size_t x = 0;
  for (; x + 8 <= width && x * kChannels + 28 <= target.size(); x += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + x * kLaneBytes));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second + x * kLaneBytes));
    const __m256i half = _mm256_and_si256(_mm256_srli_epi16(_mm256_xor_si256(a, b), 1), low7);
    const __m256i pixels = _mm256_shuffle_epi8(_mm256_add_epi8(_mm256_and_si256(a, b), half), pick);
    uint8_t* at = &target[x * kChannels];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(pixels));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 12), _mm256_extracti128_si256(pixels, 1));
  }
  for (; x < width; ++x) {
    for (uint32_t c = 0; c < kChannels; ++c) {
      target[x * kChannels + c] = static_cast<uint8_t>((first[x * kLaneBytes + c] + second[x * kLaneBytes + c]) >> 1);
    }
  }
}

}  // namespace reel::scaler

#endif  // __SSE2__
