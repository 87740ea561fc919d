// The frame bit writer: bits are gathered into 32-bit words, the first bit of a word in its least
// significant bit, and each full word is stored little-endian. Seen as bytes, the first bit of a
// stream is bit 0 of byte 0 and the ninth bit is bit 0 of byte 1.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace reel {

// The low `count` bits of `value` (count <= 32) in reverse order; 0 for count 0.
inline uint32_t ReverseLowBits(uint32_t value, uint32_t count) {
  if (count == 0) return 0;
  value = ((value >> 1) & 0x55555555u) | ((value & 0x55555555u) << 1);
  value = ((value >> 2) & 0x33333333u) | ((value & 0x33333333u) << 2);
  value = ((value >> 4) & 0x0F0F0F0Fu) | ((value & 0x0F0F0F0Fu) << 4);
  value = ((value >> 8) & 0x00FF00FFu) | ((value & 0x00FF00FFu) << 8);
  value = (value >> 16) | (value << 16);
  return value >> (32 - count);
}

class BitWriter {
 public:
  // Room for `bytes` bytes of stream without reallocating.
  void Reserve(std::size_t bytes) { bytes_.reserve(bytes); }

  // Writes the low `count` bits of `bits` (count <= 32), bit 0 first.
  void PutLsbFirst(uint32_t bits, uint32_t count) {
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
  void PutMsbFirst(uint32_t value, uint32_t count) { PutLsbFirst(ReverseLowBits(value, count), count); }

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
    const uint8_t little[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16),
                               static_cast<uint8_t>(word >> 24)};
    bytes_.insert(bytes_.end(), little, little + 4);
  }

  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;
  uint32_t pendingCount_ = 0;
};

}  // namespace reel
