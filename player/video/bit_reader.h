// Reads the bits of one of a coded frame's two bit streams.
//
// The writer collects bits into 32-bit words from the least significant end and stores each word
// little-endian, so seen as bytes the stream's first bit is bit 0 of byte 0 and its ninth bit is
// bit 0 of byte 1. The reader keeps up to 64 of the next bits in a buffer, the next one in bit 0,
// and tops it up with one little-endian 64-bit load while the stream lasts.
//
// Bytes past the end read as zeros and reading never stops; instead the position keeps counting,
// and Overrun() tells the caller, once per block or per stream, that bits were taken that the
// stream does not hold. Every decoding step consumes at least one bit or ends a bounded loop, so a
// hostile stream cannot make the caller spin.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

namespace bit_reader_detail {

constexpr std::array<uint8_t, 256> MakeByteReversal() {
  std::array<uint8_t, 256> table{};
  for (uint32_t value = 0; value < 256; ++value) {
    uint32_t reversed = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) reversed |= ((value >> bit) & 1u) << (7 - bit);
    table[value] = static_cast<uint8_t>(reversed);
  }
  return table;
}

inline constexpr std::array<uint8_t, 256> kByteReversal = MakeByteReversal();

}  // namespace bit_reader_detail

class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> stream)
      : stream_(stream), bitCount_(static_cast<uint64_t>(stream.size()) * 8) {}

  // The next 32 bits without consuming them: the next bit to be read is bit 0.
  uint32_t Peek32() {
    if (buffered_ < 32) Refill();
    return static_cast<uint32_t>(buffer_);
  }

  // Consumes `bits` (at most 32) bits.
  void Skip(uint32_t bits) {
    if (buffered_ < bits) Refill();
    buffer_ >>= bits;
    buffered_ -= bits;
  }

  uint32_t ReadBit() {
    const uint32_t bit = Peek32() & 1u;
    Skip(1);
    return bit;
  }

  // `count` (0 .. 16) bits as an unsigned value; the first bit read is its most significant.
  uint32_t ReadValue(uint32_t count) {
    if (count == 0) return 0;
    const uint32_t low16 = Peek32() & 0xFFFFu;
    Skip(count);
    const uint32_t reversed = (uint32_t{bit_reader_detail::kByteReversal[low16 & 0xFFu]} << 8) |
                              bit_reader_detail::kByteReversal[low16 >> 8];
    return reversed >> (16 - count);
  }

  // True once more bits were consumed than the stream holds.
  bool Overrun() const { return Position() > bitCount_; }
  uint64_t Position() const { return nextByte_ * 8 - buffered_; }

 private:
  // Tops the buffer up to at least 56 bits. Inside the stream one little-endian 64-bit load does
  // it; near and past the end the bytes come one at a time, zeros past the end.
  void Refill() {
    if (stream_.size() >= 8 && nextByte_ <= stream_.size() - 8) {
      buffer_ |= LoadWindow(nextByte_) << buffered_;
      nextByte_ += (63 - buffered_) >> 3;
      buffered_ |= 56;
      return;
    }
    while (buffered_ <= 56) {
      const uint64_t byte = nextByte_ < stream_.size() ? stream_[nextByte_] : 0;
      buffer_ |= byte << buffered_;
      buffered_ += 8;
      ++nextByte_;
    }
  }

  uint64_t LoadWindow(uint64_t byte) const {
    const uint8_t* p = stream_.data() + byte;
    return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 |
           uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 |
           uint64_t{p[7]} << 56;
  }

  std::span<const uint8_t> stream_;
  uint64_t bitCount_;
  uint64_t buffer_ = 0;    // the next bits, the next one in bit 0
  uint32_t buffered_ = 0;  // how many bits of buffer_ are loaded
  uint64_t nextByte_ = 0;  // the next byte to load (counts on past the end)
};

// The same reader one bit at a time: each bit is taken from its byte where it stands. Slow, and
// plainly right; BitReader must give the same answers for the same calls.
class PlainBitReader {
 public:
  explicit PlainBitReader(std::span<const uint8_t> stream)
      : stream_(stream), bitCount_(static_cast<uint64_t>(stream.size()) * 8) {}

  uint32_t Peek32() const {
    uint32_t bits = 0;
    for (uint32_t i = 0; i < 32; ++i) bits |= BitAt(position_ + i) << i;
    return bits;
  }
  void Skip(uint32_t bits) { position_ += bits; }
  uint32_t ReadBit() { return BitAt(position_++); }
  uint32_t ReadValue(uint32_t count) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i) value = (value << 1) | ReadBit();
    return value;
  }
  bool Overrun() const { return position_ > bitCount_; }
  uint64_t Position() const { return position_; }

 private:
  uint32_t BitAt(uint64_t bit) const {
    const uint64_t byte = bit >> 3;
    return byte < stream_.size() ? (stream_[byte] >> (bit & 7)) & 1u : 0;
  }

  std::span<const uint8_t> stream_;
  uint64_t bitCount_;
  uint64_t position_ = 0;
};

}  // namespace reel
