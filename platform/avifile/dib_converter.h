// Decoded pictures to packed DIBs: a 40-byte BITMAPINFOHEADER and the 24-bit rows, bottom row
// first, blue, green, red, each padded to a multiple of 4 bytes. Internal to platform/avifile.
//
// The colour converter writes planar 4:2:0 pictures of whole 8-pixel rows and even height straight
// into the DIB, reading the picture bottom row first; every other picture is converted into rows
// of the converter's own and copied (the plain way, which the tests hold the direct one to). A
// converter serves one thread at a time.
#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/picture_row_sink.h"
#include "platform/avifile/avi_frame_reader.h"

namespace reel {

class DibConverter {
 public:
  explicit DibConverter(DibWriting writing) : writing_(writing) {}

  // `picture` as a packed DIB after `leadingBytes` zero bytes, in the memory of `buffer` (an earlier
  // DIB the caller is done with; of the very size, it is neither grown nor cleared). Nothing when
  // the picture is larger than 16384 pixels either way or cannot be converted.
  std::optional<std::vector<uint8_t>> Convert(const AVFrame& picture, uint32_t leadingBytes, std::vector<uint8_t> buffer);
  // Whether Convert can take pictures of `picture`'s size and kind at all.
  static bool Takes(const AVFrame& picture);

  // Whether ConvertInSlices takes `picture`: planar 4:2:0 of even height, whose rows the colour
  // converter makes a pair at a time from the same rows of the picture alone.
  static bool Slices(const AVFrame& picture);
  // The DIB's rows of such a picture, top row first, handed to `sink` a slice of rows at a time
  // as they are converted into a small buffer of the converter's own. False when the colour
  // conversion fails.
  bool ConvertInSlices(const AVFrame& picture, PictureRowSink& sink);

 private:
  struct ScalerDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
  };

  static bool ConvertsInPlace(int format, int width, int height);
  bool ConvertIntoDib(const AVFrame& picture, std::vector<uint8_t>& buffer, std::size_t headerEnd,
                      std::size_t imageSize, uint32_t stride);
  bool ConvertThroughBuffer(const AVFrame& picture, std::vector<uint8_t>& buffer, uint32_t stride);

  DibWriting writing_;
  std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
  std::vector<uint8_t> converted_;  // top-down BGR rows from the converter, on the plain way
  std::vector<uint8_t> slice_;      // a slice's rows, on the sliced way
};

}  // namespace reel
