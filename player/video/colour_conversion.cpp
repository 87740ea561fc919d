#include "player/video/colour_conversion.h"

#include <algorithm>
#include <array>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace reel {
namespace {

constexpr uint32_t kCrToRed = 91881;     // 1.402 in 16.16
constexpr uint32_t kCbToGreen = 22553;   // 0.34414
constexpr uint32_t kCrToGreen = 46801;   // 0.71414
constexpr uint32_t kCbToBlue = 116129;   // 1.772

constexpr std::size_t kCbBlock = 4;
constexpr std::size_t kCrBlock = 5;

// A 32-bit product or sum, wrapped, then shifted arithmetically.
int32_t ShiftedTerm(uint32_t wrapped) { return static_cast<int32_t>(wrapped) >> 16; }

uint32_t AsUnsigned(int16_t sample) { return static_cast<uint32_t>(int32_t{sample}); }

// The clamp is written out rather than taken from std::clamp: an instrumented build may link
// another file's copy of that template, with comparison tracing on every pixel.
template <bool kClamp>
std::size_t TableIndex(int32_t index) {
  if constexpr (kClamp) index = index < 0 ? 0 : (index > kColourTableSize - 1 ? kColourTableSize - 1 : index);
  return static_cast<std::size_t>(index);
}

template <bool kClamp>
uint16_t PixelOf(const ColourTables& tables, int16_t luma, const ChromaTerms& terms) {
  const int32_t base = luma + kColourTableOffset;
  return static_cast<uint16_t>(tables.RedField[TableIndex<kClamp>(base + terms.red)] |
                               tables.GreenField[TableIndex<kClamp>(base - terms.green)] |
                               tables.BlueField[TableIndex<kClamp>(base + terms.blue)]);
}

ChromaTerms TermsOf(int16_t cb, int16_t cr) {
  return ChromaTerms{ShiftedTerm(AsUnsigned(cr) * kCrToRed),
                     ShiftedTerm(AsUnsigned(cb) * kCbToGreen + AsUnsigned(cr) * kCrToGreen),
                     ShiftedTerm(AsUnsigned(cb) * kCbToBlue)};
}

struct SampleRange {
  int32_t lowest = 0;
  int32_t highest = 0;
};

SampleRange RangeOf(std::span<const DecodedBlock> blocks) {
  int16_t lowest = blocks[0][0];
  int16_t highest = blocks[0][0];
  for (const DecodedBlock& block : blocks) {
    for (int16_t sample : block) {
      lowest = std::min(lowest, sample);
      highest = std::max(highest, sample);
    }
  }
  return {lowest, highest};
}

#if defined(__SSE2__)
// The same range eight samples at a time.
SampleRange RangeOfSse2(std::span<const DecodedBlock> blocks) {
  __m128i lowest = _mm_set1_epi16(blocks[0][0]);
  __m128i highest = lowest;
  for (const DecodedBlock& block : blocks) {
    for (std::size_t i = 0; i < block.size(); i += 8) {
      const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[i]));
      lowest = _mm_min_epi16(lowest, samples);
      highest = _mm_max_epi16(highest, samples);
    }
  }
  alignas(16) std::array<int16_t, 8> low{};
  alignas(16) std::array<int16_t, 8> high{};
  _mm_store_si128(reinterpret_cast<__m128i*>(low.data()), lowest);
  _mm_store_si128(reinterpret_cast<__m128i*>(high.data()), highest);
  return {*std::min_element(low.begin(), low.end()), *std::max_element(high.begin(), high.end())};
}
#endif

// The sample range of `blocks`, by the plain loop or, with Kernels::kFastest, by SSE2.
SampleRange RangeOf(std::span<const DecodedBlock> blocks, [[maybe_unused]] Kernels kernels) {
#if defined(__SSE2__)
  if (kernels == Kernels::kFastest) return RangeOfSse2(blocks);
#endif
  return RangeOf(blocks);
}

// Chroma samples within this bound never wrap the 32-bit terms (16,384 x 116,129 < 2^31), so the
// terms then grow with the samples and the extreme samples give the extreme terms.
constexpr int32_t kUnwrappedChroma = 16384;

bool Unwrapped(const SampleRange& range) {
  return range.lowest >= -kUnwrappedChroma && range.highest <= kUnwrappedChroma;
}

// True when every index the macroblock can form lies inside the tables, so no pixel needs a clamp.
bool StaysInsideTables(std::span<const DecodedBlock, 6> blocks, Kernels kernels) {
  const SampleRange cb = RangeOf(blocks.subspan(kCbBlock, 1), kernels);
  const SampleRange cr = RangeOf(blocks.subspan(kCrBlock, 1), kernels);
  if (!Unwrapped(cb) || !Unwrapped(cr)) return false;
  const SampleRange luma = RangeOf(blocks.first(4), kernels);
  const ChromaTerms low = TermsOf(static_cast<int16_t>(cb.lowest), static_cast<int16_t>(cr.lowest));
  const ChromaTerms high =
      TermsOf(static_cast<int16_t>(cb.highest), static_cast<int16_t>(cr.highest));
  const int32_t lowestTerm = std::min({low.red, -high.green, low.blue});
  const int32_t highestTerm = std::max({high.red, -low.green, high.blue});
  return luma.lowest + lowestTerm + kColourTableOffset >= 0 &&
         luma.highest + highestTerm + kColourTableOffset < kColourTableSize;
}

// Quadrant by quadrant (the luma block that covers it), two picture rows at a time, each chroma
// group's terms shared by its 2 x 2 pixels.
template <bool kClamp>
void WritePixels(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables, const PictureRows& picture,
                 uint32_t x, uint32_t y) {
  const DecodedBlock& cb = blocks[kCbBlock];
  const DecodedBlock& cr = blocks[kCrBlock];
  for (std::size_t quadrant = 0; quadrant < 4; ++quadrant) {
    const DecodedBlock& luma = blocks[quadrant];
    const std::size_t chromaRow0 = (quadrant / 2) * 4;
    const std::size_t chromaColumn0 = (quadrant % 2) * 4;
    const std::size_t pictureX = x + (quadrant % 2) * 8;
    for (std::size_t pairRow = 0; pairRow < 4; ++pairRow) {
      const std::size_t pictureY = y + (quadrant / 2) * 8 + pairRow * 2;
      const std::span<uint16_t> upper = picture.Row(pictureY, pictureX, 8);
      const std::span<uint16_t> lower = picture.Row(pictureY + 1, pictureX, 8);
      const std::size_t chromaIndex = (chromaRow0 + pairRow) * 8 + chromaColumn0;
      const std::size_t lumaIndex = pairRow * 16;
      for (std::size_t pair = 0; pair < 4; ++pair) {
        const ChromaTerms group = TermsOf(cb[chromaIndex + pair], cr[chromaIndex + pair]);
        const std::size_t column = pair * 2;
        upper[column] = PixelOf<kClamp>(tables, luma[lumaIndex + column], group);
        upper[column + 1] = PixelOf<kClamp>(tables, luma[lumaIndex + column + 1], group);
        lower[column] = PixelOf<kClamp>(tables, luma[lumaIndex + 8 + column], group);
        lower[column + 1] = PixelOf<kClamp>(tables, luma[lumaIndex + 8 + column + 1], group);
      }
    }
  }
}

#if defined(__SSE2__)
// The vector conversion, for a macroblock that StaysInsideTables: then every luma sample lies in
// -384 .. 383 and every chroma sample in -16384 .. 16384, so each term fits 16 bits and no sum
// below overflows. A table entry at Y + 384 + term is the colour value v = Y + 128 + term clamped
// to 0 .. 255, then placed in its field, which is what is computed here.
//
// Each 16.16 factor above 32767 is split as (factor - 65536 k) + 65536 k: the product's high half
// by the first part (pmulhw, an arithmetic shift by 16 of the exact product) plus k times the
// sample is exactly the product shifted by 16, since adding a multiple of 65536 commutes with the
// floor of the shift. Green's two products are summed in 32 bits (pmaddwd) before their one shift,
// as in the plain form.
constexpr int16_t kCrToRedLow = 91881 - 65536;      // red = (Cr x this) >> 16 + Cr
constexpr int16_t kCbToBlueLow = 116129 - 131072;   // blue = (Cb x this) >> 16 + 2 Cb
constexpr int16_t kCrToGreenLow = 46801 - 65536;    // green = (Cb x 22553 + Cr x this) >> 16 + Cr
constexpr int16_t kCbToGreenWhole = 22553;

struct VectorTerms {
  __m128i red;    // 128 + red, for the eight chroma samples of a row
  __m128i green;  // 128 - green
  __m128i blue;   // 128 + blue
};

VectorTerms VectorTermsOf(const int16_t* cbRow, const int16_t* crRow) {
  const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cbRow));
  const __m128i cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(crRow));
  const __m128i levelShift = _mm_set1_epi16(128);
  const __m128i red = _mm_add_epi16(_mm_mulhi_epi16(cr, _mm_set1_epi16(kCrToRedLow)), cr);
  const __m128i blue = _mm_add_epi16(_mm_mulhi_epi16(cb, _mm_set1_epi16(kCbToBlueLow)), _mm_add_epi16(cb, cb));
  const __m128i greenFactors = _mm_set1_epi32(static_cast<int32_t>(
      (static_cast<uint32_t>(static_cast<uint16_t>(kCrToGreenLow)) << 16) | uint32_t{kCbToGreenWhole}));
  const __m128i greenLow = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), greenFactors), 16);
  const __m128i greenHigh = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), greenFactors), 16);
  const __m128i green = _mm_add_epi16(_mm_packs_epi32(greenLow, greenHigh), cr);
  return VectorTerms{_mm_add_epi16(red, levelShift), _mm_sub_epi16(levelShift, green),
                     _mm_add_epi16(blue, levelShift)};
}

__m128i ClampColour(__m128i value) {
  return _mm_min_epi16(_mm_max_epi16(value, _mm_setzero_si128()), _mm_set1_epi16(255));
}

// Eight pixels from eight luma samples and the terms of their four chroma samples, each repeated
// for the two pixels it serves.
__m128i VectorPixels(const int16_t* luma, __m128i red, __m128i green, __m128i blue) {
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
  const __m128i r = ClampColour(_mm_add_epi16(y, red));
  const __m128i g = ClampColour(_mm_add_epi16(y, green));
  const __m128i b = ClampColour(_mm_add_epi16(y, blue));
  const __m128i redField = _mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8);
  const __m128i greenField = _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3);
  const __m128i blueField = _mm_srli_epi16(b, 3);
  return _mm_or_si128(_mm_or_si128(redField, greenField), blueField);
}

// Row by row: chroma row v serves picture rows 2v and 2v + 1 of the macroblock; its samples 0 .. 3
// serve the left luma block's pixels, 4 .. 7 the right one's.
void WritePixelsSse2(std::span<const DecodedBlock, 6> blocks, const PictureRows& picture, uint32_t x,
                     uint32_t y) {
  for (std::size_t chromaRow = 0; chromaRow < 8; ++chromaRow) {
    const VectorTerms terms =
        VectorTermsOf(&blocks[kCbBlock][chromaRow * 8], &blocks[kCrBlock][chromaRow * 8]);
    const __m128i redLeft = _mm_unpacklo_epi16(terms.red, terms.red);
    const __m128i redRight = _mm_unpackhi_epi16(terms.red, terms.red);
    const __m128i greenLeft = _mm_unpacklo_epi16(terms.green, terms.green);
    const __m128i greenRight = _mm_unpackhi_epi16(terms.green, terms.green);
    const __m128i blueLeft = _mm_unpacklo_epi16(terms.blue, terms.blue);
    const __m128i blueRight = _mm_unpackhi_epi16(terms.blue, terms.blue);
    const std::size_t upperBlocks = chromaRow < 4 ? 0 : 2;
    for (std::size_t half = 0; half < 2; ++half) {
      const std::size_t macroblockRow = chromaRow * 2 + half;
      const std::size_t lumaIndex = (macroblockRow % 8) * 8;
      const std::span<uint16_t> out = picture.Row(y + macroblockRow, x, 16);
      const __m128i left =
          VectorPixels(&blocks[upperBlocks][lumaIndex], redLeft, greenLeft, blueLeft);
      const __m128i right =
          VectorPixels(&blocks[upperBlocks + 1][lumaIndex], redRight, greenRight, blueRight);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), left);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + 8), right);
    }
  }
}
#endif

}  // namespace

ChromaTerms ComputeChromaTerms(int16_t cb, int16_t cr) { return TermsOf(cb, cr); }

uint16_t ConvertPixel(const ColourTables& tables, int16_t luma, const ChromaTerms& terms) {
  return PixelOf<true>(tables, luma, terms);
}

void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       const PictureRows& picture, uint32_t x, uint32_t y, Kernels kernels) {
  if (!StaysInsideTables(blocks, kernels)) {
    WritePixels<true>(blocks, tables, picture, x, y);
    return;
  }
#if defined(__SSE2__)
  if (kernels == Kernels::kFastest) {
    WritePixelsSse2(blocks, picture, x, y);
    return;
  }
#endif
  WritePixels<false>(blocks, tables, picture, x, y);
}

void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       std::span<uint16_t> picture, uint32_t rowPixels, uint32_t x, uint32_t y,
                       Kernels kernels) {
  const auto rows = static_cast<uint32_t>(rowPixels == 0 ? 0 : picture.size() / rowPixels);
  ConvertMacroblock(blocks, tables, PictureRows{picture, rowPixels, rows, false}, x, y, kernels);
}

void FillFlatMacroblock(std::span<const int16_t, 6> samples, const ColourTables& tables,
                        const PictureRows& picture, uint32_t x, uint32_t y) {
  const ChromaTerms terms = TermsOf(samples[kCbBlock], samples[kCrBlock]);
  std::array<uint16_t, 4> colours{};
  for (std::size_t quadrant = 0; quadrant < colours.size(); ++quadrant) {
    colours[quadrant] = PixelOf<true>(tables, samples[quadrant], terms);
  }
  for (std::size_t row = 0; row < 16; ++row) {
    const std::span<uint16_t> out = picture.Row(y + row, x, 16);
    const std::size_t upperLeft = row < 8 ? 0 : 2;
    std::fill_n(out.begin(), 8, colours[upperLeft]);
    std::fill_n(out.begin() + 8, 8, colours[upperLeft + 1]);
  }
}

}  // namespace reel
