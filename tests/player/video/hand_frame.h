// Small coded frames built by hand for the decoder's tests: the symbols of both streams are listed
// one by one, the counts follow from them (or are given outright to shape the trees), and a tiny
// bit writer lays out the streams as the format does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/symbol_counts.h"

namespace reel::test {

// One symbol of a stream and the value bits that follow it (most significant first).
struct StreamSymbol {
  int32_t symbol = 0;
  uint32_t valueBits = 0;
  uint32_t valueBitCount = 0;
};

// The magnitude category of a value and its value bits, as the coder forms them.
StreamSymbol DcValue(int32_t difference);
StreamSymbol AcValue(uint32_t run, int32_t value);  // run 0 .. 14 zeros before the value
StreamSymbol AcSymbol(int32_t symbol);               // end of block or a skip: no value bits

struct HandFrame {
  uint16_t width = 16;
  uint16_t height = 16;
  bool withTables = true;
  std::array<uint8_t, 64> lumaQuant = Filled(1);
  std::array<uint8_t, 64> chromaQuant = Filled(1);
  std::vector<StreamSymbol> dc;
  std::vector<StreamSymbol> ac;
  std::optional<DcCounts> dcCounts;  // counted from `dc` when not given
  std::optional<AcCounts> acCounts;  // counted from `ac` when not given
  std::optional<uint32_t> dcStreamSizeOverride;

  static std::array<uint8_t, 64> Filled(uint8_t value) {
    std::array<uint8_t, 64> table{};
    table.fill(value);
    return table;
  }
};

std::vector<uint8_t> BuildFrame(const HandFrame& frame);

// Code word of `symbol` in the tree built from `counts`, first bit first ("0" and "1").
std::string CodeWord(const std::vector<int32_t>& counts, int32_t symbol);

// A frame of macroblocks whose blocks hold only DC values (every DC difference listed, then one
// end-of-block symbol per block).
HandFrame DcOnlyFrame(uint16_t width, uint16_t height, const std::vector<int32_t>& dcValues);

// Offsets of the parts of a frame built by BuildFrame (for truncation tests).
struct FrameOffsets {
  std::size_t acCounts = 0;
  std::size_t tables = 0;
  std::size_t dcStream = 0;
  std::size_t acStream = 0;
};
FrameOffsets OffsetsOf(const std::vector<uint8_t>& frame);

}  // namespace reel::test
