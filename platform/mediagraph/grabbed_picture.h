// A picture taken from the media graph with its conversion to the grabber's form left for later.
//
// The graph's decoding goes front to back on one thread, but the pictures it keeps can be
// converted anywhere: a grabbed picture holds a reference to the decoded picture (the decoder
// does not reuse its memory while the reference lives) and what the conversion needs, so the
// caller can hand it to another thread and decode on. Each thread converts with its own
// GrabbedPictureConverter, since a colour converter serves one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/picture_row_sink.h"
#include "common/result.h"

namespace reel {

class PictureConverter;

class GrabbedPicture {
 public:
  // What the picture holds; made by the graph only (platform/mediagraph/picture_converter.h).
  struct Contents;
  explicit GrabbedPicture(std::unique_ptr<Contents> contents);
  GrabbedPicture(GrabbedPicture&&) noexcept;
  GrabbedPicture& operator=(GrabbedPicture&&) noexcept;
  ~GrabbedPicture();

  // Its place in presentation order.
  int64_t Index() const;
  // The converted picture's size (upright).
  uint32_t Width() const;
  uint32_t Height() const;
  const Contents& Held() const { return *contents_; }

 private:
  std::unique_ptr<Contents> contents_;
};

// Converts grabbed pictures on one thread, keeping its colour converter from picture to picture.
class GrabbedPictureConverter {
 public:
  GrabbedPictureConverter();
  GrabbedPictureConverter(GrabbedPictureConverter&&) noexcept;
  GrabbedPictureConverter& operator=(GrabbedPictureConverter&&) noexcept;
  ~GrabbedPictureConverter();

  // The picture as MediaGraph::GetCurrentBuffer gives it when it is on screen, byte for byte: the
  // padded rows, bottom row first, after `leadingBytes` zero bytes. `storage`, bytes the caller
  // is done with, becomes the result (its memory is reused, and not cleared again when it already
  // has the result's size). kUnsupported, naming the file, when the colour conversion fails.
  Result<std::vector<uint8_t>> Convert(const GrabbedPicture& picture, uint32_t leadingBytes,
                                       std::vector<uint8_t> storage = {});

  // Whether ConvertInSlices takes the picture (most pictures decoded from compressed video).
  static bool Slices(const GrabbedPicture& picture);
  // The rows of Convert's picture, top row first (its last stored row first), handed to `sink` a
  // few at a time as they are converted: the whole picture is never held. kUnsupported, naming
  // the file, when the colour conversion fails or the picture is not one Slices takes.
  Status ConvertInSlices(const GrabbedPicture& picture, PictureRowSink& sink);

 private:
  PictureConverter& ConverterFor(const GrabbedPicture::Contents& held);

  std::unique_ptr<PictureConverter> converter_;
};

}  // namespace reel
