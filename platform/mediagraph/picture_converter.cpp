#include "platform/mediagraph/picture_converter.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
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
// The converter's vector code makes pixels in groups of this many and stores each group whole.
constexpr int kConverterPixelGroup = 8;
// Rows per slice on the sliced way: even, and few enough that a 1920-pixel slice (92 KB) stays in
// the processor's cache until the scaler reads it.
constexpr int kSliceRows = 16;

// The picture kinds whose slices the converter turns into the very rows of the whole picture's
// conversion: planar 4:2:0, which its own path converts a pair of rows at a time from one chroma
// row. (Its general path, which 4:2:2 and 4:4:4 pictures take, gives other bytes at some sizes
// when it is handed slices as pictures of their own.)
bool ConvertsRowByRow(int format) { return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P; }

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

bool PictureConverter::Takes(const AVFrame& frame) {
  return frame.width > 0 && frame.height > 0 && sws_isSupportedInput(static_cast<AVPixelFormat>(frame.format)) > 0;
}

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

bool PictureConverter::ConvertInPlace(const AVFrame& frame, std::vector<uint8_t>& out, std::size_t start) {
  if (WritesInPlace(frame)) return ConvertIntoRows(frame, out, start);
  out.resize(start);
  return Convert(frame, out);
}

// Only the converter's own path from planar 4:2:0 at the picture's own size, unturned, writes the
// rows in place. It takes chroma rows as they come, one for each two picture rows, so with an even
// height it gives the same pixels whether the picture is read top down or bottom up; and for a row
// of whole 8-pixel groups it converts exactly the row's width (the row then has no padding).
bool PictureConverter::WritesInPlace(const AVFrame& frame) const {
  return frame.format == AV_PIX_FMT_YUV420P && frame.width == width_ && frame.height == height_ &&
         rotation_ == Rotation::kNone && width_ % kConverterPixelGroup == 0 && height_ % 2 == 0;
}

// The converter reads the picture bottom row first and writes the output's rows front to back.
// Its vector stores may run past a row's end: into the next row, which it writes afterwards, or
// past the last one into kRowAlignment bytes of room beyond the picture, cut off again after.
// (Writing top down with a negative output stride would let those stores land on rows already
// written.)
bool PictureConverter::ConvertIntoRows(const AVFrame& frame, std::vector<uint8_t>& out, std::size_t start) {
  scaler_ = sws_getCachedContext(scaler_, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width_,
                                 height_, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) return false;
  const std::size_t end = start + std::size_t{PaddedRowBytes(width_)} * static_cast<std::size_t>(height_);
  // Every byte after `start` is the converter's, so storage of the very size keeps its bytes
  // until they are overwritten (anything else is cleared and grown).
  if (out.size() != end) out.resize(start);
  out.resize(end + kRowAlignment);
  const uint8_t* rows[4] = {};
  int rowSteps[4] = {};
  for (int plane = 0; plane < 3; ++plane) {
    const int planeHeight = plane == 0 ? height_ : height_ / 2;
    rows[plane] = frame.data[plane] + static_cast<std::ptrdiff_t>(frame.linesize[plane]) * (planeHeight - 1);
    rowSteps[plane] = -frame.linesize[plane];
  }
  uint8_t* planes[4] = {out.data() + start, nullptr, nullptr, nullptr};
  const int strides[4] = {static_cast<int>(PaddedRowBytes(width_)), 0, 0, 0};
  const bool done = sws_scale(scaler_, rows, rowSteps, 0, height_, planes, strides) == height_;
  out.resize(end);
  return done;
}

bool PictureConverter::SlicesAt(const AVFrame& frame, int storedWidth, int storedHeight, Rotation rotation) {
  if (frame.width != storedWidth || frame.height != storedHeight || rotation != Rotation::kNone) return false;
  return ConvertsRowByRow(frame.format) && storedHeight % 2 == 0;
}

// Each slice is converted as a picture of its own (from row 0 of the rows it starts at): the
// converter then writes it at the top of the slice buffer. Slices start on even rows, so a 4:2:0
// slice begins on a chroma row of its own and its rows are those of the whole picture's.
bool PictureConverter::ConvertInSlices(const AVFrame& frame, PictureRowSink& sink) {
  scaler_ = sws_getCachedContext(scaler_, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width_,
                                 height_, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) return false;
  const AVPixFmtDescriptor* kind = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  slice_.resize(static_cast<std::size_t>(stride_) * kSliceRows + kRowAlignment);
  uint8_t* planes[4] = {slice_.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {stride_, 0, 0, 0};
  sink.Begin(static_cast<uint32_t>(width_), static_cast<uint32_t>(height_), static_cast<std::size_t>(stride_));
  for (int top = 0; top < height_; top += kSliceRows) {
    const int rows = std::min(kSliceRows, height_ - top);
    const uint8_t* from[4] = {};
    for (int plane = 0; plane < 3; ++plane) {
      const int planeTop = plane == 0 ? top : top >> kind->log2_chroma_h;
      from[plane] = frame.data[plane] + static_cast<std::ptrdiff_t>(frame.linesize[plane]) * planeTop;
    }
    if (sws_scale(scaler_, from, frame.linesize, 0, rows, planes, strides) != rows) return false;
    sink.TakeRows(std::span<const uint8_t>(slice_).first(static_cast<std::size_t>(stride_) * rows),
                  static_cast<uint32_t>(rows), static_cast<std::size_t>(stride_));
  }
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
