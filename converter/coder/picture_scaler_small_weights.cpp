#include "converter/coder/picture_scaler_small_weights.h"

#if defined(__SSE2__)
#include <algorithm>

#include "converter/coder/area_quotient.h"

namespace reel::scaler {
namespace {

REEL_AVX2 __m256i LoadLanes(const int8_t* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }

// One vector's share of a group's layout: the shuffles and weights of each pair of taps and the
// divisors.
struct PackedLayout {
  __m256i select[2];
  __m256i weights[2];
  __m256i magic;
};

template <uint32_t kPairs>
REEL_AVX2 PackedLayout LoadLayout(const int8_t* weights, const int8_t* select, const uint16_t* magic) {
  PackedLayout layout{};
  for (uint32_t k = 0; k < kPairs; ++k) {
    layout.select[k] = LoadLanes(select + 32 * k);
    layout.weights[k] = LoadLanes(weights + 32 * k);
  }
  layout.magic = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(magic));
  return layout;
}

// Pixels x, x + 1 (low half) and x + 4, x + 5 (high half) as 16-bit quotients with one 16-byte
// read per pair of output pixels and the shuffles of the group; `offsets` points at pixel x's.
template <uint32_t kPairs>
REEL_AVX2 __m256i PackedQuotients(const uint8_t* row, const uint32_t* offsets, const PackedLayout& layout) {
  const __m256i bytes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + offsets[4]),
                                            reinterpret_cast<const __m128i*>(row + offsets[0]));
  __m256i sums = _mm256_maddubs_epi16(_mm256_shuffle_epi8(bytes, layout.select[0]), layout.weights[0]);
  if constexpr (kPairs == 2) {
    sums = _mm256_add_epi16(sums, _mm256_maddubs_epi16(_mm256_shuffle_epi8(bytes, layout.select[1]), layout.weights[1]));
  }
  return _mm256_srli_epi16(_mm256_mulhi_epu16(sums, layout.magic), kSmallQuotientShift);
}

}  // namespace

std::optional<SmallWeightRow> SmallWeightRow::Arrange(const AxisPlan& plan, uint32_t bytesPerPixel,
                                                      std::span<const uint32_t> offsets) {
  SmallWeightRow row(plan, bytesPerPixel, offsets);
  if (!row.ArrangeGroups(plan)) return std::nullopt;
  return row;
}

SmallWeightRow::SmallWeightRow(const AxisPlan& plan, uint32_t bytesPerPixel, std::span<const uint32_t> offsets)
    : taps_(plan.taps), bytes_(bytesPerPixel), pairs_((plan.taps + 1) / 2), offsets_(offsets.begin(), offsets.end()) {}

bool SmallWeightRow::ArrangeGroups(const AxisPlan& plan) {
  const std::size_t width = plan.start.size();
  if (width < 8) return false;  // not one group of eight
  weights_.resize(width);
  magic_.assign(width, 0);
  for (std::size_t x = 0; x < width; ++x) {
    const uint32_t* own = &plan.weights[x * taps_];
    // Short periods repeat their weights: reuse those of a position up to four back.
    std::size_t same = 1;
    while (same <= std::min<std::size_t>(4, x) &&
           !(plan.totals[x - same] == plan.totals[x] && std::equal(own, own + taps_, own - same * taps_))) {
      ++same;
    }
    if (same <= std::min<std::size_t>(4, x)) {
      weights_[x] = weights_[x - same];
      magic_[x] = magic_[x - same];
      continue;
    }
    const std::optional<SmallWeights> small = ReduceWeights(own, taps_, plan.totals[x]);
    if (!small) return false;
    weights_[x] = small->weights;
    magic_[x] = small->magic;
  }
  groups_.resize(width / 8);
  for (std::size_t g = 0; g < groups_.size(); ++g) LayOutGroup(g);
  sameGroups_ = std::all_of(groups_.begin(), groups_.end(), [this](const SmallGroup& group) {
    return group.weights == groups_[0].weights && group.magic == groups_[0].magic && group.select == groups_[0].select;
  });
  return true;
}

void SmallWeightRow::LayOutGroup(std::size_t g) {
  SmallGroup& group = groups_[g];
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
              const bool used = c < kChannels && tap < taps_;
              if (used && byte >= kVectorBytes) packedReads_ = false;
              group.select[64 * v + 32 * k + 16 * h + 8 * slot + 2 * c + j] = used ? static_cast<int8_t>(byte & 15) : int8_t{-128};
            }
          }
        }
        for (std::size_t c = 0; c < kChannels; ++c) {
          group.magic[16 * v + 8 * h + 4 * slot + c] = magic_[x];
          for (std::size_t k = 0; k < kMaxWidePairs; ++k) {
            for (std::size_t j = 0; j < 2; ++j) {
              group.weights[64 * v + 32 * k + 16 * h + 8 * slot + 2 * c + j] = weights_[x][2 * k + j];
            }
          }
        }
      }
    }
  }
}

void SmallWeightRow::Scale(std::span<const uint8_t> source, uint8_t* out) const {
  for (std::size_t x = ScaleWide(source, out); x < offsets_.size(); ++x) ScaleOne(source.data(), x, out);
}

// Pixels x, x + 1 (low half) and x + 4, x + 5 (high half) as 16-bit quotients, 4 lanes each.
template <uint32_t kBytes>
REEL_AVX2 __m256i SmallWeightRow::Quotients(const uint8_t* row, std::size_t x, const int8_t* weights,
                                            const uint16_t* magic) const {
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

// Eight output pixels at a time with packed reads, while they stay in the picture. When every
// group is laid out alike (a step whose period divides eight pixels) the layout is loaded once,
// into registers, for the whole row.
template <uint32_t kPairs, bool kSameGroups>
REEL_AVX2 std::size_t SmallWeightRow::ScalePackedFor(std::span<const uint8_t> source, uint8_t* out) const {
  const std::size_t width = offsets_.size();
  const uint32_t* offsets = offsets_.data();
  const SmallGroup* groups = groups_.data();
  const uint8_t* row = source.data();
  const auto lowLayout = [](const SmallGroup& group) {
    return LoadLayout<kPairs>(&group.weights[0], &group.select[0], &group.magic[0]);
  };
  const auto highLayout = [](const SmallGroup& group) {
    return LoadLayout<kPairs>(&group.weights[64], &group.select[64], &group.magic[16]);
  };
  PackedLayout firstLow{};
  PackedLayout firstHigh{};
  if constexpr (kSameGroups) {
    firstLow = lowLayout(groups[0]);
    firstHigh = highLayout(groups[0]);
  }
  std::size_t x = 0;
  for (; x + 8 <= width && offsets[x + 7] + 16 <= source.size(); x += 8) {
    const __m256i low = PackedQuotients<kPairs>(row, offsets + x, kSameGroups ? firstLow : lowLayout(groups[x / 8]));
    const __m256i high =
        PackedQuotients<kPairs>(row, offsets + x + 2, kSameGroups ? firstHigh : highLayout(groups[x / 8]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), _mm256_packus_epi16(low, high));
  }
  return x;
}

// Eight output pixels at a time while their windows' 16-byte reads stay in the picture.
template <uint32_t kBytes>
REEL_AVX2 std::size_t SmallWeightRow::ScaleWideFor(std::span<const uint8_t> source, uint8_t* out) const {
  std::size_t x = 0;
  for (; x + 8 <= offsets_.size() && offsets_[x + 7] + 16 <= source.size(); x += 8) {
    const SmallGroup& group = groups_[x / 8];
    const __m256i low = Quotients<kBytes>(source.data(), x, &group.weights[0], &group.magic[0]);
    const __m256i high = Quotients<kBytes>(source.data(), x + 2, &group.weights[64], &group.magic[16]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x * kLaneBytes), _mm256_packus_epi16(low, high));
  }
  return x;
}

std::size_t SmallWeightRow::ScaleWide(std::span<const uint8_t> source, uint8_t* out) const {
  if (packedReads_ && sameGroups_) {
    return pairs_ == 1 ? ScalePackedFor<1, true>(source, out) : ScalePackedFor<2, true>(source, out);
  }
  if (packedReads_) return pairs_ == 1 ? ScalePackedFor<1, false>(source, out) : ScalePackedFor<2, false>(source, out);
  return bytes_ == 3 ? ScaleWideFor<3>(source, out) : ScaleWideFor<4>(source, out);
}

// One output pixel with the same scaled weights and divisor.
void SmallWeightRow::ScaleOne(const uint8_t* row, std::size_t x, uint8_t* out) const {
  const uint8_t* pixel = row + offsets_[x];
  for (uint32_t c = 0; c < kChannels; ++c) {
    uint32_t sum = 0;
    for (uint32_t t = 0; t < taps_; ++t) sum += static_cast<uint32_t>(weights_[x][t]) * pixel[t * bytes_ + c];
    out[x * kLaneBytes + c] = static_cast<uint8_t>(QuotientBySmallMagic(sum, magic_[x]));
  }
}

// The window's rows interleaved byte by byte, multiplied by byte weights into 16-bit sums and
// divided with a 16-bit multiply, eight 4-byte pixels at a time stored as 24 bytes (each half's
// 12 and then 4 zeros, which the next store, the rest of the row or its padding takes); the rest
// one by one with the same arithmetic.
REEL_AVX2 void SumRowsSmall(std::span<const uint8_t* const> window, const SmallWeights& small, std::span<uint8_t> target,
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

}  // namespace reel::scaler

#endif  // __SSE2__
