#include "converter/coder/picture_scaler_plan.h"

#include <algorithm>
#include <numeric>

#include "converter/coder/area_quotient.h"

namespace reel::scaler {

// `taps` never exceeds `inCount` because step <= inCount * 1024, so a window fits once it is moved
// back from the far edge.
AxisPlan PlanAxis(uint32_t outCount, uint32_t inCount) {
  const uint64_t step = uint64_t{inCount} * kOne / outCount;
  AxisPlan plan;
  plan.taps = static_cast<uint32_t>((step + kOne - 1) / kOne);
  plan.start.resize(outCount);
  plan.weights.assign(std::size_t{outCount} * plan.taps, 0);
  plan.totals.assign(outCount, 0);
  for (uint32_t x = 0; x < outCount; ++x) {
    const uint64_t position = x * step;
    const auto first = static_cast<uint32_t>(position / kOne);
    const uint32_t windowStart = std::min(first, inCount - plan.taps);
    plan.start[x] = windowStart;
    uint64_t remaining = step;
    for (uint32_t t = 0; t < plan.taps && remaining > 0; ++t) {
      const uint64_t weight = t == 0 ? std::min(kOne - position % kOne, remaining) : std::min<uint64_t>(kOne, remaining);
      remaining -= weight;
      if (uint64_t{first} + t >= inCount) continue;
      plan.weights[std::size_t{x} * plan.taps + (first - windowStart) + t] = static_cast<uint32_t>(weight);
      plan.totals[x] += static_cast<uint32_t>(weight);
    }
  }
  const uint32_t largest = outCount > 0 ? *std::max_element(plan.totals.begin(), plan.totals.end()) : 0;
  plan.division = largest <= kReciprocalLimit ? Division::Reciprocal
                  : largest <= kCorrectedLimit ? Division::Corrected
                                               : Division::Integer;
  return plan;
}

bool IsHalving(const AxisPlan& plan) {
  if (plan.taps != 2) return false;
  for (std::size_t x = 0; x < plan.start.size(); ++x) {
    if (plan.start[x] != 2 * x || plan.weights[2 * x] != kOne || plan.weights[2 * x + 1] != kOne) return false;
  }
  return true;
}

// A reduced total of 1 (a single weight) is scaled to 127, any other to reduced x
// floor(128 / reduced), which is above 64 and keeps every weight below 128.
std::optional<SmallWeights> ReduceWeights(const uint32_t* taps, uint32_t count, uint32_t total) {
  if (count > 4) return std::nullopt;
  SmallWeights small;
  const uint32_t common = std::accumulate(taps, taps + count, 0u, [](uint32_t a, uint32_t b) { return std::gcd(a, b); });
  if (common == 0) return small;
  const uint32_t reduced = total / common;
  if (reduced > kSmallTotalHigh) return std::nullopt;
  const uint32_t scale = reduced == 1 ? kSmallTotalHigh - 1 : kSmallTotalHigh / reduced;
  for (uint32_t t = 0; t < count; ++t) small.weights[t] = static_cast<int8_t>(taps[t] / common * scale);
  small.magic = SmallQuotientMagic(reduced * scale);
  return small;
}

}  // namespace reel::scaler
