#include "player/video/colour_conversion.h"

#include <algorithm>
#include <cstddef>

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

template <bool kClamp>
std::size_t TableIndex(int32_t index) {
  if constexpr (kClamp) index = std::clamp(index, 0, kColourTableSize - 1);
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

// Chroma samples within this bound never wrap the 32-bit terms (16,384 x 116,129 < 2^31), so the
// terms then grow with the samples and the extreme samples give the extreme terms.
constexpr int32_t kUnwrappedChroma = 16384;

bool Unwrapped(const SampleRange& range) {
  return range.lowest >= -kUnwrappedChroma && range.highest <= kUnwrappedChroma;
}

// True when every index the macroblock can form lies inside the tables, so no pixel needs a clamp.
bool StaysInsideTables(std::span<const DecodedBlock, 6> blocks) {
  const SampleRange cb = RangeOf(blocks.subspan(kCbBlock, 1));
  const SampleRange cr = RangeOf(blocks.subspan(kCrBlock, 1));
  if (!Unwrapped(cb) || !Unwrapped(cr)) return false;
  const SampleRange luma = RangeOf(blocks.first(4));
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
void WritePixels(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables, std::span<uint16_t> picture, uint32_t rowPixels,
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
      const std::span<uint16_t> upper = picture.subspan(pictureY * rowPixels + pictureX, 8);
      const std::span<uint16_t> lower = picture.subspan((pictureY + 1) * rowPixels + pictureX, 8);
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

}  // namespace

ChromaTerms ComputeChromaTerms(int16_t cb, int16_t cr) { return TermsOf(cb, cr); }

uint16_t ConvertPixel(const ColourTables& tables, int16_t luma, const ChromaTerms& terms) {
  return PixelOf<true>(tables, luma, terms);
}

void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       std::span<uint16_t> picture, uint32_t rowPixels, uint32_t x, uint32_t y) {
  if (StaysInsideTables(blocks)) {
    WritePixels<false>(blocks, tables, picture, rowPixels, x, y);
  } else {
    WritePixels<true>(blocks, tables, picture, rowPixels, x, y);
  }
}

}  // namespace reel
