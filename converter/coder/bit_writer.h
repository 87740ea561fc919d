// The frame bit writer: bits are gathered into 32-bit words, the first bit of a word in its least
// significant bit, and each full word is stored little-endian. Seen as bytes, the first bit of a
// stream is bit 0 of byte 0 and the ninth bit is bit 0 of byte 1.
//
// Two ways in, giving the same bytes: PutLsbFirst checks for a full word on every call, and is
// the plain reference; PutShortPieces is the fast path for a run of pieces of at most 32 bits,
// each stored with one unconditional 4-byte write into room made for the whole run beforehand
// (the word written may be only partly filled; the next write or the flush completes it).
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/byte_io.h"

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
  // Room for `bytes` more bytes of stream without reallocating.
  void Reserve(std::size_t bytes) { MakeRoom(bytes); }

  // Empties the stream and keeps its storage, so one writer serves frame after frame.
  void Clear() {
    length_ = 0;
    pending_ = 0;
    pendingCount_ = 0;
  }

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

  // The fast path: `pieces(put)` makes at most `count` calls put(bits, n), each writing n <= 32
  // bits, bit 0 first, where `bits` holds nothing above its n bits. The same bytes as PutLsbFirst
  // with the same pieces, without a branch per piece.
  template <typename Pieces>
  void PutShortPieces(std::size_t count, Pieces pieces) {
    MakeRoom(count * 4 + 4);
    uint8_t* const start = bytes_.data();
    uint8_t* at = start + length_;
    uint64_t pending = pending_;
    uint32_t pendingCount = pendingCount_;
    [[maybe_unused]] std::size_t made = 0;
    pieces([&](uint32_t bits, uint32_t n) {
      assert(++made <= count && n <= 32 && (n == 32 || bits >> n == 0));
      pending |= uint64_t{bits} << pendingCount;
      pendingCount += n;
      StoreU32(std::span<uint8_t, 4>(at, 4), static_cast<uint32_t>(pending));
      const uint32_t full = pendingCount >> 5;
      at += full * 4;
      pending >>= full * 32;
      pendingCount &= 31;
    });
    length_ = static_cast<std::size_t>(at - start);
    pending_ = pending;
    pendingCount_ = pendingCount;
  }

  // Completes a word that holds at least one bit with zeros; a stream without pending bits stores
  // nothing. Every stream is thereby a whole number of 32-bit words.
  void Flush() {
    if (pendingCount_ > 0) StoreWord(static_cast<uint32_t>(pending_));
    pending_ = 0;
    pendingCount_ = 0;
  }

  std::span<const uint8_t> Bytes() const { return std::span<const uint8_t>(bytes_).first(length_); }

 private:
  // The storage runs ahead of the stream by at least `bytes`.
  void MakeRoom(std::size_t bytes) {
    if (bytes_.size() - length_ < bytes) bytes_.resize(std::max(length_ + bytes, 2 * bytes_.size()));
  }

  void StoreWord(uint32_t word) {
    MakeRoom(4);
    StoreU32(std::span<uint8_t, 4>(bytes_.data() + length_, 4), word);
    length_ += 4;
  }

  std::vector<uint8_t> bytes_;  // the stream in its first length_ bytes, then room for writing
  std::size_t length_ = 0;
  uint64_t pending_ = 0;  // bits not yet in a full word, the first in bit 0
  uint32_t pendingCount_ = 0;
};

}  // namespace reel
