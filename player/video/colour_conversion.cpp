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

std::size_t TableIndex(int32_t index) {
  return static_cast<std::size_t>(std::clamp(index, 0, kColourTableSize - 1));
}

inline uint16_t PixelOf(const ColourTables& tables, int16_t luma, const ChromaTerms& terms) {
  const int32_t base = luma + kColourTableOffset;
  return static_cast<uint16_t>(tables.RedField[TableIndex(base + terms.red)] |
                               tables.GreenField[TableIndex(base - terms.green)] |
                               tables.BlueField[TableIndex(base + terms.blue)]);
}

}  // namespace

ChromaTerms ComputeChromaTerms(int16_t cb, int16_t cr) {
  return ChromaTerms{ShiftedTerm(AsUnsigned(cr) * kCrToRed),
                     ShiftedTerm(AsUnsigned(cb) * kCbToGreen + AsUnsigned(cr) * kCrToGreen),
                     ShiftedTerm(AsUnsigned(cb) * kCbToBlue)};
}

uint16_t ConvertPixel(const ColourTables& tables, int16_t luma, const ChromaTerms& terms) {
  return PixelOf(tables, luma, terms);
}

void ConvertMacroblock(std::span<const DecodedBlock, 6> blocks, const ColourTables& tables,
                       std::span<uint16_t> picture, uint32_t rowPixels, uint32_t x, uint32_t y) {
  const DecodedBlock& cb = blocks[kCbBlock];
  const DecodedBlock& cr = blocks[kCrBlock];
  // Quadrant by quadrant (the luma block that covers it), two picture rows at a time.
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
        const ChromaTerms terms =
            ComputeChromaTerms(cb[chromaIndex + pair], cr[chromaIndex + pair]);
        const std::size_t column = pair * 2;
        upper[column] = PixelOf(tables, luma[lumaIndex + column], terms);
        upper[column + 1] = PixelOf(tables, luma[lumaIndex + column + 1], terms);
        lower[column] = PixelOf(tables, luma[lumaIndex + 8 + column], terms);
        lower[column + 1] = PixelOf(tables, luma[lumaIndex + 8 + column + 1], terms);
      }
    }
  }
}

}  // namespace reel
