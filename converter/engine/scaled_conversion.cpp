#include "converter/engine/scaled_conversion.h"

#include <utility>

namespace reel {
namespace {

// Feeds each slice of converted rows to the scaler, made once the converter names the stride.
class ScalingSink : public PictureRowSink {
 public:
  ScalingSink(uint32_t width, uint32_t height, ScalerLanes lanes) : width_(width), height_(height), lanes_(lanes) {}

  void Begin(uint32_t sourceWidth, uint32_t sourceHeight, std::size_t stride) override {
    scaler_ = RowwiseScaler::Create(sourceWidth, sourceHeight, stride, width_, height_, lanes_);
  }

  void TakeRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride) override {
    if (scaler_) scaler_->AddRows(rows, count, stride);
  }

  std::optional<BmpImage> Finish() && {
    if (!scaler_) return std::nullopt;
    return std::move(*scaler_).Finish();
  }

 private:
  uint32_t width_;
  uint32_t height_;
  ScalerLanes lanes_;
  std::optional<RowwiseScaler> scaler_;
};

// A size ScalePicture refuses is left to it, so that the frame counts as one that cannot be coded.
bool ScalesTo(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > BmpImage::kMaxDimension || height > BmpImage::kMaxDimension) return false;
  return sourceWidth != width || sourceHeight != height;
}

// Either reader's picture, converted a slice at a time into the scaler.
template <typename Converter, typename Picture>
std::optional<BmpImage> ConvertScaledWith(Converter& converter, const Picture& picture, uint32_t width, uint32_t height,
                                          ScalerLanes lanes) {
  ScalingSink sink(width, height, lanes);
  if (!converter.ConvertInSlices(picture, sink)) return std::nullopt;
  return std::move(sink).Finish();
}

}  // namespace

bool ConvertsScaled(const GrabbedPicture& picture, uint32_t width, uint32_t height) {
  return ScalesTo(picture.Width(), picture.Height(), width, height) && GrabbedPictureConverter::Slices(picture);
}

std::optional<BmpImage> ConvertScaled(GrabbedPictureConverter& converter, const GrabbedPicture& picture, uint32_t width,
                                      uint32_t height, ScalerLanes lanes) {
  return ConvertScaledWith(converter, picture, width, height, lanes);
}

bool ConvertsScaled(const AviGrabbedFrame& frame, uint32_t width, uint32_t height) {
  return ScalesTo(frame.Width(), frame.Height(), width, height) && AviFrameConverter::Slices(frame);
}

std::optional<BmpImage> ConvertScaled(AviFrameConverter& converter, const AviGrabbedFrame& frame, uint32_t width,
                                      uint32_t height, ScalerLanes lanes) {
  return ConvertScaledWith(converter, frame, width, height, lanes);
}

}  // namespace reel
