#include "converter/engine/code_frame.h"

#include "converter/jpeg/byte_source.h"
#include "converter/jpeg/frame_jpeg.h"
#include "converter/jpeg/jpeg_coef_reader.h"

namespace reel {
namespace {

// The picture's JPEG parsed back into its coefficients; none when the encoding fails or the reader
// refuses the stream.
std::optional<CoefficientSet> CoefficientsOf(const BmpImage& picture, int32_t quality) {
  const std::optional<std::vector<uint8_t>> jpeg = EncodeFrameJpeg(picture, quality);
  if (!jpeg) return std::nullopt;
  CByteSource source(*jpeg);
  CJpegCoefReader reader;
  if (!reader.Decode(source)) return std::nullopt;
  return reader.TakeCoefficients();
}

}  // namespace

std::optional<std::vector<uint8_t>> CodeFrame(const BmpImage& picture, int32_t quality) {
  const std::optional<CoefficientSet> coefficients = CoefficientsOf(picture, quality);
  if (!coefficients) return std::nullopt;
  return CodeCoefficients(*coefficients, quality);
}

// The reader refuses a stream of more blocks than it holds, so the frame is refused here too.
std::optional<std::vector<uint8_t>> FrameCoding::Code(const BmpImage& picture, int32_t quality) {
  const uint64_t blocks = uint64_t{6} * MacroblockColumns(picture.Width()) * MacroblockRows(picture.Height());
  if (blocks > kMaxCoefficientBlocks) return std::nullopt;
  if (!EncodeFrameJpegKeepingCoefficients(picture, quality, jpeg_, coefficients_, entropyPass_)) return std::nullopt;
  return coder_.Code(coefficients_, quality);
}

}  // namespace reel
