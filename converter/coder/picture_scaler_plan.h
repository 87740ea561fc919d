// The fast picture scaler's plan of one axis: for every output position, the window of source
// samples it averages, their weights and the weight total, and the division the lanes use for it.
//
// Each window is `taps` consecutive samples, moved back from the far edge so that it never leaves
// the picture; the samples the average leaves out get weight 0. Two shapes have kernels of their
// own: exact halving, and weights that reduce to a small total (picture_scaler_small_weights.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace reel::scaler {

inline constexpr uint32_t kOne = 1024;  // one source pixel in fixed point
inline constexpr uint32_t kChannels = 3;
inline constexpr std::size_t kLaneBytes = 4;  // an intermediate pixel: blue, green, red, 0
inline constexpr std::size_t kVectorBytes = 16;
inline constexpr uint32_t kMaxWidePairs = 2;  // windows of up to 4 taps get fixed-shape AVX2 lanes

// How the lanes divide a weighted sum by its total: through a float reciprocal exact for totals up
// to kReciprocalLimit, through one with a correction step up to kCorrectedLimit, or in integers
// (area_quotient.h).
enum class Division { Reciprocal, Corrected, Integer };

// How the output positions along one axis take their source samples.
struct AxisPlan {
  uint32_t taps = 0;              // samples per position: ceil(step / 1024)
  std::vector<uint32_t> start;    // first sample of each position's window
  std::vector<uint32_t> weights;  // `taps` weights per position, 0 for samples left out
  std::vector<uint32_t> totals;   // weight total per position, 0 when nothing was collected
  Division division = Division::Reciprocal;
};

// Position x starts at x * step (fixed point); the first sample gets min(1024 - fraction, step),
// each following one min(1024, what is left of step); samples beyond the axis are left out, as is
// the part of a span that reaches into a (taps + 1)-th sample.
AxisPlan PlanAxis(uint32_t outCount, uint32_t inCount);

// Every output position the mean of two whole source samples, 2x and 2x + 1 (weights 1024 and
// 1024 of a total 2048): then floor(sum / total) is floor((a + b) / 2).
bool IsHalving(const AxisPlan& plan);

// A position's weights brought to a total of kSmallTotalLow ... kSmallTotalHigh, each fitting
// a signed byte, with the divisor's 16-bit multiplier (area_quotient.h). floor(sum / total) does
// not change when the weights and their total are scaled alike. Taps past the window's are 0.
struct SmallWeights {
  std::array<int8_t, 4> weights{};
  uint16_t magic = 0;  // 0 for a position that collects no weight: its sums are 0
};

// None when there are more than 4 taps or the weights divided by their greatest common divisor
// total more than kSmallTotalHigh.
std::optional<SmallWeights> ReduceWeights(const uint32_t* taps, uint32_t count, uint32_t total);

}  // namespace reel::scaler
