#include "platform/window/pixel_widening.h"

#include <SDL.h>

#include <algorithm>

namespace reel {

std::vector<uint32_t> LibraryWidened565(std::span<const uint16_t> from) {
  std::vector<uint32_t> to(from.size());
  if (from.empty()) return to;
  const int width = static_cast<int>(from.size());
  if (SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB565, from.data(), 2 * width, SDL_PIXELFORMAT_RGB888, to.data(),
                        4 * width) != 0) {
    return {};
  }
  for (uint32_t& pixel : to) pixel &= 0xFFFFFF;  // the format leaves the top byte unused
  return to;
}

std::optional<PixelWidener> PixelWidener::FromLibrary() {
  // Every value of each field, the other fields 0: 32 reds, 64 greens, 32 blues.
  std::vector<uint16_t> fields;
  for (uint16_t value = 0; value < 32; ++value) fields.push_back(static_cast<uint16_t>(value << 11));
  for (uint16_t value = 0; value < 64; ++value) fields.push_back(static_cast<uint16_t>(value << 5));
  for (uint16_t value = 0; value < 32; ++value) fields.push_back(value);
  const std::vector<uint32_t> widened = LibraryWidened565(fields);
  if (widened.size() != fields.size()) return std::nullopt;
  PixelWidener widener;
  std::copy_n(widened.begin(), 32, widener.red_.begin());
  std::copy_n(widened.begin() + 32, 64, widener.green_.begin());
  std::copy_n(widened.begin() + 96, 32, widener.blue_.begin());
  return widener;
}

void PixelWidener::Run(std::span<const uint16_t> from, std::span<uint32_t> to) const {
  const std::size_t count = std::min(from.size(), to.size());
  for (std::size_t i = 0; i < count; ++i) to[i] = (*this)(from[i]);
}

}  // namespace reel
