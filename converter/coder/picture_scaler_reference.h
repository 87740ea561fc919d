// ScalePictureReference: the plain area-averaging scaler, written straight from the description of
// the two passes. ScalePicture must give the same bytes for every input; tests and benchmarks
// compare the two.
#pragma once

#include <cstdint>
#include <optional>

#include "converter/coder/bmp_image.h"

namespace reel {

// Same contract as ScalePicture.
std::optional<BmpImage> ScalePictureReference(const BmpImage& picture, uint32_t width, uint32_t height);

}  // namespace reel
