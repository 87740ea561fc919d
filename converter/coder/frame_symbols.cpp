#include "converter/coder/frame_symbols.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "common/zigzag.h"

namespace reel {
namespace {

constexpr uint32_t kLargestSize = 15;
constexpr uint8_t kEndOfBlock = 0x00;
constexpr uint8_t kThirtyZeros = 0xFF;
constexpr uint8_t kFifteenZeros = 0xF0;
constexpr uint32_t kLongestShortRun = 14;
constexpr uint32_t kLongestRunSymbol = 30;

FrameSymbol ValueSymbol(uint32_t run, int32_t value) {
  const uint32_t size = MagnitudeSize(value);
  return {static_cast<uint8_t>(run * 16 + size), static_cast<uint8_t>(size), MagnitudeBits(value)};
}

void AppendRunAndValue(uint32_t run, int32_t value, std::vector<FrameSymbol>& out) {
  while (run > kLongestRunSymbol) {
    out.push_back({kThirtyZeros, 0, 0});
    run -= kLongestRunSymbol;
  }
  if (run > kLongestShortRun) {
    out.push_back({static_cast<uint8_t>(kFifteenZeros + (run - 15)), 0, 0});
    run = 0;
  }
  out.push_back(ValueSymbol(run, value));
}

}  // namespace

// The smallest size with |v| <= 2^size - 1, which is the bit width of |v|, capped at 15.
uint32_t MagnitudeSize(int32_t v) {
  const auto magnitude = static_cast<uint32_t>(std::llabs(static_cast<int64_t>(v)));
  return std::min<uint32_t>(kLargestSize, static_cast<uint32_t>(std::bit_width(magnitude)));
}

uint16_t MagnitudeBits(int32_t v) {
  const uint32_t size = MagnitudeSize(v);
  const uint32_t mask = (1u << size) - 1;
  const uint32_t raw = static_cast<uint32_t>(v);
  const uint32_t bits = v < 0 ? (raw & mask) - 1 : raw;
  return static_cast<uint16_t>(bits & mask);
}

FrameSymbol DcSymbol(int32_t difference) {
  return ValueSymbol(0, difference);
}

void AppendAcSymbols(const std::array<int32_t, 64>& quantised, std::vector<FrameSymbol>& out) {
  uint32_t zeros = 0;
  for (std::size_t i = 1; i < 64; ++i) {
    const int32_t v = quantised[kZigZag[i]];
    if (v == 0) {
      ++zeros;
      continue;
    }
    AppendRunAndValue(zeros, v, out);
    zeros = 0;
  }
  if (zeros > 0) out.push_back({kEndOfBlock, 0, 0});
}

}  // namespace reel
