// The frame bit writer: bits are gathered into 32-bit words, the first bit of a word in its least
// significant bit, and each full word is stored little-endian. Seen as bytes, the first bit of a
// stream is bit 0 of byte 0 and the ninth bit is bit 0 of byte 1.
#pragma once

#include <cstdint>
#include <vector>

namespace reel {

class BitWriter {
 public:
  // Writes the low `count` bits of `bits` (count <= 32), bit 0 first.
  void PutLsbFirst(uint32_t bits, uint32_t count) {
    if (count == 0) return;
    const uint64_t mask = (uint64_t{1} << count) - 1;
    pending_ |= (bits & mask) << pendingCount_;
    pendingCount_ += count;
    if (pendingCount_ >= 32) {
      StoreWord(static_cast<uint32_t>(pending_));
      pending_ >>= 32;
      pendingCount_ -= 32;
    }
  }

  // Writes the low `count` bits of `value` (count <= 32), most significant first: the order of
  // the value bits that follow a symbol.
  void PutMsbFirst(uint32_t value, uint32_t count) {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < count; ++i) reversed = (reversed << 1) | ((value >> i) & 1u);
    PutLsbFirst(reversed, count);
  }

  // Completes a word that holds at least one bit with zeros; a stream without pending bits stores
  // nothing. Every stream is thereby a whole number of 32-bit words.
  void Flush() {
    if (pendingCount_ > 0) StoreWord(static_cast<uint32_t>(pending_));
    pending_ = 0;
    pendingCount_ = 0;
  }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  void StoreWord(uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(word >> shift));
  }

  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;
  uint32_t pendingCount_ = 0;
};

}  // namespace reel
