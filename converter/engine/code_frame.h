// CodeFrame: one picture of the movie's size to one coded "JBP1" frame.
//
// The picture is compressed as a baseline JPEG at the job's quality, the JPEG is parsed back into
// its dequantised coefficients and the frame coder codes them with the frame's own code trees.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "converter/coder/bmp_image.h"
#include "converter/coder/frame_coder.h"

namespace reel {

// The coded frame, or none when the JPEG encoding fails, the reader refuses the JPEG or the frame
// coder refuses the coefficients. What a job stores for a frame that failed is its own decision.
// Codes with the plain CodeCoefficients, the reference for FrameCoding.
std::optional<std::vector<uint8_t>> CodeFrame(const BmpImage& picture, int32_t quality);

// The same steps for frame after frame: the JPEG's buffer and the frame coder's are kept between
// frames. The frames are CodeFrame's, byte for byte. One FrameCoding serves one thread.
class FrameCoding {
 public:
  std::optional<std::vector<uint8_t>> Code(const BmpImage& picture, int32_t quality);

 private:
  std::vector<uint8_t> jpeg_;  // the JPEG in its first bytes; never shrunk
  FrameCoder coder_;
};

}  // namespace reel
