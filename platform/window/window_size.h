// The size the player's window opens at on a desktop.
#pragma once

#include <cstdint>

namespace reel {

struct WindowSize {
  uint32_t width = 0;
  uint32_t height = 0;
  friend bool operator==(const WindowSize&, const WindowSize&) = default;
};

// Twice the picture when that fits the room the desktop gives windows (usable width and height;
// 0 when unknown), else the picture's own size: the window scales the picture to whatever size the
// user then gives it.
WindowSize InitialWindowSize(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t usableWidth,
                             uint32_t usableHeight);

// Where a picture of the given size lies in a window's client area when scaled to fit it keeping
// its shape: the largest such size, centred, bars at the two other sides.
struct FittedRect {
  uint32_t left = 0;
  uint32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  friend bool operator==(const FittedRect&, const FittedRect&) = default;
};
FittedRect FitPicture(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t clientWidth,
                      uint32_t clientHeight);

}  // namespace reel
