// CByteSource: the memory a JPEG stream is read from, with a read position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

class CByteSource {
 public:
  explicit CByteSource(std::span<const uint8_t> data) : data_(data) {}

  // Copies the next bytes into `destination` and advances; returns how many were copied, fewer
  // than asked only at the end of the data. Never reads past the end.
  std::size_t Read(std::span<uint8_t> destination);

  bool AtEnd() const { return position_ == data_.size(); }

 private:
  std::span<const uint8_t> data_;
  std::size_t position_ = 0;
};

}  // namespace reel
