#include "converter/engine/code_frame.h"

#include "converter/coder/frame_coder.h"
#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"

namespace reel {

std::optional<std::vector<uint8_t>> CodeFrame(const BmpImage& picture, int32_t quality) {
  const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(picture, quality);
  if (!jpeg) return std::nullopt;
  CByteSource source(*jpeg);
  CJpegCoefReader reader;
  reader.Decode(source);
  if (reader.BlockCount() == 0) return std::nullopt;
  return CodeCoefficients(reader.TakeCoefficients(), quality);
}

}  // namespace reel
