// A source picture as a picture source hands it on: made already, or with its making (the colour
// conversion of a decoded picture) left to whichever thread takes it. Reading a source goes front
// to back on one thread; leaving the conversion to the coder threads spreads that share of the
// work over every processor.
//
// The frame loop wants the picture at the movie's size. A picture left for later may be made at
// that size at once, its conversion feeding the scaler a few rows at a time, so that the picture
// never exists at its own size; the plain way makes it whole and scales it with ScalePicture.
// Both give the same bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "converter/coder/bmp_image.h"
#include "converter/coder/picture_scaler.h"

namespace reel {

// How a picture left for later comes to the movie's size: made and scaled in one go where its
// source can (the fast way), or made whole, then scaled (the plain way, the reference).
enum class PictureScaling { kWhileMaking, kWhole };

class SourcePicture {
 public:
  // What makes a picture left for later: called once, on the thread that takes the picture.
  class Late {
   public:
    virtual ~Late() = default;
    // The picture, or none when it cannot be made (its frame is then missing).
    virtual std::optional<BmpImage> Make() = 0;
    // Whether MakeScaled can make this picture at width x height.
    virtual bool MakesScaled(uint32_t /*width*/, uint32_t /*height*/) const { return false; }
    // ScalePicture's picture of Make's, made in one go; none when it cannot be made.
    virtual std::optional<BmpImage> MakeScaled(uint32_t /*width*/, uint32_t /*height*/) { return std::nullopt; }
  };

  // A picture at the movie's size.
  struct AtSize {
    bool missing = false;           // no picture could be made
    std::optional<BmpImage> scaled;  // none when missing or the size cannot be made
    std::optional<BmpImage> whole;   // the picture at its own size, when it was made so (its bytes may serve again)
  };

  explicit SourcePicture(BmpImage made) : made_(std::move(made)) {}
  explicit SourcePicture(std::unique_ptr<Late> late) : late_(std::move(late)) {}

  // Makes a picture left for later now, on the calling thread: at width x height in one go where
  // `scaling` and the source allow (the same size must then be taken).
  void MakeNow(uint32_t width, uint32_t height, PictureScaling scaling) {
    if (!late_) return;
    if (scaling == PictureScaling::kWhileMaking && late_->MakesScaled(width, height)) {
      scaled_ = late_->MakeScaled(width, height);
      madeScaled_ = true;
    } else {
      made_ = late_->Make();
    }
    late_.reset();
  }

  // The picture at width x height, made now when it was left for later.
  AtSize TakeAt(uint32_t width, uint32_t height, PictureScaling scaling) && {
    MakeNow(width, height, scaling);
    if (madeScaled_) return {!scaled_, std::move(scaled_), std::nullopt};
    if (!made_) return {true, std::nullopt, std::nullopt};
    std::optional<BmpImage> scaled = ScalePicture(*made_, width, height);
    return {false, std::move(scaled), std::move(made_)};
  }

 private:
  std::optional<BmpImage> made_;
  std::optional<BmpImage> scaled_;
  bool madeScaled_ = false;
  std::unique_ptr<Late> late_;
};

}  // namespace reel
