#include "tools/qrxtool/frame_export.h"

#include <string>

#include "converter/jpeg/coefficient_jpeg.h"
#include "player/video/frame_entropy_decoder.h"
#include "player/video/frame_layout.h"

namespace reel {

void FrameJpegWriter::StartAt(const MovieFile& movie, std::size_t first) {
  hasTables_ = false;
  for (std::size_t k = first; k-- > 0;) {
    const auto frame = movie.FrameBytes(k);
    const auto layout = frame ? ReadFrameLayout(*frame) : std::nullopt;
    if (layout && layout->hasTables) {
      hasTables_ = true;
      lumaQuant_ = layout->lumaQuant;
      chromaQuant_ = layout->chromaQuant;
      return;
    }
  }
}

Result<std::vector<uint8_t>> FrameJpegWriter::Write(std::span<const uint8_t> frame, uint32_t width, uint32_t height) {
  const std::optional<FrameCoefficients> coefficients = DecodeFrameCoefficients(frame);
  if (!coefficients) return MakeError(ErrorKind::kDamaged, "", "it does not decode");
  if (coefficients->hasTables) {
    hasTables_ = true;
    lumaQuant_ = coefficients->lumaQuant;
    chromaQuant_ = coefficients->chromaQuant;
  }
  if (!hasTables_) return MakeError(ErrorKind::kDamaged, "", "neither it nor a frame before it carries quantisation tables");
  if (width != 0 && (coefficients->width != width || coefficients->height != height)) {
    return MakeError(ErrorKind::kDamaged, "",
                     "it is " + std::to_string(coefficients->width) + "x" + std::to_string(coefficients->height) +
                         ", not the movie's " + std::to_string(width) + "x" + std::to_string(height));
  }
  QuantisedPicture picture;
  picture.width = coefficients->width;
  picture.height = coefficients->height;
  picture.blocks = coefficients->blocks;
  picture.lumaQuant = lumaQuant_;
  picture.chromaQuant = chromaQuant_;
  return WriteCoefficientJpeg(picture);
}

}  // namespace reel
