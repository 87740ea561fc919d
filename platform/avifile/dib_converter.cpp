#include "platform/avifile/dib_converter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <span>
#include <utility>

#include "common/byte_io.h"
#include "platform/avifile/avi_file.h"

namespace reel {
namespace {

constexpr int kMaxPictureSide = 16384;
// Colour conversion at the picture's own size: the fast interpolation of the chroma planes is
// about twice as quick as the exact one, and the difference (a unit here and there) is far below
// what the movie's scaling and JPEG coding change anyway.
constexpr int kConversionFlags = SWS_FAST_BILINEAR;
// Row alignment the converter's vector code is happy with.
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

void WriteInfoHeader(std::span<uint8_t> out, uint32_t width, uint32_t height, uint32_t imageSize) {
  StoreU32(out.subspan<0, 4>(), kBitmapInfoHeaderSize);
  StoreU32(out.subspan<4, 4>(), width);
  StoreU32(out.subspan<8, 4>(), height);
  StoreU16(out.subspan<12, 2>(), 1);
  StoreU16(out.subspan<14, 2>(), 24);
  StoreU32(out.subspan<16, 4>(), 0);
  StoreU32(out.subspan<20, 4>(), imageSize);
}

}  // namespace

bool DibConverter::Takes(const AVFrame& picture) {
  return picture.width > 0 && picture.height > 0 && picture.width <= kMaxPictureSide &&
         picture.height <= kMaxPictureSide && sws_isSupportedInput(static_cast<AVPixelFormat>(picture.format)) > 0;
}

std::optional<std::vector<uint8_t>> DibConverter::Convert(const AVFrame& picture, uint32_t leadingBytes,
                                                          std::vector<uint8_t> buffer) {
  const int width = picture.width;
  const int height = picture.height;
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return std::nullopt;
  scaler_.reset(sws_getCachedContext(scaler_.release(), width, height, static_cast<AVPixelFormat>(picture.format),
                                     width, height, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr));
  if (!scaler_) return std::nullopt;
  const auto stride = static_cast<uint32_t>((width * 3 + 3) & ~3);
  const auto imageSize = stride * static_cast<uint32_t>(height);
  const std::size_t headerEnd = std::size_t{leadingBytes} + kBitmapInfoHeaderSize;
  const bool inPlace = writing_ == DibWriting::kDirect && ConvertsInPlace(picture.format, width, height);
  if (inPlace) {
    // Every byte after the header is the converter's, so storage of the very size keeps its
    // bytes until they are overwritten (anything else is cleared and grown).
    if (buffer.size() != headerEnd + imageSize) buffer.clear();
    buffer.resize(headerEnd + imageSize + kRowAlignment);
    std::fill_n(buffer.begin(), headerEnd, uint8_t{0});
  } else {
    buffer.clear();
    buffer.reserve(headerEnd + imageSize);
    buffer.resize(headerEnd, 0);
  }
  WriteInfoHeader(std::span<uint8_t>(buffer).subspan(leadingBytes), static_cast<uint32_t>(width),
                  static_cast<uint32_t>(height), imageSize);
  const bool written = inPlace ? ConvertIntoDib(picture, buffer, headerEnd, imageSize, stride)
                               : ConvertThroughBuffer(picture, buffer, stride);
  if (!written) return std::nullopt;
  return buffer;
}

bool DibConverter::Slices(const AVFrame& picture) {
  return Takes(picture) && ConvertsRowByRow(picture.format) && picture.height % 2 == 0;
}

// Each slice is converted as a picture of its own (from row 0 of the rows it starts at): the
// converter then writes it at the top of the slice buffer. Slices start on even rows, so a 4:2:0
// slice begins on a chroma row of its own and its rows are those of the whole picture's.
bool DibConverter::ConvertInSlices(const AVFrame& picture, PictureRowSink& sink) {
  const int width = picture.width;
  const int height = picture.height;
  scaler_.reset(sws_getCachedContext(scaler_.release(), width, height, static_cast<AVPixelFormat>(picture.format),
                                     width, height, AV_PIX_FMT_BGR24, kConversionFlags, nullptr, nullptr, nullptr));
  if (!scaler_) return false;
  const AVPixFmtDescriptor* kind = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture.format));
  const int alignedStride = FFALIGN(width * 3, kRowAlignment) + kRowAlignment;
  slice_.resize(static_cast<std::size_t>(alignedStride) * kSliceRows + kRowAlignment);
  uint8_t* planes[4] = {slice_.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {alignedStride, 0, 0, 0};
  sink.Begin(static_cast<uint32_t>(width), static_cast<uint32_t>(height), static_cast<std::size_t>(alignedStride));
  for (int top = 0; top < height; top += kSliceRows) {
    const int rows = std::min(kSliceRows, height - top);
    const uint8_t* from[4] = {};
    for (int plane = 0; plane < 3; ++plane) {
      const int planeTop = plane == 0 ? top : top >> kind->log2_chroma_h;
      from[plane] = picture.data[plane] + static_cast<std::ptrdiff_t>(picture.linesize[plane]) * planeTop;
    }
    if (sws_scale(scaler_.get(), from, picture.linesize, 0, rows, planes, strides) != rows) return false;
    sink.TakeRows(std::span<const uint8_t>(slice_).first(static_cast<std::size_t>(alignedStride) * rows),
                  static_cast<uint32_t>(rows), static_cast<std::size_t>(alignedStride));
  }
  return true;
}

// Only the converter's own path from planar 4:2:0 (every MPEG-4 picture) writes the DIB in
// place. It takes chroma rows as they come, one for each two picture rows, so with an even
// height it gives the same pixels whether the picture is read top down or bottom up; and for a
// row of whole 8-pixel groups it converts exactly the row's width (the row then has no padding).
bool DibConverter::ConvertsInPlace(int format, int width, int height) {
  return format == AV_PIX_FMT_YUV420P && width % kConverterPixelGroup == 0 && height % 2 == 0;
}

// The converter reads the picture bottom row first and writes the DIB's rows front to back.
// Its vector stores may run past a row's end: into the next row, which it writes afterwards, or
// past the last one into the room of kRowAlignment bytes `buffer` has beyond the image, which is
// cut off again.
bool DibConverter::ConvertIntoDib(const AVFrame& picture, std::vector<uint8_t>& buffer, std::size_t headerEnd,
                                  std::size_t imageSize, uint32_t stride) {
  const int height = picture.height;
  const uint8_t* rows[4] = {};
  int rowSteps[4] = {};
  const int planes = 3;
  for (int plane = 0; plane < planes; ++plane) {
    const int planeHeight = plane == 0 ? height : height / 2;
    rows[plane] = picture.data[plane] + static_cast<std::ptrdiff_t>(picture.linesize[plane]) * (planeHeight - 1);
    rowSteps[plane] = -picture.linesize[plane];
  }
  uint8_t* out[4] = {buffer.data() + headerEnd, nullptr, nullptr, nullptr};
  const int outSteps[4] = {static_cast<int>(stride), 0, 0, 0};
  const bool done = sws_scale(scaler_.get(), rows, rowSteps, 0, height, out, outSteps) == height;
  buffer.resize(headerEnd + imageSize);
  return done;
}

// The plain way, for any width: the converter gets a buffer of its own with aligned, padded
// rows, which are then appended bottom row first, each with its zero padding, so no byte of the
// DIB is written twice.
bool DibConverter::ConvertThroughBuffer(const AVFrame& picture, std::vector<uint8_t>& buffer, uint32_t stride) {
  const int width = picture.width;
  const int height = picture.height;
  const int alignedStride = FFALIGN(width * 3, kRowAlignment) + kRowAlignment;
  converted_.resize(static_cast<std::size_t>(alignedStride) * static_cast<std::size_t>(height) + kRowAlignment);
  uint8_t* planes[4] = {converted_.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {alignedStride, 0, 0, 0};
  if (sws_scale(scaler_.get(), picture.data, picture.linesize, 0, height, planes, strides) != height) return false;
  const auto rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t padding = stride - rowBytes;
  for (int row = height; row-- > 0;) {
    const uint8_t* from = converted_.data() + static_cast<std::size_t>(alignedStride) * static_cast<std::size_t>(row);
    buffer.insert(buffer.end(), from, from + rowBytes);
    buffer.insert(buffer.end(), padding, 0);
  }
  return true;
}

}  // namespace reel
