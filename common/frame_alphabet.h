// The symbol alphabet of a coded frame's two bit streams, shared by the frame coder and the frame
// decoder.
//
// DC stream: one symbol per block, the magnitude category s (0 ... 15) of the block's difference
// from the previous block's DC value, followed by s value bits.
// AC stream, over the 63 AC positions of a block in zig-zag order:
//   0x00           end of block: every position left is 0
//   0x01 ... 0xEF  r * 16 + s: r zeros (0 ... 14), then one value of s value bits (s = 0 places a 0)
//   0xF0 ... 0xFF  15 ... 30 zeros and no value (0xF0 + k stands for 15 + k zeros, not for JPEG's
//                  sixteen)
// A run longer than 30 zeros is cut into 0xFF symbols while more than 30 remain.
// Value bits are those of JPEG's magnitude categories: a value v of size(v) bits is stored as v
// itself when positive and as v + 2^size - 1 when negative, most significant bit first.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>

namespace reel {

inline constexpr uint32_t kAcPositions = 63;  // zig-zag positions 1 ... 63 of a block
inline constexpr uint32_t kLargestMagnitudeSize = 15;

inline constexpr uint8_t kEndOfBlockSymbol = 0x00;
inline constexpr uint8_t kFirstZeroRunSymbol = 0xF0;  // 15 zeros
inline constexpr uint8_t kLastZeroRunSymbol = 0xFF;   // 30 zeros
inline constexpr uint32_t kShortestZeroRun = 15;
inline constexpr uint32_t kLongestZeroRun = 30;
inline constexpr uint32_t kLongestRunBeforeValue = 14;

// The magnitude category of v: the smallest size with |v| <= 2^size - 1, which is the bit width
// of |v|, at most 15 (any |v| of 16,384 or more gets 15).
constexpr uint32_t MagnitudeSize(int32_t v) {
  const auto magnitude = static_cast<uint32_t>(std::llabs(static_cast<int64_t>(v)));
  return std::min<uint32_t>(kLargestMagnitudeSize, static_cast<uint32_t>(std::bit_width(magnitude)));
}

// The value bits of v in MagnitudeSize(v) bits: v itself for v > 0, v + 2^size - 1 for v < 0.
constexpr uint16_t MagnitudeBits(int32_t v) {
  const uint32_t mask = (1u << MagnitudeSize(v)) - 1;
  const auto raw = static_cast<uint32_t>(v);
  const uint32_t bits = v < 0 ? (raw & mask) - 1 : raw;
  return static_cast<uint16_t>(bits & mask);
}

// The value that `size` value bits stand for: bits below 2^(size - 1) are the negative value
// bits - 2^size + 1. Size 0 stands for 0.
constexpr int32_t ExtendValue(uint32_t bits, uint32_t size) {
  if (size == 0) return 0;
  const auto value = static_cast<int32_t>(bits);
  if (bits < (1u << (size - 1))) return value - (1 << size) + 1;
  return value;
}

// The AC symbol for a value of `size` bits after `run` zeros (run <= 14).
constexpr uint8_t ValueSymbol(uint32_t run, uint32_t size) { return static_cast<uint8_t>(run * 16 + size); }

constexpr bool IsZeroRunSymbol(uint32_t symbol) { return symbol >= kFirstZeroRunSymbol; }

// Zeros a zero-run symbol stands for (15 ... 30).
constexpr uint32_t ZerosOfRunSymbol(uint32_t symbol) { return (symbol & 15u) + kShortestZeroRun; }

// Zeros before the value of a value symbol (0 ... 14).
constexpr uint32_t RunOfValueSymbol(uint32_t symbol) { return symbol >> 4; }

// Value bits that follow an AC symbol: its low four bits for a value symbol, none for the end of
// block and the zero runs.
constexpr uint32_t AcValueBitCount(uint32_t symbol) { return IsZeroRunSymbol(symbol) ? 0 : symbol & 15u; }

// The symbols for `run` zeros followed by a value of `size` bits: `zeroRun(symbol)` is called for
// each zero-run symbol in order (0xFF while more than 30 zeros remain, then 0xF0 + (rest - 15) for
// a rest of 15 ... 30), and the value symbol, which takes the rest of 0 ... 14, is returned.
template <typename ZeroRun>
constexpr uint8_t RunAndValueSymbols(uint32_t run, uint32_t size, ZeroRun zeroRun) {
  while (run > kLongestZeroRun) {
    zeroRun(kLastZeroRunSymbol);
    run -= kLongestZeroRun;
  }
  if (run > kLongestRunBeforeValue) {
    zeroRun(static_cast<uint8_t>(kFirstZeroRunSymbol + (run - kShortestZeroRun)));
    run = 0;
  }
  return ValueSymbol(run, size);
}

}  // namespace reel
