// The fast picture scaler's kernels for small weights, where the processor has AVX2: when every
// position's weights, divided by their greatest common divisor, total at most kSmallTotalHigh
// (steps with a short period such as 1.5 or 2.25 source pixels), they are scaled alike to a total
// of kSmallTotalLow ... kSmallTotalHigh, so that they fit signed bytes, byte weights multiply the
// pixel bytes directly into 16-bit sums, and the division is a 16-bit multiply (area_quotient.h).
// Windows have at most 2 x kMaxWidePairs taps.
#pragma once

#if defined(__SSE2__)
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "converter/coder/picture_scaler_lanes.h"
#include "converter/coder/picture_scaler_plan.h"

namespace reel::scaler {

// The horizontal pass with small weights for one axis plan.
class SmallWeightRow {
 public:
  // None when some position's weights do not reduce to a small total. `offsets` gives each output
  // pixel's window start in a source row, in bytes; `bytesPerPixel` is 3 or 4.
  static std::optional<SmallWeightRow> Arrange(const AxisPlan& plan, uint32_t bytesPerPixel,
                                               std::span<const uint32_t> offsets);

  // One source row (`source` reaches to the end of the picture) to every 4-byte pixel of the
  // intermediate row at `out`: eight at a time while their windows' 16-byte reads stay inside, the
  // rest one by one with the same arithmetic.
  void Scale(std::span<const uint8_t> source, uint8_t* out) const;

 private:
  // Each group of eight output pixels has its weights and divisors laid out as the wide kernels
  // read them: vector v, half h, slot s holds pixel 8g + 2v + 4h + s.
  struct SmallGroup {
    std::array<int8_t, 2 * 32 * kMaxWidePairs> weights{};  // per vector, per pair of taps: 32 bytes
    std::array<uint16_t, 2 * 16> magic{};                 // per vector: 16 lanes
    std::array<int8_t, 2 * 32 * kMaxWidePairs> select{};   // shuffles laid out as the weights
  };

  SmallWeightRow(const AxisPlan& plan, uint32_t bytesPerPixel, std::span<const uint32_t> offsets);
  bool ArrangeGroups(const AxisPlan& plan);
  void LayOutGroup(std::size_t g);
  std::size_t ScaleWide(std::span<const uint8_t> source, uint8_t* out) const;
  template <uint32_t kBytes>
  REEL_AVX2 std::size_t ScaleWideFor(std::span<const uint8_t> source, uint8_t* out) const;
  template <uint32_t kPairs, bool kSameGroups>
  REEL_AVX2 std::size_t ScalePackedFor(std::span<const uint8_t> source, uint8_t* out) const;
  template <uint32_t kBytes>
  REEL_AVX2 __m256i Quotients(const uint8_t* row, std::size_t x, const int8_t* weights, const uint16_t* magic) const;
  void ScaleOne(const uint8_t* row, std::size_t x, uint8_t* out) const;

  uint32_t taps_;
  uint32_t bytes_;
  uint32_t pairs_;
  std::vector<uint32_t> offsets_;
  bool packedReads_ = true;  // each pair of output pixels' windows lies within 16 bytes
  bool sameGroups_ = false;  // every group of eight is laid out as the first
  std::vector<SmallGroup> groups_;
  std::vector<std::array<int8_t, 4>> weights_;  // per output pixel
  std::vector<uint16_t> magic_;
};

// The vertical pass for an output row whose window's weights reduce to `small` (ReduceWeights):
// the window's 4-byte pixel rows (an odd last row paired with itself at weight 0) to `width`
// 3-byte pixels of `target`, every one of them.
void SumRowsSmall(std::span<const uint8_t* const> window, const SmallWeights& small, std::span<uint8_t> target,
                  uint32_t width);

}  // namespace reel::scaler

#endif  // __SSE2__
