// Reads the bits of one of a coded frame's two bit streams.
//
// The writer collects bits into 32-bit words from the least significant end and stores each word
// little-endian, so seen as bytes the stream's first bit is bit 0 of byte 0 and its ninth bit is
// bit 0 of byte 1. The reader keeps a bit position and looks at the stream through a little-endian
// 64-bit window, which gives up to 57 bits from any position in one load.
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
  uint32_t Peek32() const {
    const uint64_t byte = position_ >> 3;
    const uint64_t window = byte + 8 <= stream_.size() ? LoadWindow(byte) : LoadTail(byte);
    return static_cast<uint32_t>(window >> (position_ & 7));
  }

  void Skip(uint32_t bits) { position_ += bits; }

  uint32_t ReadBit() {
    const uint32_t bit = Peek32() & 1u;
    ++position_;
    return bit;
  }

  // `count` (0 .. 16) bits as an unsigned value; the first bit read is its most significant.
  uint32_t ReadValue(uint32_t count) {
    if (count == 0) return 0;
    const uint32_t low16 = Peek32() & 0xFFFFu;
    position_ += count;
    const uint32_t reversed = (uint32_t{bit_reader_detail::kByteReversal[low16 & 0xFFu]} << 8) |
                              bit_reader_detail::kByteReversal[low16 >> 8];
    return reversed >> (16 - count);
  }

  // True once more bits were consumed than the stream holds.
  bool Overrun() const { return position_ > bitCount_; }
  uint64_t Position() const { return position_; }

 private:
  uint64_t LoadWindow(uint64_t byte) const {
    uint64_t window = 0;
    for (uint32_t i = 0; i < 8; ++i) window |= uint64_t{stream_[byte + i]} << (8 * i);
    return window;
  }

  uint64_t LoadTail(uint64_t byte) const {
    uint64_t window = 0;
    for (uint32_t i = 0; i < 8 && byte + i < stream_.size(); ++i) {
      window |= uint64_t{stream_[byte + i]} << (8 * i);
    }
    return window;
  }

  std::span<const uint8_t> stream_;
  uint64_t bitCount_;
  uint64_t position_ = 0;
};

}  // namespace reel
