// ScalePicture: brings a picture of any size to the movie's size as a 24-bit picture.
//
// Equal sizes are copied; any other size is resampled by area averaging in two passes (along rows,
// then along columns) with positions and weights in fixed point of 10 fractional bits (1024 = one
// source pixel). In both cases the result holds the input's stored rows in reverse order under an
// ordinary bottom-up header: for a bottom-up source its first stored row is the top of the picture,
// which is the order the JPEG encoder hands rows to the codec.
#pragma once

#include <cstdint>
#include <optional>

#include "converter/coder/bmp_image.h"

namespace reel {

// The scaled picture (its byte size is result->Size()), or none when the requested size is 0 or
// beyond BmpImage::kMaxDimension. The input, 24 or 32 bits per pixel, stays the caller's; only
// the first three bytes (blue, green, red) of each pixel are used.
std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height);

// The vector lanes ScalePicture may use: the widest the processor offers, or SSE2 alone (for the
// tests, which hold both to the same bytes).
enum class ScalerLanes { Widest, Sse2 };
std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height, ScalerLanes lanes);

}  // namespace reel
