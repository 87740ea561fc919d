// A source picture as a picture source hands it on: made already, or with its making (the colour
// conversion of a decoded picture) left to whichever thread takes it. Reading a source goes front
// to back on one thread; leaving the conversion to the coder threads spreads that share of the
// work over every processor.
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "converter/coder/bmp_image.h"

namespace reel {

class SourcePicture {
 public:
  // What makes a picture left for later: called once, on the thread that takes the picture.
  class Late {
   public:
    virtual ~Late() = default;
    // The picture, or none when it cannot be made (its frame is then missing).
    virtual std::optional<BmpImage> Make() = 0;
  };

  explicit SourcePicture(BmpImage made) : made_(std::move(made)) {}
  explicit SourcePicture(std::unique_ptr<Late> late) : late_(std::move(late)) {}

  // Makes a picture left for later now, on the calling thread.
  void MakeNow() {
    if (!late_) return;
    made_ = late_->Make();
    late_.reset();
  }

  // The picture, made now when it was left for later; none when it cannot be made.
  std::optional<BmpImage> Take() && {
    MakeNow();
    return std::move(made_);
  }

 private:
  std::optional<BmpImage> made_;
  std::unique_ptr<Late> late_;
};

}  // namespace reel
