// ScalePicture, the fast scaler. It computes exactly what ScalePictureReference computes, and
// the tests hold the two to the same bytes.
//
// Each axis is planned once per call (picture_scaler_plan.h). The horizontal pass makes each
// intermediate row of 4-byte pixels (blue, green, red, 0) so that the lanes line up; the vertical
// pass reads them from a ring of `taps` rows filled as the output rows advance, so the
// intermediate picture is never held whole, and drops the fourth byte as it stores a row. This
// file chooses the kernel for each axis (and each output row) and runs the passes:
// - the general kernels in SSE2 lanes (picture_scaler_sse2.h), eight lanes wide where the
//   processor has AVX2 (picture_scaler_avx2.h), for weight totals below 2^16;
// - with AVX2, exact halving (picture_scaler_halving.h) and weights that reduce to a small total
//   (picture_scaler_small_weights.h);
// - plain integers for the ends of rows the lanes cannot read past, and for totals of 2^16 and
//   more (steps of 64 source pixels or more).
// Without SSE2 the scaler is the reference one.
#include "converter/coder/picture_scaler.h"

#include "converter/coder/picture_scaler_reference.h"

#if defined(__SSE2__)
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "converter/coder/picture_scaler_avx2.h"
#include "converter/coder/picture_scaler_halving.h"
#include "converter/coder/picture_scaler_lanes.h"
#include "converter/coder/picture_scaler_plan.h"
#include "converter/coder/picture_scaler_small_weights.h"
#include "converter/coder/picture_scaler_sse2.h"
#endif

namespace reel {

#if defined(__SSE2__)
namespace {

using scaler::AxisPlan;
using scaler::Division;
using scaler::kChannels;
using scaler::kLaneBytes;
using scaler::kMaxWidePairs;
using scaler::kVectorBytes;

// The horizontal pass: one source row to one intermediate row of 4-byte pixels, with the kernel
// chosen for the axis.
class RowScaler {
 public:
  RowScaler(const AxisPlan& plan, uint32_t bytesPerPixel, std::size_t sourceStride, bool wide)
      : plan_(plan), bytes_(bytesPerPixel), wide_(wide) {
    const uint32_t pairs = (plan.taps + 1) / 2;
    const std::size_t width = plan.start.size();
    offsets_.resize(width);
    for (std::size_t x = 0; x < width; ++x) {
      offsets_[x] = plan.start[x] * bytesPerPixel;
      // Lanes read 4 bytes from each of 2 x pairs pixels of the window, which may reach past the
      // row's end into the next row, but not past the picture's last row.
      if (plan.division == Division::Integer) continue;
      // (The AVX2 lanes read the two pixels of a window as 8 bytes: at most this far too.)
      const std::size_t lastByte = (std::size_t{plan.start[x]} + 2 * pairs) * bytesPerPixel + 4;
      if (lastByte < sourceStride) laneCountLastRow_ = x + 1;
      if (lastByte < 2 * sourceStride) laneCount_ = x + 1;
    }
    halves_ = wide_ && bytesPerPixel == kChannels && IsHalving(plan);
    if (wide_ && !halves_ && pairs <= kMaxWidePairs && plan.division == Division::Reciprocal) {
      small_ = scaler::SmallWeightRow::Arrange(plan, bytesPerPixel, offsets_);
    }
    if (halves_ || small_) return;
    lanes_ = scaler::ArrangeRowLanes(plan);
    if (wide_ && pairs <= kMaxWidePairs) scaler::ArrangeWideRowLanes(lanes_, width);
  }

  // `lastRow`: no bytes of the picture follow the row's. `outBytes`: the intermediate row's size.
  void Scale(std::span<const uint8_t> source, bool lastRow, uint8_t* out, std::size_t outBytes) const {
    if (plan_.taps == 1) return Copy(source, out);
    if (small_) return small_->Scale(source, out);
    const std::size_t width = plan_.start.size();
    if (halves_) {
      for (std::size_t x = scaler::HalveRowWide(source, width, out, outBytes); x < width; ++x) {
        for (uint32_t c = 0; c < kChannels; ++c) {
          out[x * kLaneBytes + c] = static_cast<uint8_t>((source[6 * x + c] + source[6 * x + 3 + c]) >> 1);
        }
      }
      return;
    }
    std::size_t x = 0;
    if (plan_.division != Division::Integer) {
      const std::size_t count = lastRow ? laneCountLastRow_ : laneCount_;
      if (wide_) x = scaler::ScaleRowWide(lanes_, plan_.division, bytes_, offsets_, source.data(), count, out);
      x = scaler::ScaleRowInLanes(lanes_, plan_.division, bytes_, offsets_, source.data(), x, count, out);
    }
    for (; x < width; ++x) ScaleOne(source.data(), x, out);
  }

 private:
  // Enlarging (one tap, never of weight 0): every output pixel copies the source pixel under it.
  void Copy(std::span<const uint8_t> source, uint8_t* out) const {
    for (std::size_t x = 0; x < plan_.start.size(); ++x) {
      std::memcpy(out + x * kLaneBytes, &source[std::size_t{plan_.start[x]} * bytes_], kChannels);
    }
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
  bool wide_;            // AVX2 lanes where they apply
  bool halves_ = false;  // AVX2 lanes, 3-byte pixels, every output pixel the mean of two
  std::optional<scaler::SmallWeightRow> small_;  // AVX2 lanes with small weights
  scaler::RowLanes lanes_;                        // the general lanes otherwise
  std::vector<uint32_t> offsets_;     // byte offset of each window in its row
  std::size_t laneCount_ = 0;         // output pixels whose windows can be read in lanes
  std::size_t laneCountLastRow_ = 0;  // the same in the picture's last stored row
};

// Intermediate rows are padded with zeros to a whole number of vectors.
std::size_t IntermediateRowBytes(uint32_t width) { return (width * kLaneBytes + kVectorBytes - 1) / kVectorBytes * kVectorBytes; }

// Intermediate rows of 4-byte pixels by index counted from the last stored source row, made on
// demand and held in a ring of `taps` rows: the windows of successive output rows only move
// forward. Rows are padded with zeros to a whole number of vectors.
class IntermediateRows {
 public:
  IntermediateRows(const BmpImage& picture, const AxisPlan& columns, uint32_t taps, bool wide)
      : picture_(picture),
        scaler_(columns, picture.BytesPerPixel(), picture.Stride(), wide),
        rowBytes_(IntermediateRowBytes(static_cast<uint32_t>(columns.start.size()))),
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
      if (row > 0) FetchAhead(offset - picture_.Stride());
    }
    return bytes;
  }

 private:
  // The rows are read from the last stored one back to the first, each front to back, a pattern
  // the processor's own prefetching follows only after a few misses on every row; the picture
  // has mostly just been written by the reading thread, on another core. So the next row is asked
  // for while this one's windows are summed. (Prefetching changes no result.)
  void FetchAhead(std::size_t offset) const {
    const uint8_t* next = picture_.Bytes().data() + offset;
    for (std::size_t at = 0; at < picture_.Stride(); at += kCacheLineBytes) {
      _mm_prefetch(reinterpret_cast<const char*>(next + at), _MM_HINT_T0);
    }
  }

  static constexpr std::size_t kCacheLineBytes = 64;
  static constexpr uint32_t kNone = ~0u;
  const BmpImage& picture_;
  RowScaler scaler_;
  std::size_t rowBytes_;
  std::vector<uint8_t> ring_;
  std::vector<uint32_t> held_;
};

// Intermediate rows of 4-byte pixels by index counted from the picture's top, made as the
// picture's rows come in and held in a ring of `taps` rows (RowwiseScaler's store): a row is made
// before any output row whose window holds it, and is kept until the last such output row is made.
class RowRing {
 public:
  RowRing(std::size_t rowBytes, uint32_t taps) : rowBytes_(rowBytes), ring_(rowBytes * taps, 0), taps_(taps) {}

  std::size_t RowBytes() const { return rowBytes_; }
  uint8_t* Slot(uint32_t index) { return &ring_[index % taps_ * rowBytes_]; }
  const uint8_t* Row(uint32_t index) { return Slot(index); }

 private:
  std::size_t rowBytes_;
  std::vector<uint8_t> ring_;
  uint32_t taps_;
};

// Output row y's window of intermediate rows, taken in pairs (2 x (taps + 1) / 2 of them): an odd
// last row pairs with itself, at weight 0. The rows hold every row of the window.
template <typename Rows>
std::span<const uint8_t* const> FillWindow(Rows& rows, const AxisPlan& plan, uint32_t y, std::span<const uint8_t*> window) {
  for (uint32_t t = 0; t < plan.taps; ++t) window[t] = rows.Row(plan.start[y] + t);
  if (plan.taps % 2 != 0) window[plan.taps] = window[plan.taps - 1];
  return window.first((plan.taps + 1) / 2 * 2);
}

// The vertical pass for one output row in lanes: the window's rows weighted in pairs.
template <typename Rows>
void SumAcrossRows(Rows& rows, const AxisPlan& plan, uint32_t y, std::span<uint8_t> target, uint32_t width, bool wide,
                   uint8_t* spare) {
  const uint32_t* weights = &plan.weights[std::size_t{y} * plan.taps];
  const uint32_t pairs = (plan.taps + 1) / 2;
  std::vector<const uint8_t*> window(2 * std::size_t{pairs});
  FillWindow(rows, plan, y, window);
  std::vector<scaler::WeightLanes> pairWeights(pairs);
  for (uint32_t k = 0; k < pairs; ++k) {
    pairWeights[k] = scaler::PairedWeights(weights[2 * k], 2 * k + 1 < plan.taps ? weights[2 * k + 1] : 0, 4);
  }
  const scaler::Divisor divisor = scaler::MakeDivisor(plan.totals[y], plan.division);
  std::size_t i = 0;
  if (wide) i = scaler::SumRowsWide(window, pairWeights, divisor, plan.division, rows.RowBytes(), target);
  scaler::SumRowsInLanes(window, pairWeights, divisor, plan.division, rows.RowBytes(), i, target, width, spare);
}

// The same in plain integers, for totals too large for the lanes.
template <typename Rows>
void SumAcrossRowsInIntegers(Rows& rows, const AxisPlan& plan, uint32_t y, uint8_t* out) {
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

// The vertical pass: each output row from its window of intermediate rows, with the kernel
// chosen for the row.
class ColumnPass {
 public:
  ColumnPass(const AxisPlan& plan, std::size_t rowBytes, bool wide)
      : plan_(plan), wide_(wide), halves_(wide && IsHalving(plan)), pixels_(rowBytes) {}

  template <typename Rows>
  void MakeRow(Rows& middle, uint32_t y, std::span<uint8_t> target, uint32_t width) {
    if (plan_.taps == 1) return StorePixels(middle.Row(plan_.start[y]), target, width);
    if (halves_) {
      const uint8_t* first = middle.Row(plan_.start[y]);
      return scaler::MeanOfRowsWide(first, middle.Row(plan_.start[y] + 1), target, width);
    }
    if (wide_ && plan_.taps <= 2 * kMaxWidePairs) {
      const auto small = scaler::ReduceWeights(&plan_.weights[std::size_t{y} * plan_.taps], plan_.taps, plan_.totals[y]);
      if (small) {
        std::array<const uint8_t*, 2 * kMaxWidePairs> window{};
        return scaler::SumRowsSmall(FillWindow(middle, plan_, y, window), *small, target, width);
      }
    }
    if (plan_.division == Division::Integer) {
      SumAcrossRowsInIntegers(middle, plan_, y, pixels_.data());
      return StorePixels(pixels_.data(), target, width);
    }
    SumAcrossRows(middle, plan_, y, target, width, wide_, spare_.data());
  }

 private:
  const AxisPlan& plan_;
  bool wide_;
  bool halves_;  // AVX2 lanes, every output row the mean of two
  std::vector<uint8_t> pixels_;
  std::array<uint8_t, kVectorBytes> spare_{};
};

bool UsesWideLanes(ScalerLanes lanes) { return lanes == ScalerLanes::Widest && __builtin_cpu_supports("avx2"); }

BmpImage Resample(const BmpImage& picture, BmpImage out, ScalerLanes lanes) {
  const bool wide = UsesWideLanes(lanes);
  const AxisPlan columns = scaler::PlanAxis(out.Width(), picture.Width());
  const AxisPlan rows = scaler::PlanAxis(out.Height(), picture.Height());
  // A step below one 1024th of a pixel collects no weight: the picture stays black.
  if (columns.taps == 0 || rows.taps == 0) return out;

  IntermediateRows middle(picture, columns, rows.taps, wide);
  ColumnPass pass(rows, middle.RowBytes(), wide);
  for (uint32_t y = 0; y < out.Height(); ++y) pass.MakeRow(middle, y, out.Row(y), out.Width());
  return out;
}

}  // namespace

// Both passes as Resample runs them; only the order differs: each intermediate row is made when
// its picture row comes in, rather than when the first output row asks for it, and each output
// row as soon as the last row of its window is in. The windows' starts never fall back, so when
// a row comes in every output row still to be made has a window ending at it or later: a ring of
// `taps` rows holds every row they need. A row no window holds is passed over.
struct RowwiseScaler::State {
  State(uint32_t sourceWidth, uint32_t sourceHeight, std::size_t sourceStride, BmpImage picture, ScalerLanes lanes)
      : out(std::move(picture)),
        wide(UsesWideLanes(lanes)),
        columns(scaler::PlanAxis(out.Width(), sourceWidth)),
        rows(scaler::PlanAxis(out.Height(), sourceHeight)),
        scaler(columns, kChannels, sourceStride, wide),
        ring(IntermediateRowBytes(out.Width()), std::max(rows.taps, 1u)),
        pass(rows, ring.RowBytes(), wide) {}

  void AddRow(std::span<const uint8_t> row, bool lastRow) {
    const uint32_t index = nextRow++;
    if (columns.taps == 0 || rows.taps == 0) return;  // a picture that stays black
    if (nextOutput == out.Height() || index < rows.start[nextOutput]) return;
    scaler.Scale(row, lastRow, ring.Slot(index), ring.RowBytes());
    while (nextOutput < out.Height() && rows.start[nextOutput] + rows.taps <= nextRow) {
      pass.MakeRow(ring, nextOutput, out.Row(nextOutput), out.Width());
      ++nextOutput;
    }
  }

  BmpImage out;
  bool wide;
  AxisPlan columns;
  AxisPlan rows;
  RowScaler scaler;
  RowRing ring;
  ColumnPass pass;
  uint32_t nextRow = 0;     // index of the next picture row to come, from the top
  uint32_t nextOutput = 0;  // the next output row to make
};

void RowwiseScaler::AddRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride) {
  for (uint32_t r = 0; r < count; ++r) state_->AddRow(rows.subspan(r * stride), r + 1 == count);
}

std::optional<BmpImage> RowwiseScaler::Finish() && {
  if (state_->nextRow != sourceHeight_) return std::nullopt;
  return std::move(state_->out);
}

#else

// Without the lanes the rows are gathered into the whole picture, bottom-up as ScalePicture takes
// it, for the reference scaler.
struct RowwiseScaler::State {
  State(uint32_t sourceWidth, uint32_t sourceHeight, std::size_t, BmpImage picture, ScalerLanes)
      : out(std::move(picture)), whole(*BmpImage::Create(sourceWidth, sourceHeight, 24)) {}

  BmpImage out;
  BmpImage whole;
  uint32_t nextRow = 0;
};

void RowwiseScaler::AddRows(std::span<const uint8_t> rows, uint32_t count, std::size_t stride) {
  for (uint32_t r = 0; r < count && state_->nextRow < sourceHeight_; ++r) {
    const auto target = state_->whole.Row(sourceHeight_ - 1 - state_->nextRow++);
    std::copy_n(rows.begin() + r * stride, std::size_t{state_->whole.Width()} * 3, target.begin());
  }
}

std::optional<BmpImage> RowwiseScaler::Finish() && {
  if (state_->nextRow != sourceHeight_) return std::nullopt;
  return ScalePictureReference(state_->whole, state_->out.Width(), state_->out.Height());
}

#endif

std::optional<RowwiseScaler> RowwiseScaler::Create(uint32_t sourceWidth, uint32_t sourceHeight, std::size_t sourceStride,
                                                   uint32_t width, uint32_t height, ScalerLanes lanes) {
  if (sourceWidth == 0 || sourceHeight == 0 || sourceWidth > BmpImage::kMaxDimension ||
      sourceHeight > BmpImage::kMaxDimension || sourceStride < std::size_t{sourceWidth} * 3) {
    return std::nullopt;
  }
  std::optional<BmpImage> out = BmpImage::Create(width, height, 24);
  if (!out) return std::nullopt;
  return RowwiseScaler(sourceHeight, std::make_unique<State>(sourceWidth, sourceHeight, sourceStride, std::move(*out), lanes));
}

RowwiseScaler::RowwiseScaler(uint32_t sourceHeight, std::unique_ptr<State> state)
    : sourceHeight_(sourceHeight), state_(std::move(state)) {}
RowwiseScaler::RowwiseScaler(RowwiseScaler&&) noexcept = default;
RowwiseScaler& RowwiseScaler::operator=(RowwiseScaler&&) noexcept = default;
RowwiseScaler::~RowwiseScaler() = default;

#if defined(__SSE2__)

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
