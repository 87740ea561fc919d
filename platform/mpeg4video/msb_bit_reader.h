// Bits of a video header, most significant bit first, with a sticky flag for reads past the end
// (which return 0). The reader views the bytes; they must outlive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

class MsbBitReader {
 public:
  explicit MsbBitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint32_t Read(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | ReadBit();
    return value;
  }
  uint32_t ReadBit() {
    if (position_ >= bytes_.size() * 8) {
      overrun_ = true;
      return 0;
    }
    const uint32_t bit = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1U;
    ++position_;
    return bit;
  }
  bool Overrun() const { return overrun_; }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t position_ = 0;
  bool overrun_ = false;
};

}  // namespace reel
