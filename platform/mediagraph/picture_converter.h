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
#include <vector>

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

  // Appends the padded rows of the upright picture of `frame` to `out`. False when the colour
  // conversion fails (`out` may then have grown).
  bool Convert(const AVFrame& frame, std::vector<uint8_t>& out);

 private:
  void Place(std::span<uint8_t> out) const;
  void AppendUnturned(std::vector<uint8_t>& out) const;

  int width_;
  int height_;
  Rotation rotation_;
  SwsContext* scaler_ = nullptr;
  int stride_ = 0;
  std::vector<uint8_t> topDown_;  // the converter's rows, top row first, at the stored size
};

}  // namespace reel
