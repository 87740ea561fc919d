#include "converter/coder/bmp_image.h"

#include <utility>

#include "common/byte_io.h"

namespace reel {
namespace {

// Field offsets of the two headers.
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;
constexpr std::size_t kInfoSizeOffset = 14;
constexpr std::size_t kPlanesOffset = 26;
constexpr std::size_t kCompressionOffset = 30;
constexpr std::size_t kImageSizeOffset = 34;
constexpr uint32_t kInfoHeaderSize = 40;

uint32_t Load32(std::span<const uint8_t> bytes, std::size_t offset) {
  return LoadU32(bytes.subspan(offset).first<4>());
}
uint16_t Load16(std::span<const uint8_t> bytes, std::size_t offset) {
  return LoadU16(bytes.subspan(offset).first<2>());
}
void Store32(std::span<uint8_t> bytes, std::size_t offset, uint32_t value) {
  StoreU32(bytes.subspan(offset).first<4>(), value);
}
void Store16(std::span<uint8_t> bytes, std::size_t offset, uint16_t value) {
  StoreU16(bytes.subspan(offset).first<2>(), value);
}

bool SupportedDepth(uint16_t bitsPerPixel) { return bitsPerPixel == 24 || bitsPerPixel == 32; }

}  // namespace

std::optional<BmpImage> BmpImage::Create(uint32_t width, uint32_t height, uint16_t bitsPerPixel) {
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) return std::nullopt;
  if (!SupportedDepth(bitsPerPixel)) return std::nullopt;
  const uint32_t imageSize = RowStride(width, bitsPerPixel) * height;
  std::vector<uint8_t> bytes(kHeaderSize + std::size_t{imageSize}, 0);
  std::span<uint8_t> header(bytes);
  header[0] = 'B';
  header[1] = 'M';
  Store32(header, kFileSizeOffset, kHeaderSize + imageSize);
  Store32(header, kPixelOffsetOffset, kHeaderSize);
  Store32(header, kInfoSizeOffset, kInfoHeaderSize);
  Store32(header, kWidthOffset, width);
  Store32(header, kHeightOffset, height);
  Store16(header, kPlanesOffset, 1);
  Store16(header, kBitsOffset, bitsPerPixel);
  Store32(header, kCompressionOffset, 0);
  Store32(header, kImageSizeOffset, imageSize);
  // Resolutions, colours used and colours important stay 0.
  return BmpImage(std::move(bytes));
}

std::optional<BmpImage> BmpImage::FromBytes(std::vector<uint8_t> bytes) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  const std::span<const uint8_t> header(bytes);
  if (header[0] != 'B' || header[1] != 'M') return std::nullopt;
  if (Load32(header, kPixelOffsetOffset) != kHeaderSize) return std::nullopt;
  if (Load32(header, kInfoSizeOffset) != kInfoHeaderSize) return std::nullopt;
  if (Load32(header, kCompressionOffset) != 0) return std::nullopt;
  // Width and height are signed in the header; a negative height (top-down rows) is refused.
  const auto width = static_cast<int32_t>(Load32(header, kWidthOffset));
  const auto height = static_cast<int32_t>(Load32(header, kHeightOffset));
  const uint16_t bits = Load16(header, kBitsOffset);
  if (width <= 0 || height <= 0 || !SupportedDepth(bits)) return std::nullopt;
  if (static_cast<uint32_t>(width) > kMaxDimension || static_cast<uint32_t>(height) > kMaxDimension) {
    return std::nullopt;
  }
  const uint64_t needed =
      uint64_t{kHeaderSize} + uint64_t{RowStride(static_cast<uint32_t>(width), bits)} * static_cast<uint32_t>(height);
  if (bytes.size() < needed) return std::nullopt;
  return BmpImage(std::move(bytes));
}

}  // namespace reel
