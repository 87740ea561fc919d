// PictureRowSink: takes a picture's converted rows a slice at a time, top row first. The platform
// layers' colour converters hand their rows to one while they convert, so that a stage after them
// (the converter's scaler) can take each slice while it is still in the processor's cache and
// the whole picture need never be held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

class PictureRowSink {
 public:
  virtual ~PictureRowSink() = default;
  // Called first: the picture's size, and the stride of the rows to come.
  virtual void Begin(uint32_t width, uint32_t height, std::size_t stride) = 0;
  // `count` rows of 24-bit pixels (blue, green, red), `stride` bytes apart in `rows`, which holds
  // `count` whole strides; the bytes are the converter's again once the call returns.
  virtual void TakeRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride) = 0;
};

}  // namespace reel
