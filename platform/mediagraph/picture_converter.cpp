#include "platform/mediagraph/picture_converter.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace reel {
namespace {

// Colour conversion at the picture's own size: the fast interpolation of the chroma planes is
// about twice as quick as the exact one, and the difference is far below what the movie's scaling
// and JPEG coding change anyway.
constexpr int kConversionFlags = SWS_FAST_BILINEAR;
// The converter may write whole vector words past a row's end: its rows get room to spare.
constexpr int kRowAlignment = 64;

}  // namespace

Rotation StreamRotation(const AVStream& stream) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(int32_t)) return Rotation::kNone;
  int32_t values[9];
  std::memcpy(values, matrix, sizeof values);  // the side data is an array of nine native integers
  const double counterClockwise = av_display_rotation_get(values);
  if (std::isnan(counterClockwise)) return Rotation::kNone;
  long clockwise = std::lround(-counterClockwise) % 360;
  if (clockwise < 0) clockwise += 360;
  switch (clockwise) {
    case 90:
      return Rotation::kQuarter;
    case 180:
      return Rotation::kHalf;
    case 270:
      return Rotation::kThreeQuarters;
    default:
      return Rotation::kNone;
  }
}

UprightSize TurnedSize(int storedWidth, int storedHeight, Rotation rotation) {
  if (rotation == Rotation::kQuarter || rotation == Rotation::kThreeQuarters) return {storedHeight, storedWidth};
  return {storedWidth, storedHeight};
}

PictureConverter::PictureConverter(int storedWidth, int storedHeight, Rotation rotation)
    : width_(storedWidth), height_(storedHeight), rotation_(rotation) {
  stride_ = (width_ * 3 + kRowAlignment - 1) / kRowAlignment * kRowAlignment + kRowAlignment;
  topDown_.resize(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_) + kRowAlignment);
}

PictureConverter::~PictureConverter() { sws_freeContext(scaler_); }

bool PictureConverter::Convert(const AVFrame& frame, std::vector<uint8_t>& out) {
  if (frame.width <= 0 || frame.height <= 0) return false;
  scaler_ = sws_getCachedContext(scaler_, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width_,
                                 height_, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) return false;
  uint8_t* planes[4] = {topDown_.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {stride_, 0, 0, 0};
  if (sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, planes, strides) != height_) return false;
  if (rotation_ == Rotation::kNone) {
    AppendUnturned(out);
    return true;
  }
  const UprightSize upright = TurnedSize(width_, height_, rotation_);
  const std::size_t start = out.size();
  out.resize(start + std::size_t{PaddedRowBytes(upright.width)} * static_cast<std::size_t>(upright.height), 0);
  Place(std::span<uint8_t>(out).subspan(start));
  return true;
}

// The rows bottom row first, appended so that no byte is written twice.
void PictureConverter::AppendUnturned(std::vector<uint8_t>& out) const {
  const auto rowBytes = static_cast<std::size_t>(width_) * 3;
  const std::size_t padding = PaddedRowBytes(width_) - rowBytes;
  out.reserve(out.size() + std::size_t{PaddedRowBytes(width_)} * static_cast<std::size_t>(height_));
  for (int y = height_; y-- > 0;) {
    const uint8_t* from = topDown_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_);
    out.insert(out.end(), from, from + rowBytes);
    out.insert(out.end(), padding, 0);
  }
}

// Copies the converted rows into the output bottom row first, turning the picture on the way.
// Output pixel (x, y), counted from the upright picture's top-left, comes from stored pixel
// (sx, sy) as the turn says.
void PictureConverter::Place(std::span<uint8_t> out) const {
  const UprightSize upright = TurnedSize(width_, height_, rotation_);
  const std::size_t outStride = PaddedRowBytes(upright.width);
  const auto stored = [&](int sx, int sy) { return topDown_.data() + static_cast<std::size_t>(sy) * static_cast<std::size_t>(stride_) + static_cast<std::size_t>(sx) * 3; };
  for (int y = 0; y < upright.height; ++y) {
    uint8_t* row = out.data() + outStride * static_cast<std::size_t>(upright.height - 1 - y);
    if (rotation_ == Rotation::kNone) {
      std::copy_n(stored(0, y), static_cast<std::size_t>(width_) * 3, row);
      continue;
    }
    for (int x = 0; x < upright.width; ++x) {
      const uint8_t* from = nullptr;
      switch (rotation_) {
        case Rotation::kQuarter:
          from = stored(y, height_ - 1 - x);
          break;
        case Rotation::kHalf:
          from = stored(width_ - 1 - x, height_ - 1 - y);
          break;
        default:
          from = stored(width_ - 1 - y, x);
          break;
      }
      std::copy_n(from, 3, row + static_cast<std::size_t>(x) * 3);
    }
  }
}

}  // namespace reel
