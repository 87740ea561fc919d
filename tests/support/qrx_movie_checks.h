// Looks at a movie a program wrote: its header as stored, and whether qrxtool accepts it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/qrx_format.h"

namespace reel::test {

// The movie's header; all zero when the file is shorter than a header.
QrxHeader ReadHeader(const std::filesystem::path& moviePath);
// qrxtool verify accepts the movie.
bool Verified(const std::filesystem::path& moviePath);

// A decoded picture, rows top first, three bytes (red, green, blue) per pixel.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;

  uint8_t At(int x, int y, int channel) const {
    return rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3 +
               static_cast<std::size_t>(channel)];
  }
};

// Frame `frame` of a movie as `qrxtool frame` decodes it, through the PPM file `scratch`; nothing
// when qrxtool refuses or the picture is short.
std::optional<RgbPicture> DecodeMovieFrame(const std::filesystem::path& moviePath, uint32_t frame,
                                           const std::filesystem::path& scratch);

}  // namespace reel::test
