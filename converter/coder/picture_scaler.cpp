// ScalePicture, the fast scaler. It computes exactly what ScalePictureReference computes, and
// the tests hold the two to the same bytes.
//
// Each axis is planned once per call: every output position gets a window of `taps` consecutive
// source samples (moved back from the far edge so it never leaves the picture, with weight 0 for
// the samples the average leaves out) and its weight total. The passes then run four channels at
// a time in SSE2 lanes: source bytes are paired up as 16-bit values and multiplied by the pair's
// weights with one multiply-add into 32-bit sums (a sum never exceeds 255 x the step, at most
// 255 x 16384 x 1024, below 2^32), and the truncating division by the weight total goes through
// a float reciprocal that is exact for the totals it is used on (area_quotient.h). Totals of 2^16
// and more (steps of 64 source pixels or more) divide in integers instead.
//
// Intermediate pixels are 4 bytes (blue, green, red, 0) so that the lanes line up; the vertical
// pass reads them from a ring of `taps` rows filled as the output rows advance, so the
// intermediate picture is never held whole, and drops the fourth byte as it stores a row.
//
// Where the processor has AVX2, the busiest loops run eight lanes wide with the same arithmetic,
// and two common shapes get passes of their own, chosen per axis (and per output row):
// - exact halving (every output sample the mean of source samples 2x and 2x + 1): the quotient
//   is floor((a + b) / 2), averaged bytewise with no multiplies at all;
// - weights that divided by their greatest common divisor total at most 128 (steps with a short
//   period such as 1.5 or 2.25 source pixels): scaled alike to a total of 65 ... 128, they fit
//   signed bytes, the sums fit 16-bit lanes, and the division is a 16-bit multiply.
// Without SSE2 the scaler is the reference one.
#include "converter/coder/picture_scaler.h"

#include "converter/coder/picture_scaler_reference.h"

#if defined(__SSE2__)
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <span>
#include <vector>

#include "converter/coder/area_quotient.h"
#endif

namespace reel {

#if defined(__SSE2__)
namespace {

constexpr uint32_t kOne = 1024;  // one source pixel in fixed point
constexpr uint32_t kChannels = 3;
constexpr std::size_t kLaneBytes = 4;    // an intermediate pixel: blue, green, red, 0
constexpr std::size_t kVectorBytes = 16;
constexpr uint32_t kMaxWidePairs = 2;  // windows of up to 4 taps get fixed-shape AVX2 lanes

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
// the part of a span that reaches into a (taps + 1)-th sample. `taps` never exceeds `inCount`
// because step <= inCount * 1024, so a window fits once it is moved back from the far edge.
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

// Every output position the mean of two whole source samples, 2x and 2x + 1 (weights 1024 and
// 1024 of a total 2048): then floor(sum / total) is floor((a + b) / 2).
bool IsHalving(const AxisPlan& plan) {
  if (plan.taps != 2) return false;
  for (std::size_t x = 0; x < plan.start.size(); ++x) {
    if (plan.start[x] != 2 * x || plan.weights[2 * x] != kOne || plan.weights[2 * x + 1] != kOne) return false;
  }
  return true;
}

// A position's weights brought to a total of kSmallTotalLow ... kSmallTotalHigh, each fitting
// a signed byte, with the divisor's 16-bit multiplier (area_quotient.h). floor(sum / total) does
// not change when the weights and their total are scaled alike. Taps past the window's are 0.
struct SmallWeights {
  std::array<int8_t, 4> weights{};
  uint16_t magic = 0;  // 0 for a position that collects no weight: its sums are 0
};

// None when there are more than 4 taps or the weights divided by their greatest common divisor
// total more than kSmallTotalHigh. A reduced total of 1 (a single weight) is scaled to 127, any
// other to reduced x floor(128 / reduced), which is above 64 and keeps every weight below 128.
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

// A weight total in lanes. A total of 0 becomes 1: its sums are all 0, so the quotient stays 0.
struct Divisor {
  __m128 reciprocal;
  __m128 total;
};

Divisor MakeDivisor(uint32_t weightTotal, Division division) {
  const uint32_t total = std::max(weightTotal, 1u);
  const float reciprocal = division == Division::Reciprocal ? ReciprocalAbove(total) : 1.0f / static_cast<float>(total);
  return {_mm_set1_ps(reciprocal), _mm_set1_ps(static_cast<float>(total))};
}

// floor(sums / total) in each lane, for the divisions the float lanes handle exactly.
template <Division kDivision>
__m128i Quotients(__m128i sums, const Divisor& divisor) {
  static_assert(kDivision != Division::Integer);
  const __m128 sum = _mm_cvtepi32_ps(sums);
  __m128i quotient = _mm_cvttps_epi32(_mm_mul_ps(sum, divisor.reciprocal));
  if constexpr (kDivision == Division::Corrected) {
    // The estimate is within one of the quotient; the remainder's sign and size say which way.
    const __m128 rest = _mm_sub_ps(sum, _mm_mul_ps(_mm_cvtepi32_ps(quotient), divisor.total));
    quotient = _mm_sub_epi32(quotient, _mm_castps_si128(_mm_cmpge_ps(rest, divisor.total)));
    quotient = _mm_add_epi32(quotient, _mm_castps_si128(_mm_cmplt_ps(rest, _mm_setzero_ps())));
  }
  return quotient;
}

// Four vectors of quotients (0 ... 255) as 16 bytes.
__m128i PackBytes(__m128i q0, __m128i q1, __m128i q2, __m128i q3) {
  return _mm_packus_epi16(_mm_packs_epi32(q0, q1), _mm_packs_epi32(q2, q3));
}

void StoreBytes(uint8_t* out, __m128i q0, __m128i q1, __m128i q2, __m128i q3) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), PackBytes(q0, q1, q2, q3));
}

// Four 4-byte pixels (blue, green, red, 0) as 12 bytes at `out`, writing 14: each 8-byte half
// drops its pixels' fourth bytes and ends in two 0 bytes, which the next pixels overwrite.
void StoreFourPixels(uint8_t* out, __m128i pixels) {
  const __m128i first = _mm_and_si128(pixels, _mm_set1_epi64x(0xFFFFFF));
  const __m128i second = _mm_and_si128(_mm_srli_epi64(pixels, 8), _mm_set1_epi64x(0xFFFFFF000000));
  const __m128i packed = _mm_or_si128(first, second);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_unpackhi_epi64(packed, packed));
}

__m128i LoadPixel(const uint8_t* pixel) {
  int32_t value = 0;
  std::memcpy(&value, pixel, sizeof value);
  return _mm_cvtsi32_si128(value);
}

// Eight 16-bit weights in the order a multiply-add pairs them with its values.
using WeightLanes = std::array<int16_t, 8>;

WeightLanes PairedWeights(uint32_t first, uint32_t second, int pixelsWeighted) {
  WeightLanes lanes{};
  for (int k = 0; k < pixelsWeighted; ++k) {
    lanes[static_cast<std::size_t>(2 * k)] = static_cast<int16_t>(first);
    lanes[static_cast<std::size_t>(2 * k + 1)] = static_cast<int16_t>(second);
  }
  return lanes;
}

__m128i Load(const WeightLanes& lanes) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes.data())); }

// The AVX2 lanes: the same arithmetic on two 128-bit halves at once. Every operation used works
// within each half, so each half computes exactly what one SSE2 vector does.
#define REEL_AVX2 __attribute__((target("avx2")))

template <Division kDivision>
REEL_AVX2 __m256i WideQuotients(__m256i sums, __m256 reciprocal, __m256 total) {
  const __m256 sum = _mm256_cvtepi32_ps(sums);
  __m256i quotient = _mm256_cvttps_epi32(_mm256_mul_ps(sum, reciprocal));
  if constexpr (kDivision == Division::Corrected) {
    const __m256 rest = _mm256_sub_ps(sum, _mm256_mul_ps(_mm256_cvtepi32_ps(quotient), total));
    quotient = _mm256_sub_epi32(quotient, _mm256_castps_si256(_mm256_cmp_ps(rest, total, _CMP_GE_OQ)));
    quotient = _mm256_add_epi32(quotient, _mm256_castps_si256(_mm256_cmp_ps(rest, _mm256_setzero_ps(), _CMP_LT_OQ)));
  }
  return quotient;
}

REEL_AVX2 __m256i WidePackBytes(__m256i q0, __m256i q1, __m256i q2, __m256i q3) {
  return _mm256_packus_epi16(_mm256_packs_epi32(q0, q1), _mm256_packs_epi32(q2, q3));
}

// The horizontal pass: one source row to one intermediate row of 4-byte pixels.
class RowScaler {
 public:
  RowScaler(const AxisPlan& plan, uint32_t bytesPerPixel, std::size_t sourceStride, bool wide)
      : plan_(plan), bytes_(bytesPerPixel), pairs_((plan.taps + 1) / 2), wide_(wide) {
    const std::size_t width = plan.start.size();
    offsets_.resize(width);
    for (std::size_t x = 0; x < width; ++x) {
      offsets_[x] = plan.start[x] * bytesPerPixel;
      // Lanes read 4 bytes from each of 2 x pairs pixels of the window, which may reach past the
      // row's end into the next row, but not past the picture's last row.
      if (plan.division == Division::Integer) continue;
      // (The AVX2 lanes read the two pixels of a window as 8 bytes: at most this far too.)
      const std::size_t lastByte = (std::size_t{plan.start[x]} + 2 * pairs_) * bytesPerPixel + 4;
      if (lastByte < sourceStride) laneCountLastRow_ = x + 1;
      if (lastByte < 2 * sourceStride) laneCount_ = x + 1;
    }
    halves_ = wide_ && bytesPerPixel == kChannels && IsHalving(plan);
    if (wide_ && !halves_ && pairs_ <= kMaxWidePairs && plan.division == Division::Reciprocal) ArrangeSmallLanes();
    if (halves_ || !smallGroups_.empty()) return;
    ArrangeLanes();
    if (wide_ && pairs_ <= kMaxWidePairs) ArrangeWideLanes();
  }

  // `lastRow`: no bytes of the picture follow the row's. `outBytes`: the intermediate row's size.
  void Scale(std::span<const uint8_t> source, bool lastRow, uint8_t* out, std::size_t outBytes) const {
    if (plan_.taps == 1) return Copy(source, out);
    if (!smallGroups_.empty()) {
      for (std::size_t x = ScaleSmallWide(source, out); x < plan_.start.size(); ++x) ScaleSmallOne(source.data(), x, out);
      return;
    }
    if (halves_) {
      for (std::size_t x = HalveWide(source, out, outBytes); x < plan_.start.size(); ++x) {
        for (uint32_t c = 0; c < kChannels; ++c) {
          out[x * kLaneBytes + c] = static_cast<uint8_t>((source[6 * x + c] + source[6 * x + 3 + c]) >> 1);
        }
      }
      return;
    }
    const std::size_t count = lastRow ? laneCountLastRow_ : laneCount_;
    std::size_t x = 0;
    if (plan_.division == Division::Reciprocal) x = ScaleLanesFor<Division::Reciprocal>(source.data(), count, out);
    if (plan_.division == Division::Corrected) x = ScaleLanesFor<Division::Corrected>(source.data(), count, out);
    for (; x < plan_.start.size(); ++x) ScaleOne(source.data(), x, out);
  }

 private:
  // Enlarging (one tap, never of weight 0): every output pixel copies the source pixel under it.
  void Copy(std::span<const uint8_t> source, uint8_t* out) const {
    for (std::size_t x = 0; x < plan_.start.size(); ++x) {
      std::memcpy(out + x * kLaneBytes, &source[std::size_t{plan_.start[x]} * bytes_], kChannels);
    }
  }

  // The general lanes' weights, paired as a multiply-add takes them, and divisors.
  void ArrangeLanes() {
    const std::size_t width = plan_.start.size();
    pairWeights_.resize(width * pairs_);
    divisors_.reserve(width);
    const Division lanes = plan_.division == Division::Integer ? Division::Corrected : plan_.division;
    for (std::size_t x = 0; x < width; ++x) {
      const uint32_t* weights = &plan_.weights[x * plan_.taps];
      for (uint32_t k = 0; k < pairs_; ++k) {
        const uint32_t second = 2 * k + 1 < plan_.taps ? weights[2 * k + 1] : 0;
        // The fourth lane (the byte after the pixel) gets weight 0.
        pairWeights_[x * pairs_ + k] = PairedWeights(weights[2 * k], second, 3);
      }
      divisors_.push_back(MakeDivisor(plan_.totals[x], lanes));
    }
  }

  // Halving: each output pixel is floor((a + b) / 2) of two neighbouring source pixels, computed
  // bytewise as (a & b) + ((a ^ b) >> 1). Each half of the vector averages 16 source bytes with
  // the 16 that start one pixel later and keeps pixels 0, 2 and 4 of the result: six output
  // pixels per step, stored as 4-byte pixels with a 0 fourth byte (the last 4 bytes of each 16
  // written are 0 too, and the next store or the row's padding takes them). Returns where it
  // stopped.
  REEL_AVX2 std::size_t HalveWide(std::span<const uint8_t> source, uint8_t* out, std::size_t outBytes) const {
    const __m256i pick = _mm256_setr_epi8(0, 1, 2, -128, 6, 7, 8, -128, 12, 13, 14, -128, -128, -128, -128, -128,  //
                                          0, 1, 2, -128, 6, 7, 8, -128, 12, 13, 14, -128, -128, -128, -128, -128);
    const __m256i low7 = _mm256_set1_epi8(0x7F);
    const std::size_t width = plan_.start.size();
    const uint8_t* row = source.data();
    std::size_t x = 0;
    for (; x + 6 <= width && 6 * x + 37 <= source.size() && 4 * x + 28 <= outBytes; x += 6) {
      const uint8_t* pixel = row + 6 * x;
      const __m256i a = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(pixel + 18), reinterpret_cast<const __m128i*>(pixel));
      const __m256i b =
          _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(pixel + 21), reinterpret_cast<const __m128i*>(pixel + 3));
      const __m256i half = _mm256_and_si256(_mm256_srli_epi16(_mm256_xor_si256(a, b), 1), low7);
      const __m256i pixels = _mm256_shuffle_epi8(_mm256_add_epi8(_mm256_and_si256(a, b), half), pick);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm256_castsi256_si128(pixels));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 12), _mm256_extracti128_si256(pixels, 1));
    }
    return x;
  }

  // Small weights: when every position's weights, divided by their greatest common divisor,
  // total at most kSmallTotalHigh (steps with a short period such as 1.5 or 2.25 source pixels),
  // they are scaled to a total of kSmallTotalLow ... kSmallTotalHigh, so that sums fit 16-bit
  // lanes, byte weights multiply the pixel bytes directly and the division is a 16-bit multiply
  // (area_quotient.h). Each group of eight output pixels gets its weights and divisors laid out
  // as ScaleSmallWide reads them: vector v, half h, slot s holds pixel 8g + 2v + 4h + s.
  void ArrangeSmallLanes() {
    const std::size_t width = plan_.start.size();
    std::vector<std::array<int8_t, 4>> weights(width);
    std::vector<uint16_t> magic(width, 0);
    const uint32_t taps = plan_.taps;
    for (std::size_t x = 0; x < width; ++x) {
      const uint32_t* own = &plan_.weights[x * taps];
      // Short periods repeat their weights: reuse those of a position up to four back.
      std::size_t same = 1;
      while (same <= std::min<std::size_t>(4, x) &&
             !(plan_.totals[x - same] == plan_.totals[x] && std::equal(own, own + taps, own - same * taps))) {
        ++same;
      }
      if (same <= std::min<std::size_t>(4, x)) {
        weights[x] = weights[x - same];
        magic[x] = magic[x - same];
        continue;
      }
      const std::optional<SmallWeights> small = ReduceWeights(own, taps, plan_.totals[x]);
      if (!small) return;
      weights[x] = small->weights;
      magic[x] = small->magic;
    }
    smallWeights_ = weights;
    smallMagic_ = magic;
    smallGroups_.resize(width / 8);
    packedReads_ = true;
    for (std::size_t g = 0; g < smallGroups_.size(); ++g) {
      SmallGroup& group = smallGroups_[g];
      for (std::size_t v = 0; v < 2; ++v) {
        for (std::size_t h = 0; h < 2; ++h) {
          const std::size_t pairStart = 8 * g + 2 * v + 4 * h;
          for (std::size_t slot = 0; slot < 2; ++slot) {
            const std::size_t x = pairStart + slot;
            // Where each tap's bytes sit in one 16-byte read from the pair's first window.
            const std::size_t from = offsets_[x] - offsets_[pairStart];
            for (std::size_t c = 0; c < 4; ++c) {
              for (std::size_t k = 0; k < kMaxWidePairs; ++k) {
                for (std::size_t j = 0; j < 2; ++j) {
                  const std::size_t tap = 2 * k + j;
                  const std::size_t byte = from + tap * bytes_ + c;
                  const bool used = c < kChannels && tap < plan_.taps;
                  if (used && byte >= kVectorBytes) packedReads_ = false;
                  group.select[64 * v + 32 * k + 16 * h + 8 * slot + 2 * c + j] = used ? static_cast<int8_t>(byte & 15) : int8_t{-128};
                }
              }
            }
            for (std::size_t c = 0; c < kChannels; ++c) {
              group.magic[16 * v + 8 * h + 4 * slot + c] = magic[x];
              for (std::size_t k = 0; k < kMaxWidePairs; ++k) {
                for (std::size_t j = 0; j < 2; ++j) {
                  group.weights[64 * v + 32 * k + 16 * h + 8 * slot + 2 * c + j] = weights[x][2 * k + j];
                }
              }
            }
          }
        }
      }
    }
  }

  // Pixels x, x + 1 (low half) and x + 4, x + 5 (high half) as 16-bit quotients, 4 lanes each.
  template <uint32_t kBytes>
  REEL_AVX2 __m256i SmallQuotients(const uint8_t* row, std::size_t x, const int8_t* weights, const uint16_t* magic) const {
    const __m256i pairing = kBytes == 3 ? _mm256_setr_epi8(0, 3, 1, 4, 2, 5, 6, 7, 8, 11, 9, 12, 10, 13, 14, 15,  //
                                                           0, 3, 1, 4, 2, 5, 6, 7, 8, 11, 9, 12, 10, 13, 14, 15)
                                        : _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,  //
                                                           0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m256i first = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + offsets_[x + 4]),
                                              reinterpret_cast<const __m128i*>(row + offsets_[x]));
    const __m256i second = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + offsets_[x + 5]),
                                               reinterpret_cast<const __m128i*>(row + offsets_[x + 1]));
    const __m256i taps01 = _mm256_shuffle_epi8(_mm256_unpacklo_epi64(first, second), pairing);
    __m256i sums = _mm256_maddubs_epi16(taps01, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights)));
    if (pairs_ == 2) {
      const __m256i taps23 = _mm256_shuffle_epi8(
          _mm256_unpacklo_epi64(_mm256_srli_si256(first, 2 * kBytes), _mm256_srli_si256(second, 2 * kBytes)), pairing);
      sums = _mm256_add_epi16(
          sums, _mm256_maddubs_epi16(taps23, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + 32))));
    }
    const __m256i quotients = _mm256_mulhi_epu16(sums, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(magic)));
    return _mm256_srli_epi16(quotients, kSmallQuotientShift);
  }

  static REEL_AVX2 __m256i LoadLanes(const int8_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }

  // The same with one 16-byte read per pair of output pixels and the shuffles of the group;
  // `offsets` points at pixel x's.
  template <uint32_t kPairs>
  static REEL_AVX2 __m256i SmallQuotientsPacked(const uint8_t* row, const uint32_t* offsets, const int8_t* weights,
                                                const int8_t* select, const uint16_t* magic) {
    const __m256i bytes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + offsets[4]),
                                              reinterpret_cast<const __m128i*>(row + offsets[0]));
    __m256i sums = _mm256_maddubs_epi16(_mm256_shuffle_epi8(bytes, LoadLanes(select)), LoadLanes(weights));
    if constexpr (kPairs == 2) {
      sums = _mm256_add_epi16(sums, _mm256_maddubs_epi16(_mm256_shuffle_epi8(bytes, LoadLanes(select + 32)), LoadLanes(weights + 32)));
    }
    const __m256i quotients = _mm256_mulhi_epu16(sums, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(magic)));
    return _mm256_srli_epi16(quotients, kSmallQuotientShift);
  }

  // Eight output pixels at a time with packed reads, while they stay in the picture.
  template <uint32_t kPairs>
  REEL_AVX2 std::size_t ScalePackedFor(std::span<const uint8_t> source, uint8_t* out) const {
    const std::size_t width = plan_.start.size();
    const uint32_t* offsets = offsets_.data();
    const SmallGroup* groups = smallGroups_.data();
    const uint8_t* row = source.data();
    std::size_t x = 0;
    for (; x + 8 <= width && offsets[x + 7] + 16 <= source.size(); x += 8) {
      const SmallGroup& group = groups[x / 8];
      const __m256i low = SmallQuotientsPacked<kPairs>(row, offsets + x, &group.weights[0], &group.select[0], &group.magic[0]);
      const __m256i high =
          SmallQuotientsPacked<kPairs>(row, offsets + x + 2, &group.weights[64], &group.select[64], &group.magic[16]);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), _mm256_packus_epi16(low, high));
    }
    return x;
  }

  // Eight output pixels at a time while their windows' 16-byte reads stay in the picture.
  template <uint32_t kBytes>
  REEL_AVX2 std::size_t ScaleSmallWideFor(std::span<const uint8_t> source, uint8_t* out) const {
    std::size_t x = 0;
    for (; x + 8 <= plan_.start.size() && offsets_[x + 7] + 16 <= source.size(); x += 8) {
      const SmallGroup& group = smallGroups_[x / 8];
      const __m256i low = SmallQuotients<kBytes>(source.data(), x, &group.weights[0], &group.magic[0]);
      const __m256i high = SmallQuotients<kBytes>(source.data(), x + 2, &group.weights[64], &group.magic[16]);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), _mm256_packus_epi16(low, high));
    }
    return x;
  }

  std::size_t ScaleSmallWide(std::span<const uint8_t> source, uint8_t* out) const {
    if (packedReads_) return pairs_ == 1 ? ScalePackedFor<1>(source, out) : ScalePackedFor<2>(source, out);
    return bytes_ == 3 ? ScaleSmallWideFor<3>(source, out) : ScaleSmallWideFor<4>(source, out);
  }

  // One output pixel with the same scaled weights and divisor.
  void ScaleSmallOne(const uint8_t* row, std::size_t x, uint8_t* out) const {
    const uint8_t* pixel = row + offsets_[x];
    for (uint32_t c = 0; c < kChannels; ++c) {
      uint32_t sum = 0;
      for (uint32_t t = 0; t < plan_.taps; ++t) sum += static_cast<uint32_t>(smallWeights_[x][t]) * pixel[t * bytes_ + c];
      out[x * kLaneBytes + c] = static_cast<uint8_t>(QuotientBySmallMagic(sum, smallMagic_[x]));
    }
  }

  // `kPairs` 0: as many as the plan has.
  template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
  __m128i PixelQuotients(const uint8_t* row, std::size_t x) const {
    const __m128i zero = _mm_setzero_si128();
    const uint32_t pairs = kPairs != 0 ? kPairs : pairs_;
    const uint8_t* pixel = row + offsets_[x];
    const WeightLanes* weights = &pairWeights_[x * pairs];
    __m128i sums = zero;
    for (uint32_t k = 0; k < pairs; ++k, pixel += 2 * kBytes) {
      const __m128i paired = _mm_unpacklo_epi8(LoadPixel(pixel), LoadPixel(pixel + kBytes));
      sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_unpacklo_epi8(paired, zero), Load(weights[k])));
    }
    return Quotients<kDivision>(sums, divisors_[x]);
  }

  // Four output pixels at a time for the first `count`; returns where it stopped.
  template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
  std::size_t ScaleLanes(const uint8_t* row, std::size_t count, uint8_t* out) const {
    std::size_t x = 0;
    if constexpr (kPairs != 0) {
      if (wide_) x = ScaleWideLanes<kDivision, kBytes, kPairs>(row, count, out);
    }
    for (; x + 4 <= count; x += 4) {
      StoreBytes(out + x * kLaneBytes, PixelQuotients<kDivision, kBytes, kPairs>(row, x),
                 PixelQuotients<kDivision, kBytes, kPairs>(row, x + 1), PixelQuotients<kDivision, kBytes, kPairs>(row, x + 2),
                 PixelQuotients<kDivision, kBytes, kPairs>(row, x + 3));
    }
    return x;
  }

  // The weights and divisors of output pixels x + j and x + j + 4 (x a multiple of 8, j < 4)
  // side by side, as WidePixelQuotients takes them.
  void ArrangeWideLanes() {
    const std::size_t groups = plan_.start.size() / 8;
    wideLanes_.resize(groups * 4);
    for (std::size_t g = 0; g < groups; ++g) {
      for (std::size_t j = 0; j < 4; ++j) {
        WideLanes& lanes = wideLanes_[g * 4 + j];
        for (std::size_t half = 0; half < 2; ++half) {
          const std::size_t x = g * 8 + j + 4 * half;
          for (std::size_t k = 0; k < pairs_; ++k) {
            const WeightLanes& pair = pairWeights_[x * pairs_ + k];
            std::copy(pair.begin(), pair.end(), lanes.weights.begin() + static_cast<std::ptrdiff_t>(16 * k + 8 * half));
          }
          _mm_storeu_ps(&lanes.reciprocal[4 * half], divisors_[x].reciprocal);
          _mm_storeu_ps(&lanes.total[4 * half], divisors_[x].total);
        }
      }
    }
  }

  // Output pixels x + j (low half) and x + j + 4 (high half) of windows of up to 2 x kPairs
  // taps, each pair of the window's pixels read as 8 bytes and paired channel by channel with one
  // byte shuffle.
  template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
  REEL_AVX2 __m256i WidePixelQuotients(const uint8_t* row, std::size_t x, std::size_t j) const {
    static_assert(kBytes == 3 || kBytes == 4);
    // Bytes of the window's first pixel interleaved with its second's; the fourth pair is unused.
    const __m128i pairing = kBytes == 3 ? _mm_setr_epi8(0, 3, 1, 4, 2, 5, 6, 7, 8, 11, 9, 12, 10, 13, 14, 15)
                                        : _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const uint8_t* low = row + offsets_[x + j];
    const uint8_t* high = row + offsets_[x + j + 4];
    const WideLanes& lanes = wideLanes_[x / 2 + j];
    __m256i sums = _mm256_setzero_si256();
    for (uint32_t k = 0; k < kPairs; ++k, low += 2 * kBytes, high += 2 * kBytes) {
      const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(low)),
                                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(high)));
      const __m256i values = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(both, pairing));
      const __m256i weights = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&lanes.weights[16 * k]));
      sums = _mm256_add_epi32(sums, _mm256_madd_epi16(values, weights));
    }
    return WideQuotients<kDivision>(sums, _mm256_loadu_ps(lanes.reciprocal.data()), _mm256_loadu_ps(lanes.total.data()));
  }

  // Eight output pixels at a time: the packed bytes of pixels x ... x + 3 land in the low half
  // and those of x + 4 ... x + 7 in the high half, which is their order in memory.
  template <Division kDivision, uint32_t kBytes, uint32_t kPairs>
  REEL_AVX2 std::size_t ScaleWideLanes(const uint8_t* row, std::size_t count, uint8_t* out) const {
    std::size_t x = 0;
    for (; x + 8 <= count; x += 8) {
      const __m256i bytes = WidePackBytes(WidePixelQuotients<kDivision, kBytes, kPairs>(row, x, 0),
                                          WidePixelQuotients<kDivision, kBytes, kPairs>(row, x, 1),
                                          WidePixelQuotients<kDivision, kBytes, kPairs>(row, x, 2),
                                          WidePixelQuotients<kDivision, kBytes, kPairs>(row, x, 3));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), bytes);
    }
    return x;
  }

  template <Division kDivision>
  std::size_t ScaleLanesFor(const uint8_t* row, std::size_t count, uint8_t* out) const {
    // Windows of up to four taps (steps up to 4 source pixels) have shapes of their own.
    if (bytes_ == 3) {
      if (pairs_ == 1) return ScaleLanes<kDivision, 3, 1>(row, count, out);
      if (pairs_ == 2) return ScaleLanes<kDivision, 3, 2>(row, count, out);
      return ScaleLanes<kDivision, 3, 0>(row, count, out);
    }
    if (pairs_ == 1) return ScaleLanes<kDivision, 4, 1>(row, count, out);
    if (pairs_ == 2) return ScaleLanes<kDivision, 4, 2>(row, count, out);
    return ScaleLanes<kDivision, 4, 0>(row, count, out);
  }

  // One output pixel in plain integers: the row's end, and totals too large for the lanes.
  void ScaleOne(const uint8_t* row, std::size_t x, uint8_t* out) const {
    const uint8_t* pixel = row + std::size_t{plan_.start[x]} * bytes_;
    const uint32_t* weights = &plan_.weights[x * plan_.taps];
    std::array<uint32_t, kChannels> sums{};
    for (uint32_t t = 0; t < plan_.taps; ++t, pixel += bytes_) {
      for (uint32_t c = 0; c < kChannels; ++c) sums[c] += weights[t] * pixel[c];
    }
    const uint32_t total = std::max(plan_.totals[x], 1u);
    for (uint32_t c = 0; c < kChannels; ++c) out[x * kLaneBytes + c] = static_cast<uint8_t>(sums[c] / total);
  }

  const AxisPlan& plan_;
  uint32_t bytes_;
  uint32_t pairs_;
  bool wide_;  // AVX2 lanes where they apply
  bool halves_ = false;  // AVX2 lanes, 3-byte pixels, every output pixel the mean of two
  struct SmallGroup {
    std::array<int8_t, 2 * 32 * kMaxWidePairs> weights{};  // per vector, per pair of taps: 32 bytes
    std::array<uint16_t, 2 * 16> magic{};                 // per vector: 16 lanes
    std::array<int8_t, 2 * 32 * kMaxWidePairs> select{};   // shuffles laid out as the weights
  };
  bool packedReads_ = false;  // each pair of output pixels' windows lies within 16 bytes
  std::vector<SmallGroup> smallGroups_;  // empty: the small-weight lanes do not apply
  std::vector<std::array<int8_t, 4>> smallWeights_;
  std::vector<uint16_t> smallMagic_;
  std::vector<WeightLanes> pairWeights_;
  std::vector<Divisor> divisors_;
  struct WideLanes {
    std::array<int16_t, 16 * kMaxWidePairs> weights;  // per pair: low half's 8, high half's 8
    std::array<float, 8> reciprocal;
    std::array<float, 8> total;
  };
  std::vector<WideLanes> wideLanes_;
  std::vector<uint32_t> offsets_;     // byte offset of each window in its row
  std::size_t laneCount_ = 0;         // output pixels whose windows can be read in lanes
  std::size_t laneCountLastRow_ = 0;  // the same in the picture's last stored row
};

// Intermediate rows of 4-byte pixels by index counted from the last stored source row, made on
// demand and held in a ring of `taps` rows: the windows of successive output rows only move
// forward. Rows are padded with zeros to a whole number of vectors.
class IntermediateRows {
 public:
  IntermediateRows(const BmpImage& picture, const AxisPlan& columns, uint32_t taps, bool wide)
      : picture_(picture),
        scaler_(columns, picture.BytesPerPixel(), picture.Stride(), wide),
        rowBytes_((columns.start.size() * kLaneBytes + kVectorBytes - 1) / kVectorBytes * kVectorBytes),
        ring_(rowBytes_ * taps, 0),
        held_(taps, kNone) {}

  std::size_t RowBytes() const { return rowBytes_; }

  const uint8_t* Row(uint32_t index) {
    const std::size_t slot = index % held_.size();
    uint8_t* bytes = &ring_[slot * rowBytes_];
    if (held_[slot] != index) {
      const uint32_t row = picture_.Height() - 1 - index;
      // The span reaches to the end of the picture: lanes may read on into the next row.
      const std::size_t offset = BmpImage::kHeaderSize + std::size_t{row} * picture_.Stride();
      scaler_.Scale(picture_.Bytes().subspan(offset), row + 1 == picture_.Height(), bytes, rowBytes_);
      held_[slot] = index;
    }
    return bytes;
  }

 private:
  static constexpr uint32_t kNone = ~0u;
  const BmpImage& picture_;
  RowScaler scaler_;
  std::size_t rowBytes_;
  std::vector<uint8_t> ring_;
  std::vector<uint32_t> held_;
};

// The vertical pass in AVX2 lanes, 32 bytes (8 pixels) at a time while the stores fit in the
// row; returns the byte of the 4-byte pixel rows where it stopped.
template <Division kDivision>
REEL_AVX2 std::size_t SumAcrossRowsWide(std::span<const uint8_t* const> window, std::span<const WeightLanes> pairWeights,
                                        const Divisor& divisor, std::size_t rowBytes, std::span<uint8_t> target) {
  const __m256 reciprocal = _mm256_set_m128(divisor.reciprocal, divisor.reciprocal);
  const __m256 total = _mm256_set_m128(divisor.total, divisor.total);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lowMask = _mm256_set1_epi64x(0xFFFFFF);
  const __m256i highMask = _mm256_set1_epi64x(0xFFFFFF000000);
  std::size_t i = 0;
  for (; i + 32 <= rowBytes && i / kLaneBytes * kChannels + 26 <= target.size(); i += 32) {
    __m256i sums0 = zero;
    __m256i sums1 = zero;
    __m256i sums2 = zero;
    __m256i sums3 = zero;
    for (std::size_t k = 0; k < pairWeights.size(); ++k) {
      const __m256i weight = _mm256_broadcastsi128_si256(Load(pairWeights[k]));
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k] + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k + 1] + i));
      const __m256i low = _mm256_unpacklo_epi8(a, b);
      const __m256i high = _mm256_unpackhi_epi8(a, b);
      sums0 = _mm256_add_epi32(sums0, _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), weight));
      sums1 = _mm256_add_epi32(sums1, _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), weight));
      sums2 = _mm256_add_epi32(sums2, _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), weight));
      sums3 = _mm256_add_epi32(sums3, _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), weight));
    }
    const __m256i bytes = WidePackBytes(WideQuotients<kDivision>(sums0, reciprocal, total),
                                        WideQuotients<kDivision>(sums1, reciprocal, total),
                                        WideQuotients<kDivision>(sums2, reciprocal, total),
                                        WideQuotients<kDivision>(sums3, reciprocal, total));
    // Each half holds four 4-byte pixels; as in StoreFourPixels, two 8-byte stores of 6 each.
    const __m256i packed =
        _mm256_or_si256(_mm256_and_si256(bytes, lowMask), _mm256_and_si256(_mm256_srli_epi64(bytes, 8), highMask));
    const __m128i first = _mm256_castsi256_si128(packed);
    const __m128i second = _mm256_extracti128_si256(packed, 1);
    uint8_t* at = &target[i / kLaneBytes * kChannels];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 6), _mm_unpackhi_epi64(first, first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 12), second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 18), _mm_unpackhi_epi64(second, second));
  }
  return i;
}

// The vertical pass for one output row into 4-byte pixels: the window's rows weighted in pairs.
template <Division kDivision>
void SumAcrossRows(IntermediateRows& rows, const AxisPlan& plan, uint32_t y, std::span<uint8_t> target, uint32_t width,
                   bool wide, uint8_t* spare) {
  const uint32_t* weights = &plan.weights[std::size_t{y} * plan.taps];
  const uint32_t pairs = (plan.taps + 1) / 2;
  // An odd last row pairs with itself at weight 0. The ring keeps every row of the window.
  std::vector<const uint8_t*> window(2 * std::size_t{pairs});
  std::vector<WeightLanes> pairWeights(pairs);
  for (uint32_t t = 0; t < plan.taps; ++t) window[t] = rows.Row(plan.start[y] + t);
  if (plan.taps % 2 != 0) window[plan.taps] = window[plan.taps - 1];
  for (uint32_t k = 0; k < pairs; ++k) {
    pairWeights[k] = PairedWeights(weights[2 * k], 2 * k + 1 < plan.taps ? weights[2 * k + 1] : 0, 4);
  }
  const Divisor divisor = MakeDivisor(plan.totals[y], kDivision);
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  if (wide) i = SumAcrossRowsWide<kDivision>(window, pairWeights, divisor, rows.RowBytes(), target);
  for (; i < rows.RowBytes(); i += kVectorBytes) {
    __m128i sums0 = zero;
    __m128i sums1 = zero;
    __m128i sums2 = zero;
    __m128i sums3 = zero;
    for (uint32_t k = 0; k < pairs; ++k) {
      const __m128i weight = Load(pairWeights[k]);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[2 * k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window[2 * k + 1] + i));
      const __m128i low = _mm_unpacklo_epi8(a, b);
      const __m128i high = _mm_unpackhi_epi8(a, b);
      sums0 = _mm_add_epi32(sums0, _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), weight));
      sums1 = _mm_add_epi32(sums1, _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), weight));
      sums2 = _mm_add_epi32(sums2, _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), weight));
      sums3 = _mm_add_epi32(sums3, _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), weight));
    }
    const __m128i bytes = PackBytes(Quotients<kDivision>(sums0, divisor), Quotients<kDivision>(sums1, divisor),
                                    Quotients<kDivision>(sums2, divisor), Quotients<kDivision>(sums3, divisor));
    // Four pixels of 3 bytes, stored as two overlapping 8-byte halves of 6: while the 14 bytes
    // written fit in the row; the rest goes through `spare`.
    const std::size_t at = i / kLaneBytes * kChannels;
    if (at + 14 <= target.size()) {
      StoreFourPixels(&target[at], bytes);
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(spare), bytes);
    const std::size_t firstPixel = i / kLaneBytes;
    for (std::size_t x = firstPixel; x < std::min<std::size_t>(width, firstPixel + 4); ++x) {
      std::memcpy(&target[x * kChannels], spare + (x - firstPixel) * kLaneBytes, kChannels);
    }
  }
}

// The vertical pass when every output row is the mean of two intermediate rows: bytewise
// floor((a + b) / 2), eight 4-byte pixels at a time stored as 24 bytes (each half's 12 and then
// 4 zeros, which the next store, the rest of the row or its padding takes), the rest one by one.
REEL_AVX2 void MeanOfRowsWide(const uint8_t* first, const uint8_t* second, std::span<uint8_t> target, uint32_t width) {
  const __m256i pick = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m256i low7 = _mm256_set1_epi8(0x7F);
  std::size_t x = 0;
  for (; x + 8 <= width && x * kChannels + 28 <= target.size(); x += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + x * kLaneBytes));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(second + x * kLaneBytes));
    const __m256i half = _mm256_and_si256(_mm256_srli_epi16(_mm256_xor_si256(a, b), 1), low7);
    const __m256i pixels = _mm256_shuffle_epi8(_mm256_add_epi8(_mm256_and_si256(a, b), half), pick);
    uint8_t* at = &target[x * kChannels];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(pixels));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 12), _mm256_extracti128_si256(pixels, 1));
  }
  for (; x < width; ++x) {
    for (uint32_t c = 0; c < kChannels; ++c) {
      target[x * kChannels + c] = static_cast<uint8_t>((first[x * kLaneBytes + c] + second[x * kLaneBytes + c]) >> 1);
    }
  }
}

// The vertical pass for an output row whose weights reduce to a small total: the window's rows
// interleaved byte by byte, multiplied by byte weights into 16-bit sums and divided with a 16-bit
// multiply, eight 4-byte pixels at a time stored as 24 bytes as in MeanOfRowsWide; the rest one
// by one with the same arithmetic.
REEL_AVX2 void SumAcrossRowsSmall(std::span<const uint8_t* const> window, const SmallWeights& small, std::span<uint8_t> target,
                                  uint32_t width) {
  const __m256i pick = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(small.magic));
  const std::size_t pairs = window.size() / 2;
  const auto pairWeights = [&small](std::size_t k) {
    const auto first = static_cast<uint8_t>(small.weights[2 * k]);
    const auto second = static_cast<uint8_t>(small.weights[2 * k + 1]);
    return static_cast<int16_t>(first | (second << 8));
  };
  const __m256i weights01 = _mm256_set1_epi16(pairWeights(0));
  const __m256i weights23 = _mm256_set1_epi16(pairWeights(1));
  std::size_t x = 0;
  for (; x + 8 <= width && x * kChannels + 28 <= target.size(); x += 8) {
    __m256i low = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    for (std::size_t k = 0; k < pairs; ++k) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k] + x * kLaneBytes));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window[2 * k + 1] + x * kLaneBytes));
      const __m256i weights = k == 0 ? weights01 : weights23;
      low = _mm256_add_epi16(low, _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), weights));
      high = _mm256_add_epi16(high, _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), weights));
    }
    low = _mm256_srli_epi16(_mm256_mulhi_epu16(low, magic), kSmallQuotientShift);
    high = _mm256_srli_epi16(_mm256_mulhi_epu16(high, magic), kSmallQuotientShift);
    const __m256i pixels = _mm256_shuffle_epi8(_mm256_packus_epi16(low, high), pick);
    uint8_t* at = &target[x * kChannels];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(pixels));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 12), _mm256_extracti128_si256(pixels, 1));
  }
  for (; x < width; ++x) {
    for (uint32_t c = 0; c < kChannels; ++c) {
      uint32_t sum = 0;
      for (std::size_t t = 0; t < window.size(); ++t) {
        sum += static_cast<uint32_t>(small.weights[t]) * window[t][x * kLaneBytes + c];
      }
      target[x * kChannels + c] = static_cast<uint8_t>(QuotientBySmallMagic(sum, small.magic));
    }
  }
}

// The same in plain integers, for totals too large for the lanes.
void SumAcrossRowsInIntegers(IntermediateRows& rows, const AxisPlan& plan, uint32_t y, uint8_t* out) {
  const uint32_t* weights = &plan.weights[std::size_t{y} * plan.taps];
  std::vector<uint32_t> sums(rows.RowBytes(), 0);
  for (uint32_t t = 0; t < plan.taps; ++t) {
    const uint8_t* row = rows.Row(plan.start[y] + t);
    for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += weights[t] * row[i];
  }
  const uint32_t total = std::max(plan.totals[y], 1u);
  for (std::size_t i = 0; i < sums.size(); ++i) out[i] = static_cast<uint8_t>(sums[i] / total);
}

// Drops the fourth byte of each 4-byte pixel, two pixels at a time while 8 bytes fit.
void StorePixels(const uint8_t* pixels, std::span<uint8_t> target, uint32_t width) {
  uint32_t x = 0;
  for (; x + 2 <= width && std::size_t{x} * kChannels + 8 <= target.size(); x += 2) {
    uint64_t two = 0;
    std::memcpy(&two, pixels + std::size_t{x} * kLaneBytes, sizeof two);
    two = (two & 0xFFFFFFu) | ((two >> 8) & 0xFFFFFF000000u);  // little-endian: blue first
    std::memcpy(&target[std::size_t{x} * kChannels], &two, sizeof two);
  }
  for (; x < width; ++x) std::memcpy(&target[std::size_t{x} * kChannels], pixels + x * kLaneBytes, kChannels);
}

BmpImage CopyReversed(const BmpImage& picture, BmpImage out) {
  const uint32_t width = out.Width();
  const uint32_t height = out.Height();
  const uint32_t inStep = picture.BytesPerPixel();
  for (uint32_t row = 0; row < height; ++row) {
    const auto source = picture.Row(row);
    auto target = out.Row(height - 1 - row);
    if (inStep == kChannels) {
      std::memcpy(target.data(), source.data(), std::size_t{width} * kChannels);
      continue;
    }
    for (uint32_t x = 0; x < width; ++x) {
      std::memcpy(&target[std::size_t{x} * kChannels], &source[std::size_t{x} * inStep], kChannels);
    }
  }
  return out;
}

BmpImage Resample(const BmpImage& picture, BmpImage out, ScalerLanes lanes) {
  const bool wide = lanes == ScalerLanes::Widest && __builtin_cpu_supports("avx2");
  const AxisPlan columns = PlanAxis(out.Width(), picture.Width());
  const AxisPlan rows = PlanAxis(out.Height(), picture.Height());
  // A step below one 1024th of a pixel collects no weight: the picture stays black.
  if (columns.taps == 0 || rows.taps == 0) return out;

  IntermediateRows middle(picture, columns, rows.taps, wide);
  const bool halveRows = wide && IsHalving(rows);
  std::vector<uint8_t> pixels(middle.RowBytes());
  std::array<uint8_t, kVectorBytes> spare{};
  for (uint32_t y = 0; y < out.Height(); ++y) {
    const std::span<uint8_t> target = out.Row(y);
    if (rows.taps == 1) {
      StorePixels(middle.Row(rows.start[y]), target, out.Width());
      continue;
    }
    if (halveRows) {
      const uint8_t* first = middle.Row(rows.start[y]);
      MeanOfRowsWide(first, middle.Row(rows.start[y] + 1), target, out.Width());
      continue;
    }
    if (wide && rows.taps <= 2 * kMaxWidePairs) {
      const std::optional<SmallWeights> small = ReduceWeights(&rows.weights[std::size_t{y} * rows.taps], rows.taps, rows.totals[y]);
      if (small) {
        // An odd last row pairs with itself at weight 0. The ring keeps every row of the window.
        std::array<const uint8_t*, 2 * kMaxWidePairs> window{};
        for (uint32_t t = 0; t < rows.taps; ++t) window[t] = middle.Row(rows.start[y] + t);
        if (rows.taps % 2 != 0) window[rows.taps] = window[rows.taps - 1];
        SumAcrossRowsSmall(std::span(window).first((rows.taps + 1) / 2 * 2), *small, target, out.Width());
        continue;
      }
    }
    switch (rows.division) {
      case Division::Reciprocal:
        SumAcrossRows<Division::Reciprocal>(middle, rows, y, target, out.Width(), wide, spare.data());
        break;
      case Division::Corrected:
        SumAcrossRows<Division::Corrected>(middle, rows, y, target, out.Width(), wide, spare.data());
        break;
      case Division::Integer:
        SumAcrossRowsInIntegers(middle, rows, y, pixels.data());
        StorePixels(pixels.data(), target, out.Width());
        break;
    }
  }
  return out;
}

}  // namespace

std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height, ScalerLanes lanes) {
  std::optional<BmpImage> out = BmpImage::Create(width, height, 24);
  if (!out) return std::nullopt;
  if (picture.Width() == width && picture.Height() == height) return CopyReversed(picture, std::move(*out));
  return Resample(picture, std::move(*out), lanes);
}

#else

std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height, ScalerLanes) {
  return ScalePictureReference(picture, width, height);
}

#endif

std::optional<BmpImage> ScalePicture(const BmpImage& picture, uint32_t width, uint32_t height) {
  return ScalePicture(picture, width, height, ScalerLanes::Widest);
}

}  // namespace reel
