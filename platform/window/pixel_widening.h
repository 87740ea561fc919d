// 5-6-5 pixels widened to 8-8-8 (bits 16-23 red, 8-15 green, 0-7 blue), the format of a window
// drawn in software: the player converts its pictures itself, so that the graphics library's
// software drawing only copies and stretches them. Each field is widened as the library's own
// conversion widens it (taken from the library once, one small table per field), so a picture
// looks exactly as a 5-6-5 texture would show it. Where the tables hold what the library is known
// to give (red and blue (v x 1053) >> 7, green (v x 4139) >> 10: v x 8.23 and v x 4.04 truncated,
// so that red and blue top at 255 and green at 254), runs are widened eight pixels at a time by
// that arithmetic on x86-64; the tables stay the reference.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace reel {

class PixelWidener {
 public:
  // The library's widening of every field value; none when the library refuses to convert.
  static std::optional<PixelWidener> FromLibrary();

  uint32_t operator()(uint16_t pixel) const {
    return red_[pixel >> 11] | green_[(pixel >> 5) & 0x3F] | blue_[pixel & 0x1F];
  }
  // A run of pixels; `to` holds at least as many as `from`.
  void Run(std::span<const uint16_t> from, std::span<uint32_t> to) const;
  // The same through the tables alone, pixel by pixel.
  void RunByTables(std::span<const uint16_t> from, std::span<uint32_t> to) const;
  // Whether Run widens by the arithmetic rather than the tables.
  bool UsesArithmetic() const { return arithmetic_; }

 private:
  std::array<uint32_t, 32> red_{};
  std::array<uint32_t, 64> green_{};
  std::array<uint32_t, 32> blue_{};
  bool arithmetic_ = false;
};

// The library's own conversion of a run, pixel by pixel as it does it: the plain reference a
// PixelWidener must match. Empty when the library refuses; the top byte is cleared.
std::vector<uint32_t> LibraryWidened565(std::span<const uint16_t> from);

}  // namespace reel
