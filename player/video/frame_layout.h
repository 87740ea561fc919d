// Finds the parts of one coded frame: the header fields the player uses, the symbol counts, the
// quantisation tables when the frame carries them, and the two bit streams.
//
// A frame is the 44-byte header, the 16 DC counts at the header's table offset, the zero-run packed
// AC counts padded to a multiple of 4, the two quantisation tables (only when the table flag is
// set), the DC stream of the stated length, and the AC stream, which runs to the end of the frame.
// Every part is checked against the frame's length here, so the later stages read only bytes that
// exist.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "common/qrx_format.h"
#include "common/symbol_counts.h"

namespace reel {

// A frame above this many macroblocks is beyond the format's working limit (the coder writes at
// most 5,000); it bounds the work areas of a decoder that has no owner's picture buffer.
inline constexpr uint32_t kMaxDecodedMacroblocks = kMaxShownMacroblocks;

using FrameQuantTable = std::array<uint8_t, 64>;  // natural (row-major) order

struct FrameLayout {
  uint32_t width = 0;   // picture size from the frame header, never 0
  uint32_t height = 0;
  DcCounts dcCounts{};
  AcCounts acCounts{};
  bool hasTables = false;
  FrameQuantTable lumaQuant{};  // meaningful only with hasTables
  FrameQuantTable chromaQuant{};
  std::span<const uint8_t> dcStream;  // exactly the stated DC stream length
  std::span<const uint8_t> acStream;  // from the end of the DC stream to the end of the frame
};

// None when the frame is shorter than its header or than any part it points to, or when its width
// or height is 0.
std::optional<FrameLayout> ReadFrameLayout(std::span<const uint8_t> frame);

// A picture size rounded up to whole 16-pixel macroblocks.
inline uint32_t PaddedSize(uint32_t size) { return (size + 15) / 16 * 16; }

}  // namespace reel
