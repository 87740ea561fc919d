#include "converter/jpeg/byte_source.h"

#include <algorithm>

namespace reel {

std::size_t CByteSource::Read(std::span<uint8_t> destination) {
  const std::size_t count = std::min(destination.size(), data_.size() - position_);
  std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(position_), count, destination.begin());
  position_ += count;
  return count;
}

}  // namespace reel
