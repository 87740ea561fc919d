// Coefficient sets for tests, benchmarks and the demo: the coefficients a baseline 4:2:0 JPEG of
// a generated picture would hold, made with a real forward DCT and quality-scaled tables, and
// random sets that reach every symbol rule.
#pragma once

#include <cstdint>
#include <vector>

#include "common/coefficient_set.h"

namespace reel {

// An RGB picture, 3 bytes a pixel (red, green, blue), top row first.
struct RgbPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
};

// A natural-looking scene (sky gradient, a sun, textured ground, a ball that moves with the frame
// index), so that consecutive frames differ like a real clip's.
RgbPicture MakeSamplePicture(uint32_t width, uint32_t height, uint32_t frameIndex);

// The tables the JPEG encoder writes for `quality` (1 ... 100), in zig-zag order: 0 luminance,
// 1 chrominance.
QuantTable ScaledQuantTable(int table, int32_t quality);

// The dequantised coefficients of `picture` coded as a 4:2:0 JPEG at `quality`.
CoefficientSet CoefficientsOfPicture(const RgbPicture& picture, int32_t quality);

CoefficientSet MakeSampleCoefficients(uint32_t width, uint32_t height, int32_t quality, uint32_t frameIndex);

// Random quantised values (mostly small and sparse, some long zero runs, occasional values up to
// the largest magnitude category) multiplied by random tables.
CoefficientSet MakeRandomCoefficients(uint32_t width, uint32_t height, uint32_t seed);

}  // namespace reel
