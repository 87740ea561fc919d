// The symbol counts a coded frame carries: 16 DC counts stored plainly, and 256 AC counts stored
// zero-run packed.
//
// Packing takes the 1,024 bytes of the AC counts (256 little-endian 32-bit integers) in order: a
// byte that is not 0 is stored as itself; a run of n zero bytes (1 <= n <= 256) is stored as the
// two bytes 0 and n - 1. A run ends at a non-zero byte, after 256 bytes, or at the end of the
// 1,024 bytes. The packed bytes are padded with zeros to a multiple of 4.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace reel {

inline constexpr std::size_t kDcSymbolCount = 16;
inline constexpr std::size_t kAcSymbolCount = 256;
inline constexpr std::size_t kAcCountBytes = kAcSymbolCount * 4;

using DcCounts = std::array<int32_t, kDcSymbolCount>;
using AcCounts = std::array<int32_t, kAcSymbolCount>;

// The packed form, padding included.
std::vector<uint8_t> PackAcCounts(const AcCounts& counts);

struct UnpackedAcCounts {
  AcCounts counts{};
  std::size_t paddedLength = 0;  // packed bytes consumed, rounded up to a multiple of 4
};

// Unpacks from the start of `bytes`, stopping as soon as 1,024 bytes are produced; a run that
// would go past them is cut there. None when the bytes end first.
std::optional<UnpackedAcCounts> UnpackAcCounts(std::span<const uint8_t> bytes);

}  // namespace reel
