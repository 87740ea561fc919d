// The three 768-entry tables that clamp a colour to 0 .. 255 and place it in its 5-6-5 field.
//
// A table is indexed with a sample value + 384: 128 for the level shift the inverse transform
// leaves out, 256 for the table's own offset. Entries 0 .. 255 are below black, 256 .. 511 hold the
// colour truncated to 5 or 6 bits and shifted into its field, 512 .. 767 are saturated.
#pragma once

#include <array>
#include <cstdint>

namespace reel {

inline constexpr int32_t kColourTableSize = 768;
inline constexpr int32_t kColourTableOffset = 384;

struct ColourTables {
  std::array<uint16_t, kColourTableSize> RedField{};
  std::array<uint16_t, kColourTableSize> GreenField{};
  std::array<uint16_t, kColourTableSize> BlueField{};
};

// The process-wide tables, filled on first use. Every decoder shares them; they never change
// after they are filled, so decoders on different threads may read them at once.
const ColourTables& ProcessColourTables();

}  // namespace reel
