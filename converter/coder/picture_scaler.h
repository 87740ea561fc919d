// ScalePicture: brings a picture of any size to the movie's size as a 24-bit picture.
//
// Equal sizes are copied; any other size is resampled by area averaging in two passes (along rows,
// then along columns) with positions and weights in fixed point of 10 fractional bits (1024 = one
// source pixel). In both cases the result holds the input's stored rows in reverse order under an
// ordinary bottom-up header: for a bottom-up source its first stored row is the top of the picture,
// which is the order the JPEG encoder hands rows to the codec.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "converter/coder/bmp_image.h"

namespace reel {

// The scaled picture (its byte size is result->Size()), or none when the requested size is 0 or
// beyond BmpImage::kMaxDimension. The input, 24 or 32 bits per pixel, stays the caller's; only
// the first three bytes (blue, green, red) of each pixel are used.
std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height);

// The vector lanes ScalePicture may use: the widest the processor offers, or SSE2 alone (for the
// tests, which hold both to the same bytes).
enum class ScalerLanes { Widest, Sse2 };
std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height, ScalerLanes lanes);

// ScalePicture's result, byte for byte, for a 24-bit picture whose rows come a few at a time, top
// row first (a bottom-up picture's last stored row first, as ScalePicture reads it): each row goes
// through the row pass as it comes and each output row is made once its window is in, so the
// picture never has to exist whole. For sizes that differ (equal ones ScalePicture copies).
class RowwiseScaler {
 public:
  // For a sourceWidth x sourceHeight picture whose rows are handed in `sourceStride` bytes apart;
  // none when ScalePicture would give none or a source size is 0 or too large.
  static std::optional<RowwiseScaler> Create(uint32_t sourceWidth, uint32_t sourceHeight, std::size_t sourceStride,
                                             uint32_t width, uint32_t height, ScalerLanes lanes = ScalerLanes::Widest);
  RowwiseScaler(RowwiseScaler&&) noexcept;
  RowwiseScaler& operator=(RowwiseScaler&&) noexcept;
  ~RowwiseScaler();

  // The next `count` rows, `stride` bytes apart from the start of `rows` (the stride given to
  // Create), `rows` holding `count` whole strides. The lanes may read on past a row's pixels into
  // the bytes that follow it in `rows`, which carry no weight.
  void AddRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride);
  // The scaled picture once every row is in; none before.
  std::optional<BmpImage> Finish() &&;

 private:
  struct State;
  RowwiseScaler(uint32_t sourceHeight, std::unique_ptr<State> state);

  uint32_t sourceHeight_;
  std::unique_ptr<State> state_;
};

}  // namespace reel
