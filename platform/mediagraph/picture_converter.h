// Decoded pictures to the grabber's form: 24-bit rows, blue, green, red, bottom row first, each
// row padded to a multiple of 4 bytes, turned upright when the file says the video is rotated.
// Internal to platform/mediagraph.
//
// Phone recordings store the picture as the sensor saw it and a display matrix that says how to
// turn it for showing. Turns by a quarter, a half and three quarters are applied here, so the
// picture leaves the layer upright; any other matrix (a mirror, a skew) is ignored, as most
// players ignore it.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/mediagraph/grabbed_picture.h"
#include "platform/mediagraph/video_decoder.h"

namespace reel {

// Clockwise turn that shows the stored picture upright.
enum class Rotation { kNone, kQuarter, kHalf, kThreeQuarters };

// The turn that the stream's display matrix asks for.
Rotation StreamRotation(const AVStream& stream);

struct UprightSize {
  int width = 0;
  int height = 0;
};
UprightSize TurnedSize(int storedWidth, int storedHeight, Rotation rotation);

// Bytes in one padded 24-bit row.
inline uint32_t PaddedRowBytes(int width) { return (static_cast<uint32_t>(width) * 3 + 3) & ~3u; }

class PictureConverter {
 public:
  // Pictures are delivered at `storedWidth` × `storedHeight` before the turn (a picture of
  // another size, after a mid-stream size change, is scaled to it).
  PictureConverter(int storedWidth, int storedHeight, Rotation rotation);
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Whether this converter delivers pictures at that stored size and turn.
  bool Delivers(int storedWidth, int storedHeight, Rotation rotation) const {
    return storedWidth == width_ && storedHeight == height_ && rotation == rotation_;
  }
  // Whether the converter can take pictures of `frame`'s kind at all.
  static bool Takes(const AVFrame& frame);

  // Appends the padded rows of the upright picture of `frame` to `out`. False when the colour
  // conversion fails (`out` may then have grown). The plain way: the converter writes rows of its
  // own, which are then copied into place.
  bool Convert(const AVFrame& frame, std::vector<uint8_t>& out);
  // The same bytes as Convert's, in `out` from `start` on (the bytes before it are kept, `out`
  // ends with the picture). Where that gives the very same bytes, the converter writes the rows
  // straight into place; `out`'s memory is reused, and storage already of the final size is
  // neither grown nor cleared.
  bool ConvertInPlace(const AVFrame& frame, std::vector<uint8_t>& out, std::size_t start);

  // Whether ConvertInSlices takes `frame`: a picture at the converter's own size, unturned, planar
  // 4:2:0 of even height, whose rows the colour converter makes a pair at a time from the same
  // rows of the picture alone.
  bool Slices(const AVFrame& frame) const { return SlicesAt(frame, width_, height_, rotation_); }
  static bool SlicesAt(const AVFrame& frame, int storedWidth, int storedHeight, Rotation rotation);
  // Convert's rows of such a picture, top row first, handed to `sink` a slice of rows at a time as
  // they are converted into a buffer of the converter's own that stays small. False when the
  // colour conversion fails (`sink` may then have had some rows).
  bool ConvertInSlices(const AVFrame& frame, PictureRowSink& sink);

 private:
  bool WritesInPlace(const AVFrame& frame) const;
  bool ConvertIntoRows(const AVFrame& frame, std::vector<uint8_t>& out, std::size_t start);
  void Place(std::span<uint8_t> out) const;
  void AppendUnturned(std::vector<uint8_t>& out) const;

  int width_;
  int height_;
  Rotation rotation_;
  SwsContext* scaler_ = nullptr;
  int stride_ = 0;
  std::vector<uint8_t> topDown_;  // the converter's rows, top row first, at the stored size
  std::vector<uint8_t> slice_;    // a slice's rows, on the sliced way
};

struct GrabbedPicture::Contents {
  FramePtr frame;  // a reference to the decoded picture
  int64_t index = 0;
  // How the graph delivers its pictures: the stored size before the turn, the turn, and the
  // bytes of one converted picture.
  int storedWidth = 0;
  int storedHeight = 0;
  Rotation rotation = Rotation::kNone;
  uint32_t sampleSize = 0;
  std::string path;  // the file, for errors
};

}  // namespace reel
