// Window sizing on a desktop.
#include "platform/window/window_size.h"

#include <cstdint>

namespace reel {

WindowSize InitialWindowSize(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t usableWidth,
                             uint32_t usableHeight) {
  const uint64_t doubleWidth = uint64_t{pictureWidth} * 2;
  const uint64_t doubleHeight = uint64_t{pictureHeight} * 2;
  if (doubleWidth <= usableWidth && doubleHeight <= usableHeight) {
    return WindowSize{static_cast<uint32_t>(doubleWidth), static_cast<uint32_t>(doubleHeight)};
  }
  return WindowSize{pictureWidth, pictureHeight};
}

FittedRect FitPicture(uint32_t pictureWidth, uint32_t pictureHeight, uint32_t clientWidth,
                      uint32_t clientHeight) {
  if (pictureWidth == 0 || pictureHeight == 0) return FittedRect{};
  // Full width when the client is relatively taller than the picture, else full height.
  FittedRect rect;
  if (uint64_t{clientWidth} * pictureHeight <= uint64_t{clientHeight} * pictureWidth) {
    rect.width = clientWidth;
    rect.height = static_cast<uint32_t>(uint64_t{clientWidth} * pictureHeight / pictureWidth);
  } else {
    rect.height = clientHeight;
    rect.width = static_cast<uint32_t>(uint64_t{clientHeight} * pictureWidth / pictureHeight);
  }
  rect.left = (clientWidth - rect.width) / 2;
  rect.top = (clientHeight - rect.height) / 2;
  return rect;
}

}  // namespace reel
