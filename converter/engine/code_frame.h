// CodeFrame: one picture of the movie's size to one coded "JBP1" frame.
//
// The picture is compressed as a baseline JPEG at the job's quality, the JPEG is parsed back into
// its dequantised coefficients and the frame coder codes them with the frame's own code trees.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "converter/coder/bmp_image.h"

namespace reel {

// The coded frame, or none when the JPEG encoding fails, the reader yields no blocks or the frame
// coder refuses the coefficients. What a job stores for a frame that failed is its own decision.
std::optional<std::vector<uint8_t>> CodeFrame(const BmpImage& picture, int32_t quality);

}  // namespace reel
