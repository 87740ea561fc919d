// JpegHeaderInfo: everything the coefficient reader takes from a stream's marker segments.
#pragma once

#include <array>
#include <cstdint>

#include "converter/jpeg/huff_decode_table.h"

namespace reel {

struct JpegFrameComponent {
  uint8_t id = 0;
  uint8_t h = 0;  // horizontal sampling factor
  uint8_t v = 0;  // vertical sampling factor
  uint8_t quantTable = 0;
};

struct JpegScanComponent {
  uint8_t id = 0;
  uint8_t dcTable = 0;
  uint8_t acTable = 0;
  uint8_t h = 0;  // H, V and the quantisation table come from the frame component with this id
  uint8_t v = 0;
  uint8_t quantTable = 0;
};

// Segments read so far.
inline constexpr uint32_t kHeaderHasDht = 0x01;
inline constexpr uint32_t kHeaderHasDqt = 0x02;
inline constexpr uint32_t kHeaderHasSof = 0x04;
inline constexpr uint32_t kHeaderHasSos = 0x08;
inline constexpr uint32_t kHeaderEnded = 0x10;  // SOI or EOI met after the start of the stream
inline constexpr uint32_t kHeaderComplete = kHeaderHasDht | kHeaderHasDqt | kHeaderHasSof | kHeaderHasSos;

inline constexpr int kMaxScanComponents = 4;

struct JpegHeaderInfo {
  int32_t frameMarker = 0;  // 0xC0, 0xC1 or 0xC2; 0 if no frame header was read
  int32_t width = 0;
  int32_t height = 0;  // replaced by a DNL segment read before the scan
  uint8_t precision = 0;
  uint8_t frameComponentCount = 0;
  std::array<JpegFrameComponent, 255> frameComponents{};
  uint8_t scanComponentCount = 0;
  uint8_t spectralStart = 0;  // Ss, Se, Ah and Al are read and not used
  uint8_t spectralEnd = 0;
  uint8_t approximation = 0;
  std::array<JpegScanComponent, kMaxScanComponents> scanComponents{};
  std::array<std::array<int32_t, 64>, 4> quantTables{};  // stream (zig-zag) order
  std::array<HuffDecodeTable, 8> huffTables;             // DC tables 0 ... 3, then AC tables 0 ... 3
  int32_t restartInterval = 0;
  uint32_t flags = 0;
};

}  // namespace reel
