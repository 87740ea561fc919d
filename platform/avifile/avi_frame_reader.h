// Reading the pictures of an AVI video stream as packed DIBs: a 40-byte BITMAPINFOHEADER
// (positive height, 1 plane, 24 bits per pixel, no compression, no colour table) followed by the
// pixel rows bottom row first, blue, green, red, each row padded to a multiple of 4 bytes. Every
// codec's output is converted to that form.
//
// Frames are asked for by source frame number. Requests are expected in rising order, as a job
// makes them; an earlier frame is still delivered, by reading again from the start. A frame number
// that the stream skips (an empty chunk) gives the frame before it, as the stream would show.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/picture_row_sink.h"
#include "common/result.h"
#include "platform/videodecoding/decoder_threads.h"

namespace reel {

class AviDemuxer;


// How a picture gets into its DIB: written there by the colour converter wherever the row width
// allows, or always converted into a buffer of the reader's own and copied (the plain way, which
// the tests hold the direct one to, byte for byte).
enum class DibWriting { kDirect, kPlain };

class DibConverter;

// A decoded picture taken from a frame reader with its conversion to a DIB left for later: a
// reference to the decoder's picture (its memory is not reused while the reference lives), so the
// reader can decode on while another thread converts.
class AviGrabbedFrame {
 public:
  struct Held;
  explicit AviGrabbedFrame(std::unique_ptr<Held> held);
  AviGrabbedFrame(AviGrabbedFrame&&) noexcept;
  AviGrabbedFrame& operator=(AviGrabbedFrame&&) noexcept;
  ~AviGrabbedFrame();

  // The picture's size.
  uint32_t Width() const;
  uint32_t Height() const;

 private:
  friend class AviFrameConverter;
  std::unique_ptr<Held> held_;
};

// Converts grabbed pictures to DIBs on one thread, keeping its colour converter from picture to
// picture (a converter serves one thread at a time).
class AviFrameConverter {
 public:
  explicit AviFrameConverter(DibWriting writing = DibWriting::kDirect);
  AviFrameConverter(AviFrameConverter&&) noexcept;
  AviFrameConverter& operator=(AviFrameConverter&&) noexcept;
  ~AviFrameConverter();

  // The DIB AviFrameReader::GetFrame gives for the picture, byte for byte, in the memory of
  // `storage` as GetFrame reuses it; nothing when it cannot be converted.
  std::optional<std::vector<uint8_t>> Convert(const AviGrabbedFrame& frame, uint32_t leadingBytes = 0,
                                              std::vector<uint8_t> storage = {});

  // Whether ConvertInSlices takes the picture (most pictures decoded from compressed video).
  static bool Slices(const AviGrabbedFrame& frame);
  // The rows of Convert's DIB, top row first (its last stored row first), handed to `sink` a few
  // at a time as they are converted: the whole picture is never held. False when the colour
  // conversion fails or the picture is not one Slices takes.
  bool ConvertInSlices(const AviGrabbedFrame& frame, PictureRowSink& sink);

 private:
  std::unique_ptr<DibConverter> dib_;
};

class AviFrameReader {
 public:
  // Opens frame reading on the stream of the file at `path`: an error of kind kUnsupported when the
  // stream is not video or has no decoder, the AVI layer's error when the file cannot be opened.
  static Result<AviFrameReader> Open(const std::string& path, uint32_t stream,
                                     DecoderThreads threads = DecoderThreads::kAuto,
                                     DibWriting writing = DibWriting::kDirect);
  // The same on a demuxer already open on the file (AviFile lends its own); it must not have read
  // any packets yet.
  static Result<AviFrameReader> Open(std::shared_ptr<AviDemuxer> demuxer, uint32_t stream,
                                     DecoderThreads threads = DecoderThreads::kAuto,
                                     DibWriting writing = DibWriting::kDirect);

  AviFrameReader(AviFrameReader&&) noexcept;
  AviFrameReader& operator=(AviFrameReader&&) noexcept;
  ~AviFrameReader();

  // Source frame `position` as a packed DIB, or nothing when no picture at or before that position
  // can be decoded or the picture is larger than 16384 pixels either way. The DIB starts after
  // `leadingBytes` zero bytes, room for a caller's own header in front of it without a copy.
  // `storage`, an earlier DIB the caller is done with, is reused for the new one (its memory is
  // then neither allocated nor cleared again).
  std::optional<std::vector<uint8_t>> GetFrame(uint32_t position, uint32_t leadingBytes = 0,
                                               std::vector<uint8_t> storage = {});

  // The picture GetFrame gives for `position`, its conversion left for later (AviFrameConverter);
  // nothing when GetFrame would give nothing for want of a picture or one the converter can take.
  std::optional<AviGrabbedFrame> GrabFrame(uint32_t position);

  struct State;

 private:
  explicit AviFrameReader(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace reel
