#include "player/video/frame_decoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "player/video/colour_conversion.h"

namespace reel {
namespace {

// A macroblock none of whose blocks has an AC term placed.
bool IsFlat(std::span<const uint64_t, kBlocksPerMacroblock> placed) {
  return std::all_of(placed.begin(), placed.end(), [](uint64_t mask) { return mask == 1; });
}

DequantTable Widen(const FrameQuantTable& table) {
  DequantTable widened{};
  std::copy(table.begin(), table.end(), widened.begin());
  return widened;
}

}  // namespace

FrameDecoder::FrameDecoder(Kernels kernels)
    : colourTables_(ProcessColourTables()), kernels_(kernels) {}

void FrameDecoder::SetPictureBuffer(std::span<uint16_t> pixels) {
  ownerPixels_ = pixels;
  hasOwnerBuffer_ = true;
  ownPixels_ = {};
  width_ = 0;
  height_ = 0;
}

void FrameDecoder::Reset() {
  width_ = 0;
  height_ = 0;
  hasQuantTables_ = false;
  ownPixels_.clear();  // keeps its memory; the next frame sizes it afresh, bounded as at first
}

std::span<const uint16_t> FrameDecoder::Pixels() const {
  const std::size_t count = std::size_t{PaddedWidth()} * PaddedHeight();
  if (count == 0) return {};
  if (hasOwnerBuffer_) return ownerPixels_.first(count);
  return std::span<const uint16_t>(ownPixels_).first(count);
}

// The owner's buffer, or the one allocated for the first frame, bounds every later frame; before
// either exists the format's working limit does.
bool FrameDecoder::PictureFits(uint64_t pixelCount) const {
  if (hasOwnerBuffer_) return pixelCount <= ownerPixels_.size();
  if (!ownPixels_.empty()) return pixelCount <= ownPixels_.size();
  return pixelCount <= uint64_t{kMaxDecodedMacroblocks} * 16 * 16;
}

std::span<uint16_t> FrameDecoder::PictureBuffer() {
  if (hasOwnerBuffer_) return ownerPixels_;
  return ownPixels_;
}

namespace {

Error RefusedLayout(std::span<const uint8_t> frame) {
  return Error{ErrorKind::kDamaged, "a frame whose size is 0 or whose parts do not fit its " +
                                        std::to_string(frame.size()) + " bytes"};
}

}  // namespace

Status FrameDecoder::DecodeCoefficients(const FrameLayout& layout) {
  if (!layout.hasTables && !hasQuantTables_) {
    return Error{ErrorKind::kDamaged, "a frame without quantisation tables, and no frame before it had any"};
  }
  const uint64_t pixelCount = uint64_t{PaddedSize(layout.width)} * PaddedSize(layout.height);
  if (!PictureFits(pixelCount)) {
    return Error{ErrorKind::kRefused, "a picture of " + std::to_string(layout.width) + " x " +
                                          std::to_string(layout.height) + " is larger than the picture buffer"};
  }
  const uint64_t macroblocks = FrameMacroblocks(layout.width, layout.height);
  const auto blockCount = static_cast<std::size_t>(macroblocks * kBlocksPerMacroblock);
  blocks_.resize(blockCount);
  placed_.resize(blockCount);
  if (!DecodeFrameBlocks(layout, blocks_, placed_)) {
    return Error{ErrorKind::kDamaged, "a frame whose code trees or bit streams do not decode"};
  }
  return {};
}

Status FrameDecoder::DecodeFrame(std::span<const uint8_t> frame) {
  const auto layout = ReadFrameLayout(frame);
  if (!layout) return RefusedLayout(frame);
  if (Status decoded = DecodeCoefficients(*layout); !decoded) return decoded;
  Commit(*layout);
  const std::span<uint16_t> picture = PictureBuffer();
  const uint32_t rowPixels = PaddedWidth();
  RenderPicture(PictureRows{picture, rowPixels, static_cast<uint32_t>(picture.size() / rowPixels), false}, 0, 0);
  return {};
}

Status FrameDecoder::DecodeFrameInto(std::span<const uint8_t> frame, const PictureRows& target, uint32_t left,
                                     uint32_t top) {
  const auto layout = ReadFrameLayout(frame);
  if (!layout) return RefusedLayout(frame);
  const uint64_t right = uint64_t{left} + PaddedSize(layout->width);
  const uint64_t bottom = uint64_t{top} + PaddedSize(layout->height);
  if (right > target.rowPixels || bottom > target.rows ||
      uint64_t{target.rowPixels} * target.rows > target.pixels.size()) {
    return Error{ErrorKind::kRefused, "a picture of " + std::to_string(layout->width) + " x " +
                                          std::to_string(layout->height) + " does not fit where it is to be drawn"};
  }
  if (Status decoded = DecodeCoefficients(*layout); !decoded) return decoded;
  Commit(*layout);
  RenderPicture(target, left, top);
  return {};
}

void FrameDecoder::Commit(const FrameLayout& layout) {
  width_ = layout.width;
  height_ = layout.height;
  if (layout.hasTables) {
    lumaQuant_ = Widen(layout.lumaQuant);
    chromaQuant_ = Widen(layout.chromaQuant);
    hasQuantTables_ = true;
  }
  if (!hasOwnerBuffer_ && ownPixels_.empty()) {
    ownPixels_.resize(std::size_t{PaddedWidth()} * PaddedHeight());
  }
}

void FrameDecoder::RenderPicture(const PictureRows& target, uint32_t left, uint32_t top) {
  const uint32_t columns = PaddedWidth() / 16;
  const uint32_t rows = PaddedHeight() / 16;
  std::size_t first = 0;
  for (uint32_t row = 0; row < rows; ++row) {
    for (uint32_t column = 0; column < columns; ++column) {
      const auto six = std::span(blocks_).subspan(first).first<kBlocksPerMacroblock>();
      const auto placed = std::span<const uint64_t>(placed_).subspan(first).first<kBlocksPerMacroblock>();
      const uint32_t x = left + 16 * column;
      const uint32_t y = top + 16 * row;
      if (kernels_ == Kernels::kFastest && IsFlat(placed)) {
        RenderFlatMacroblock(six, target, x, y);
      } else {
        RenderMacroblock(six, placed, target, x, y);
      }
      first += kBlocksPerMacroblock;
    }
  }
}

void FrameDecoder::RenderMacroblock(std::span<DecodedBlock, kBlocksPerMacroblock> six,
                                    std::span<const uint64_t, kBlocksPerMacroblock> placed,
                                    const PictureRows& target, uint32_t x, uint32_t y) {
  for (std::size_t b = 0; b < six.size(); ++b) {
    InverseTransformBlock(six[b], QuantFor(b), placed[b], kernels_);
  }
  ConvertMacroblock(six, colourTables_, target, x, y, kernels_);
}

// Every block of a flat macroblock is its DC term throughout, so neither the transform nor the
// per-pixel conversion is needed.
void FrameDecoder::RenderFlatMacroblock(std::span<const DecodedBlock, kBlocksPerMacroblock> six,
                                        const PictureRows& target, uint32_t x, uint32_t y) {
  std::array<int16_t, kBlocksPerMacroblock> samples{};
  for (std::size_t b = 0; b < six.size(); ++b) samples[b] = DcOnlySample(six[b][0], QuantFor(b)[0]);
  FillFlatMacroblock(samples, colourTables_, target, x, y);
}

}  // namespace reel
