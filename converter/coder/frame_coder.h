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

namespace reel {

// Working limits of the format: a frame has at most 5,000 macroblocks, and its streams must fit
// the coder's buffers (DC: width x height bytes, AC: three times that).
inline constexpr uint32_t kMaxFrameMacroblocks = 5000;

// The coded frame, or none when the set is beyond the format's limits: more than 5,000
// macroblocks, fewer blocks than the picture needs, a size of 0 or above 65,535, a quantisation
// table entry of 0, or streams too long for the coder's buffers. `quality` is only stored.
std::optional<std::vector<uint8_t>> CodeCoefficients(const CoefficientSet& coefficients, int32_t quality);

}  // namespace reel
