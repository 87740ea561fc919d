// Writing a picture as a PNG file through libpng.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"

namespace reel {

// Writes (replacing) `path` as an 8-bit RGB PNG of `width` x `height` pixels; `rgb` holds three
// bytes per pixel (red, green, blue), top row first. A kCannotWrite error naming the file on
// failure, kUsage when `rgb` does not hold the picture.
Status WritePngFile(const std::string& path, uint32_t width, uint32_t height, std::span<const uint8_t> rgb);

}  // namespace reel
