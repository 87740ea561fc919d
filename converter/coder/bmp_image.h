// BmpImage: a picture held as a BMP file image in one block of memory.
//
// The image is a 14-byte file header ("BM", file size, 4 reserved bytes, pixel offset 54), a
// 40-byte info header (width, positive height, 1 plane, bits per pixel, no compression) and the
// pixel rows from byte 54, 3 or 4 bytes per pixel (blue, green, red[, unused]), each row padded to
// a multiple of 4 bytes. Every picture travels between the converter's stages in this form. The
// object owns its bytes; the header fields are read and written little-endian through accessors,
// never by laying a structure over the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/byte_io.h"

namespace reel {

class BmpImage {
 public:
  static constexpr uint32_t kHeaderSize = 54;
  // Largest width or height we make: keeps every size computation well inside 32 bits' reach of
  // the header fields and refuses absurd requests before any allocation.
  static constexpr uint32_t kMaxDimension = 16384;

  // A new picture with both headers filled and all pixel and padding bytes 0, or none when a size
  // is 0 or above kMaxDimension or the bits per pixel are not 24 or 32.
  static std::optional<BmpImage> Create(uint32_t width, uint32_t height, uint16_t bitsPerPixel = 24);

  // Takes over a BMP file image made elsewhere, or none when its headers do not describe a
  // bottom-up, uncompressed 24- or 32-bit picture whose rows lie within the bytes.
  static std::optional<BmpImage> FromBytes(std::vector<uint8_t> bytes);

  // Bytes per stored row: width x bytes per pixel rounded up to a multiple of 4.
  // (The accessors are defined here: the scaler's and the coder's loops call them per row.)
  static uint32_t RowStride(uint32_t width, uint16_t bitsPerPixel) { return (width * (bitsPerPixel / 8u) + 3u) & ~3u; }

  uint32_t Width() const { return LoadU32(std::span<const uint8_t>(bytes_).subspan<kWidthOffset, 4>()); }
  uint32_t Height() const { return LoadU32(std::span<const uint8_t>(bytes_).subspan<kHeightOffset, 4>()); }
  uint16_t BitsPerPixel() const { return LoadU16(std::span<const uint8_t>(bytes_).subspan<kBitsOffset, 2>()); }
  uint32_t BytesPerPixel() const { return BitsPerPixel() / 8u; }
  uint32_t Stride() const { return RowStride(Width(), BitsPerPixel()); }

  // Stored row `row` (0 = first row in memory), `Stride()` bytes including padding.
  std::span<uint8_t> Row(uint32_t row) {
    return std::span<uint8_t>(bytes_).subspan(kHeaderSize + std::size_t{row} * Stride(), Stride());
  }
  std::span<const uint8_t> Row(uint32_t row) const {
    return std::span<const uint8_t>(bytes_).subspan(kHeaderSize + std::size_t{row} * Stride(), Stride());
  }

  std::span<const uint8_t> Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

  // Gives up the bytes, as storage for another picture.
  std::vector<uint8_t> TakeBytes() && { return std::move(bytes_); }

 private:
  static constexpr std::size_t kWidthOffset = 18;
  static constexpr std::size_t kHeightOffset = 22;
  static constexpr std::size_t kBitsOffset = 28;

  explicit BmpImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::vector<uint8_t> bytes_;
};

}  // namespace reel
