// The frame loop's back end: each selected source picture is scaled to the movie's size, coded
// and appended to the movie.
//
// Every index entry needs a frame, so a picture that is missing (the source could not deliver or
// decode it) or that cannot be coded is replaced by the frame before it, or by a black frame when
// there is none yet; such frames are counted for the job's report. Only a movie file that cannot
// be written stops the loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "converter/coder/bmp_image.h"
#include "converter/engine/code_frame.h"
#include "converter/engine/frame_timing.h"
#include "converter/coder/qrx_writer.h"

namespace reel {

// A source picture scaled to `size` and coded at `quality` (with the plain CodeFrame), or none when
// that fails. Safe to call on several threads at once. The reference for the frames the builder
// and the frame pipeline make.
std::optional<std::vector<uint8_t>> CodeSourcePicture(const BmpImage& source, PictureSize size, int32_t quality);

class MovieBuilder {
 public:
  // Creates (or truncates) the movie file at `path` and writes its header and empty index for
  // the timing's frame count and rate, in the box of the picture-size choice.
  static Result<MovieBuilder> Begin(const std::string& path, const FrameTiming& timing,
                                    PictureSizeChoice pictureSizeChoice, int32_t quality);

  // The movie's size; set it (the fit to the source's shape) before the first frame.
  void SetSize(PictureSize size);
  PictureSize Size() const;

  // Scales, codes and appends one frame. A kCannotWrite error when the movie file cannot be
  // written.
  Status AddPicture(const std::optional<BmpImage>& source);
  // Appends a frame coded elsewhere (with CodeSourcePicture at Size()); `coded` is none when the
  // picture was missing or could not be coded.
  Status AddCoded(bool pictureMissing, std::optional<std::vector<uint8_t>> coded);

  // Rewrites the header and index and closes the file; an error when anything failed.
  Status Finish();

  int32_t Quality() const { return quality_; }
  uint32_t FramesDone() const { return movie_.framesAppended; }
  uint32_t MissingPictures() const { return missingPictures_; }
  uint32_t UncodablePictures() const { return uncodablePictures_; }

 private:
  MovieBuilder(QrxOutput movie, int32_t quality) : movie_(std::move(movie)), quality_(quality) {}
  std::optional<std::vector<uint8_t>> StandInFrame() const;
  QrxOutput movie_;
  int32_t quality_;
  FrameCoding coding_;  // the first frame's and the plain loop's
  std::vector<uint8_t> previousFrame_;
  uint32_t missingPictures_ = 0;
  uint32_t uncodablePictures_ = 0;
};

}  // namespace reel
