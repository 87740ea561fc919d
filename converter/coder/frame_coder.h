// CodeCoefficients: codes one frame's coefficient set as a self-contained "JBP1" frame.
//
// The frame carries its own two code trees (as symbol counts), its own quantisation tables and
// two bit streams, DC and AC, so a reader needs nothing from earlier frames. The coder works on
// the quantised values: every dequantised coefficient is divided back by its table entry.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/coefficient_set.h"
#include "converter/coder/bit_writer.h"
#include "converter/coder/default_init_allocator.h"

namespace reel {

// Working limits of the format: a frame has at most 5,000 macroblocks, and its streams must fit
// the coder's buffers (DC: width x height bytes, AC: three times that).
inline constexpr uint32_t kMaxFrameMacroblocks = 5000;

// The coded frame, or none when the set is beyond the format's limits: more than 5,000
// macroblocks, fewer blocks than the picture needs, a size of 0 or above 65,535, a quantisation
// table entry of 0, or streams too long for the coder's buffers. `quality` is only stored.
std::optional<std::vector<uint8_t>> CodeCoefficients(const CoefficientSet& coefficients, int32_t quality);

// The same coder for a stream of frames: byte for byte CodeCoefficients' result, with its working
// buffers kept from one frame to the next. Blocks are scanned for their non-zero coefficients
// through a bit mask rather than coefficient by coefficient, code words are made in one pass down
// each tree, and when every code word of the frame fits a 32-bit write together with its value
// bits (all but degenerate trees), the streams go through the bit writer's fast path, without a
// branch per symbol. CodeCoefficients stays as the reference it is tested against. One coder
// serves one thread.
class FrameCoder {
 public:
  std::optional<std::vector<uint8_t>> Code(const CoefficientSet& coefficients, int32_t quality);
  // The same frame from the still quantised values, without dividing anything back: CodeCoefficients'
  // bytes for the set whose values are these times their table entries.
  std::optional<std::vector<uint8_t>> Code(const QuantisedSet& coefficients, int32_t quality);

  // A symbol as the streams need it: the symbol, its count of value bits and the value bits in
  // writing order (first bit lowest).
  struct PackedSymbol {
    uint8_t symbol;
    uint8_t bitCount;
    uint16_t bitsLsbFirst;
  };

 private:
  template <typename Set>
  std::optional<std::vector<uint8_t>> CodeSet(const Set& coefficients, int32_t quality);

  // Room for the worst case, grown without clearing: every symbol is written before it is read.
  using SymbolRoom = std::vector<PackedSymbol, DefaultInitAllocator<PackedSymbol>>;
  SymbolRoom dc_;
  SymbolRoom ac_;
  BitWriter dcStream_;
  BitWriter acStream_;
};

}  // namespace reel
