// The plain scaler, kept as the reference the fast one in picture_scaler.cpp must match byte for
// byte: one tap table per axis and, for every channel of every pixel of both passes, a weighted sum
// divided in 64 bits.
#include "converter/coder/picture_scaler_reference.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

namespace reel {
namespace {

constexpr uint64_t kOne = 1024;  // one source pixel in fixed point
constexpr uint32_t kChannels = 3;

// One source sample contributing to an output sample.
struct Tap {
  uint32_t index = 0;
  uint32_t weight = 0;  // 0 marks an unused slot
};

// The taps of every output position along one axis, `tapCount` slots per position. Position x
// starts at x * step (fixed point); the first source sample gets min(1024 - fraction, step), each
// following one min(1024, what is left of step); samples beyond the axis are skipped. A span that
// reaches into a (tapCount + 1)-th sample leaves that last part out.
std::vector<Tap> AreaTaps(uint32_t outCount, uint32_t inCount, uint64_t step, uint32_t tapCount) {
  std::vector<Tap> taps(std::size_t{outCount} * tapCount);
  for (uint32_t x = 0; x < outCount; ++x) {
    const uint64_t position = x * step;
    const uint64_t fraction = position % kOne;
    const uint64_t first = position / kOne;
    uint64_t remaining = step;
    for (uint32_t t = 0; t < tapCount && remaining > 0; ++t) {
      const uint64_t weight = t == 0 ? std::min(kOne - fraction, remaining) : std::min(kOne, remaining);
      remaining -= weight;
      const uint64_t index = first + t;
      if (index >= inCount) continue;
      taps[std::size_t{x} * tapCount + t] = {static_cast<uint32_t>(index), static_cast<uint32_t>(weight)};
    }
  }
  return taps;
}

// Taps needed along an axis: ceil(step / 1024).
uint32_t TapCount(uint64_t step) { return static_cast<uint32_t>((step + kOne - 1) / kOne); }

// Accumulates weighted samples of one output pixel; black when no weight was collected.
class WeightedPixel {
 public:
  void Add(std::span<const uint8_t> pixel, uint32_t weight) {
    for (uint32_t c = 0; c < kChannels; ++c) sums_[c] += uint64_t{weight} * pixel[c];
    total_ += weight;
  }
  void Store(std::span<uint8_t> out) const {
    for (uint32_t c = 0; c < kChannels; ++c) {
      out[c] = total_ == 0 ? uint8_t{0} : static_cast<uint8_t>(sums_[c] / total_);
    }
  }

 private:
  std::array<uint64_t, kChannels> sums_{};
  uint64_t total_ = 0;
};

BmpImage CopyReversed(const BmpImage& picture, BmpImage out) {
  const uint32_t width = out.Width();
  const uint32_t height = out.Height();
  const uint32_t inStep = picture.BytesPerPixel();
  for (uint32_t row = 0; row < height; ++row) {
    const auto source = picture.Row(row);
    auto target = out.Row(height - 1 - row);
    for (uint32_t x = 0; x < width; ++x) {
      std::copy_n(source.begin() + std::size_t{x} * inStep, kChannels, target.begin() + std::size_t{x} * kChannels);
    }
  }
  return out;
}

BmpImage Resample(const BmpImage& picture, BmpImage out) {
  const uint32_t inWidth = picture.Width();
  const uint32_t inHeight = picture.Height();
  const uint32_t width = out.Width();
  const uint32_t height = out.Height();
  const uint32_t inStep = picture.BytesPerPixel();

  const uint64_t stepX = uint64_t{inWidth} * kOne / width;
  const uint64_t stepY = uint64_t{inHeight} * kOne / height;
  const uint32_t tapsX = TapCount(stepX);
  const uint32_t tapsY = TapCount(stepY);
  const std::vector<Tap> columnTaps = AreaTaps(width, inWidth, stepX, tapsX);
  const std::vector<Tap> rowTaps = AreaTaps(height, inHeight, stepY, tapsY);

  // Horizontal pass: input row r becomes intermediate row r, w pixels of 3 bytes, padded rows.
  const std::size_t middleStride = BmpImage::RowStride(width, 24);
  std::vector<uint8_t> middle(middleStride * inHeight, 0);
  for (uint32_t row = 0; row < inHeight; ++row) {
    const auto source = picture.Row(row);
    const auto target = std::span<uint8_t>(middle).subspan(row * middleStride, middleStride);
    for (uint32_t x = 0; x < width; ++x) {
      WeightedPixel pixel;
      for (uint32_t t = 0; t < tapsX; ++t) {
        const Tap& tap = columnTaps[std::size_t{x} * tapsX + t];
        if (tap.weight != 0) pixel.Add(source.subspan(std::size_t{tap.index} * inStep, kChannels), tap.weight);
      }
      pixel.Store(target.subspan(std::size_t{x} * kChannels, kChannels));
    }
  }

  // Vertical pass: intermediate rows are counted from the last stored one, which reverses the
  // row order.
  const std::span<const uint8_t> middleBytes(middle);
  for (uint32_t y = 0; y < height; ++y) {
    auto target = out.Row(y);
    for (uint32_t x = 0; x < width; ++x) {
      WeightedPixel pixel;
      for (uint32_t t = 0; t < tapsY; ++t) {
        const Tap& tap = rowTaps[std::size_t{y} * tapsY + t];
        if (tap.weight == 0) continue;
        const std::size_t middleRow = inHeight - 1 - tap.index;
        pixel.Add(middleBytes.subspan(middleRow * middleStride + std::size_t{x} * kChannels, kChannels), tap.weight);
      }
      pixel.Store(target.subspan(std::size_t{x} * kChannels, kChannels));
    }
  }
  return out;
}

}  // namespace

std::optional<BmpImage> ScalePictureReference(const BmpImage& picture, uint32_t width, uint32_t height) {
  std::optional<BmpImage> out = BmpImage::Create(width, height, 24);
  if (!out) return std::nullopt;
  if (picture.Width() == width && picture.Height() == height) return CopyReversed(picture, std::move(*out));
  return Resample(picture, std::move(*out));
}

}  // namespace reel
