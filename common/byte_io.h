// Little-endian reading and writing of the integers our file formats are made of.
//
// Every field of every file is read and written through these helpers, one byte at a time, so no
// structure is ever laid over raw bytes and the host's byte order never matters. The callers
// check lengths: the span-based helpers are handed exactly the bytes they touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace reel {

inline uint16_t LoadU16(std::span<const uint8_t, 2> bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t LoadU32(std::span<const uint8_t, 4> bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

inline void StoreU16(std::span<uint8_t, 2> bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreU32(std::span<uint8_t, 4> bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

// Reads fields in order from a byte span. A read past the end yields 0 and sets a sticky flag
// that the caller checks once after a group of reads.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint8_t U8() { return Fits(1) ? bytes_[pos_++] : uint8_t{0}; }
  uint16_t U16() {
    if (!Fits(2)) return 0;
    const uint16_t v = LoadU16(bytes_.subspan(pos_).first<2>());
    pos_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Fits(4)) return 0;
    const uint32_t v = LoadU32(bytes_.subspan(pos_).first<4>());
    pos_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  void Skip(std::size_t count) {
    if (Fits(count)) pos_ += count;
  }

  std::size_t Position() const { return pos_; }
  bool Failed() const { return failed_; }

 private:
  bool Fits(std::size_t count) {
    if (failed_ || bytes_.size() - pos_ < count) {
      failed_ = true;
      return false;
    }
    return true;
  }

  std::span<const uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// Appends fields in order to a growing byte vector.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) U8(static_cast<uint8_t>(v >> shift));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Bytes(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace reel
