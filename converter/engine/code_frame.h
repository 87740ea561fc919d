// CodeFrame: one picture of the movie's size to one coded "JBP1" frame.
//
// The picture is compressed as a baseline JPEG at the job's quality, the JPEG is parsed back into
// its dequantised coefficients and the frame coder codes them with the frame's own code trees.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/coefficient_set.h"
#include "converter/coder/bmp_image.h"
#include "converter/coder/frame_coder.h"
#include "converter/jpeg/jpeg_codec.h"

namespace reel {

// The coded frame, or none when the JPEG encoding fails, the reader refuses the JPEG or the frame
// coder refuses the coefficients. What a job stores for a frame that failed is its own decision.
// Codes with the plain CodeCoefficients, the reference for FrameCoding.
std::optional<std::vector<uint8_t>> CodeFrame(const BmpImage& picture, int32_t quality);

// The same frames for frame after frame, byte for byte CodeFrame's, with less work: the
// coefficients are kept, still quantised, as the JPEG encoder codes them rather than parsed back
// from its stream (so the frame coder divides nothing back), the JPEG encoder leaves out its own
// entropy coding whenever the stream is sure to fit, and the JPEG's buffer, the coefficient store
// and the frame coder's buffers serve frame after frame. One FrameCoding serves one thread.
class FrameCoding {
 public:
  std::optional<std::vector<uint8_t>> Code(const BmpImage& picture, int32_t quality);

 private:
  std::vector<uint8_t> jpeg_;  // the JPEG in its first bytes; never shrunk
  QuantisedSet coefficients_;
  EntropyPass entropyPass_ = EntropyPass::kSkippedWhenSafe;  // the JPEG's own coding is never used
  FrameCoder coder_;
};

}  // namespace reel
