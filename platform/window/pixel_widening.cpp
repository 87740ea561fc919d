#include "platform/window/pixel_widening.h"

#include <SDL.h>

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace reel {
namespace {

// The library's widening of a 5-bit field (red, blue) and of the 6-bit green.
uint32_t WidenedFive(uint32_t value) { return (value * 1053) >> 7; }
uint32_t WidenedSix(uint32_t value) { return (value * 4139) >> 10; }

template <std::size_t kCount>
bool Holds(const std::array<uint32_t, kCount>& table, uint32_t (*widened)(uint32_t), uint32_t shift) {
  for (uint32_t value = 0; value < kCount; ++value) {
    if (table[value] != widened(value) << shift) return false;
  }
  return true;
}

#if defined(__SSE2__)
// Eight pixels at a time: each field cut out and widened in 16-bit lanes (every product fits 16
// bits but green's, taken as the high half of (v << 6) x 4139), green and blue paired in the low
// half of each 32-bit pixel and red in the high half. Returns how many pixels it widened: the
// whole groups of eight.
std::size_t WidenByArithmetic(const uint16_t* from, uint32_t* to, std::size_t count) {
  const __m128i lowFive = _mm_set1_epi16(0x1F);
  const __m128i lowSix = _mm_set1_epi16(0x3F);
  const __m128i fiveFactor = _mm_set1_epi16(1053);
  const __m128i sixFactor = _mm_set1_epi16(4139);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    const __m128i red = _mm_srli_epi16(pixels, 11);
    const __m128i green = _mm_and_si128(_mm_srli_epi16(pixels, 5), lowSix);
    const __m128i blue = _mm_and_si128(pixels, lowFive);
    const __m128i red8 = _mm_srli_epi16(_mm_mullo_epi16(red, fiveFactor), 7);
    const __m128i green8 = _mm_mulhi_epu16(_mm_slli_epi16(green, 6), sixFactor);
    const __m128i blue8 = _mm_srli_epi16(_mm_mullo_epi16(blue, fiveFactor), 7);
    const __m128i low = _mm_or_si128(_mm_slli_epi16(green8, 8), blue8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi16(low, red8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 4), _mm_unpackhi_epi16(low, red8));
  }
  return i;
}
#endif

}  // namespace

std::vector<uint32_t> LibraryWidened565(std::span<const uint16_t> from) {
  std::vector<uint32_t> to(from.size());
  if (from.empty()) return to;
  const int width = static_cast<int>(from.size());
  if (SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB565, from.data(), 2 * width, SDL_PIXELFORMAT_RGB888, to.data(),
                        4 * width) != 0) {
    return {};
  }
  for (uint32_t& pixel : to) pixel &= 0xFFFFFF;  // the format leaves the top byte unused
  return to;
}

std::optional<PixelWidener> PixelWidener::FromLibrary() {
  // Every value of each field, the other fields 0: 32 reds, 64 greens, 32 blues.
  std::vector<uint16_t> fields;
  for (uint16_t value = 0; value < 32; ++value) fields.push_back(static_cast<uint16_t>(value << 11));
  for (uint16_t value = 0; value < 64; ++value) fields.push_back(static_cast<uint16_t>(value << 5));
  for (uint16_t value = 0; value < 32; ++value) fields.push_back(value);
  const std::vector<uint32_t> widened = LibraryWidened565(fields);
  if (widened.size() != fields.size()) return std::nullopt;
  PixelWidener widener;
  std::copy_n(widened.begin(), 32, widener.red_.begin());
  std::copy_n(widened.begin() + 32, 64, widener.green_.begin());
  std::copy_n(widened.begin() + 96, 32, widener.blue_.begin());
  widener.arithmetic_ = Holds(widener.red_, WidenedFive, 16) && Holds(widener.green_, WidenedSix, 8) &&
                        Holds(widener.blue_, WidenedFive, 0);
  return widener;
}

void PixelWidener::Run(std::span<const uint16_t> from, std::span<uint32_t> to) const {
#if defined(__SSE2__)
  if (arithmetic_) {
    // The last few pixels, fewer than eight, through the tables, which hold the same values.
    const std::size_t done = WidenByArithmetic(from.data(), to.data(), std::min(from.size(), to.size()));
    RunByTables(from.subspan(done), to.subspan(done));
    return;
  }
#endif
  RunByTables(from, to);
}

void PixelWidener::RunByTables(std::span<const uint16_t> from, std::span<uint32_t> to) const {
  const std::size_t count = std::min(from.size(), to.size());
  for (std::size_t i = 0; i < count; ++i) to[i] = (*this)(from[i]);
}

}  // namespace reel
