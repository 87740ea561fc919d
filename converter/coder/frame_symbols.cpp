#include "converter/coder/frame_symbols.h"

#include "common/zigzag.h"

namespace reel {
namespace {

FrameSymbol ValueOf(uint8_t symbol, int32_t value) {
  return {symbol, static_cast<uint8_t>(MagnitudeSize(value)), MagnitudeBits(value)};
}

void AppendRunAndValue(uint32_t run, int32_t value, std::vector<FrameSymbol>& out) {
  const uint8_t symbol =
      RunAndValueSymbols(run, MagnitudeSize(value), [&out](uint8_t zeroRun) { out.push_back({zeroRun, 0, 0}); });
  out.push_back(ValueOf(symbol, value));
}

}  // namespace

FrameSymbol DcSymbol(int32_t difference) {
  return ValueOf(static_cast<uint8_t>(MagnitudeSize(difference)), difference);
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
  if (zeros > 0) out.push_back({kEndOfBlockSymbol, 0, 0});
}

}  // namespace reel
