#include "player/video/colour_tables.h"

#include <cstddef>

namespace reel {
namespace {

constexpr int32_t kBelowRange = 256;
constexpr int32_t kAboveRange = 512;

ColourTables MakeColourTables() {
  ColourTables tables;
  for (int32_t index = 0; index < kColourTableSize; ++index) {
    const auto slot = static_cast<std::size_t>(index);
    if (index < kBelowRange) continue;  // black: all three fields 0
    if (index >= kAboveRange) {
      tables.RedField[slot] = 0xF800;
      tables.GreenField[slot] = 0x07E0;
      tables.BlueField[slot] = 0x001F;
      continue;
    }
    const int32_t colour = index - kBelowRange;
    tables.RedField[slot] = static_cast<uint16_t>((colour >> 3) << 11);
    tables.GreenField[slot] = static_cast<uint16_t>((colour >> 2) << 5);
    tables.BlueField[slot] = static_cast<uint16_t>(colour >> 3);
  }
  return tables;
}

}  // namespace

const ColourTables& ProcessColourTables() {
  static const ColourTables tables = MakeColourTables();
  return tables;
}

}  // namespace reel
