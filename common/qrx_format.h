// The QRX movie container and the coded frame header, shared by the converter and the player.
//
// A movie is a 48-byte header, an index of 24-byte entries (one per frame) and the coded frames
// stored back to back. A coded frame starts with a 44-byte header. All integers are
// little-endian; each structure is read and written field by field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace reel {

inline constexpr std::size_t kQrxHeaderSize = 48;
inline constexpr std::size_t kQrxIndexEntrySize = 24;
inline constexpr std::size_t kQrxFrameHeaderSize = 44;

inline constexpr std::array<uint8_t, 4> kQrxMagic = {'Q', 'R', 'X', '1'};
inline constexpr std::array<uint8_t, 4> kQrxFrameTag = {'J', 'B', 'P', '1'};

// A coded frame's picture is cut into 16 x 16 macroblocks of six 8 x 8 blocks each: four
// luminance blocks (top-left, top-right, bottom-left, bottom-right), then Cb, then Cr.
inline constexpr uint32_t kBlocksPerMacroblock = 6;
inline constexpr uint32_t kLumaBlocksPerMacroblock = 4;

// The largest picture the player shows: its decoder takes frames of at most 5,000 macroblocks
// (the working limit of the frame format, 30,000 blocks) and its screen and picture buffer grow
// with the picture up to 2,048 pixels a side. The converter refuses a movie beyond either before
// it decodes anything, since its frames would play as a black window.
inline constexpr uint32_t kMaxShownMacroblocks = 5000;
inline constexpr uint32_t kMaxShownSide = 2048;

constexpr uint64_t PictureMacroblocks(uint32_t width, uint32_t height) {
  return ((uint64_t{width} + 15) / 16) * ((uint64_t{height} + 15) / 16);
}

constexpr bool PlayerShowsPicture(uint32_t width, uint32_t height) {
  return width <= kMaxShownSide && height <= kMaxShownSide && PictureMacroblocks(width, height) <= kMaxShownMacroblocks;
}

// Bit 27 of a frame's flags: the frame carries its two quantisation tables. Bit 0 is always set
// by the writer and means nothing to readers.
inline constexpr uint32_t kFrameFlagHasTables = 0x08000000;
inline constexpr uint32_t kFrameFlagsWritten = 0x08000001;

struct QrxHeader {
  std::array<uint8_t, 4> magic = kQrxMagic;
  uint32_t reserved0 = 0;
  uint32_t frameCount = 0;
  uint32_t frameRate = 0;
  uint32_t constantOne = 1;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 24;
  uint32_t fileSize = 0;
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
  uint32_t dataOffset = 0;

  friend bool operator==(const QrxHeader&, const QrxHeader&) = default;
};

struct QrxIndexEntry {
  uint32_t frameNumber = 0;
  uint32_t codedSize = 0;
  uint32_t rawSize = 0;
  uint32_t constantTwo = 2;
  uint32_t frameOffset = 0;  // counted from the header's dataOffset
  uint32_t reserved = 0;

  friend bool operator==(const QrxIndexEntry&, const QrxIndexEntry&) = default;
};

struct QrxFrameHeader {
  std::array<uint8_t, 4> tag = kQrxFrameTag;
  uint32_t headerSize = kQrxFrameHeaderSize;  // offset of the DC symbol counts
  uint32_t flags = kFrameFlagsWritten;
  int32_t quality = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t bitsPerPixel = 24;
  uint32_t reserved0 = 0;
  uint32_t dcStreamSize = 0;
  uint32_t acStreamSize = 0;
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;

  friend bool operator==(const QrxFrameHeader&, const QrxFrameHeader&) = default;
};

// Offset of the first frame: the header and N index entries come before it.
constexpr uint64_t QrxDataOffset(uint64_t frameCount) {
  return kQrxHeaderSize + kQrxIndexEntrySize * frameCount;
}

QrxHeader ReadQrxHeader(std::span<const uint8_t, kQrxHeaderSize> bytes);
void WriteQrxHeader(const QrxHeader& header, std::span<uint8_t, kQrxHeaderSize> bytes);

QrxIndexEntry ReadQrxIndexEntry(std::span<const uint8_t, kQrxIndexEntrySize> bytes);
void WriteQrxIndexEntry(const QrxIndexEntry& entry, std::span<uint8_t, kQrxIndexEntrySize> bytes);

QrxFrameHeader ReadQrxFrameHeader(std::span<const uint8_t, kQrxFrameHeaderSize> bytes);
void WriteQrxFrameHeader(const QrxFrameHeader& header, std::span<uint8_t, kQrxFrameHeaderSize> bytes);

}  // namespace reel
