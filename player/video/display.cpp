#include "player/video/display.h"

#include <algorithm>

namespace reel {
namespace {

constexpr uint32_t kBytesPerPixel = 2;

// Pictures are drawn in whole groups of this many pixels a row.
constexpr uint32_t kDrawGroup = 8;

WindowRect ClipRect(const WindowRect& rect, uint32_t width, uint32_t height) {
  WindowRect clipped;
  clipped.left = std::clamp<int32_t>(rect.left, 0, static_cast<int32_t>(width));
  clipped.top = std::clamp<int32_t>(rect.top, 0, static_cast<int32_t>(height));
  clipped.right = std::clamp<int32_t>(rect.right, clipped.left, static_cast<int32_t>(width));
  clipped.bottom = std::clamp<int32_t>(rect.bottom, clipped.top, static_cast<int32_t>(height));
  return clipped;
}

}  // namespace

ScreenSize ScreenSizeFor(uint32_t pictureWidth, uint32_t pictureHeight) {
  return ScreenSize{std::clamp(pictureWidth, kScreenWidth, kMaxScreenSide),
                    std::clamp(pictureHeight, kScreenHeight, kMaxScreenSide)};
}

DisplayKeys GetDefaultKeys() {
  DisplayKeys keys;
  keys.up = 0x26;
  keys.down = 0x28;
  keys.left = 0x25;
  keys.right = 0x27;
  keys.buttonA = 0x5A;  // Z
  keys.buttonB = 0x58;  // X
  keys.buttonC = 0x43;  // C
  keys.start = 0;
  return keys;
}

bool Display::Open(WindowPresenter* presenter) {
  presenter_ = presenter;
  partial_ = false;
  bits_.clear();
  screen_ = ScreenSize{};
  if (presenter == nullptr) return false;
  surfaceWidth_ = presenter->ClientWidth();
  surfaceHeight_ = presenter->ClientHeight();
  if (surfaceHeight_ < kScreenHeight || surfaceWidth_ == 0) {
    surfaceWidth_ = kScreenWidth;
    surfaceHeight_ = kScreenHeight;
  }
  bits_.assign(static_cast<std::size_t>(surfaceWidth_) * surfaceHeight_, 0);
  return true;
}

void Display::SetScreenSize(const ScreenSize& size) {
  if (size == screen_ || presenter_ == nullptr) return;
  if (!presenter_->ResizeSurface(size.width, size.height)) return;
  screen_ = size;
  surfaceWidth_ = size.width;
  surfaceHeight_ = size.height;
  bits_.assign(static_cast<std::size_t>(surfaceWidth_) * surfaceHeight_, 0);
  partial_ = false;
  EndDraw();
}

bool Display::Close() {
  presenter_ = nullptr;
  return true;
}

DisplayProperties Display::GetDisplayProperties() const {
  DisplayProperties properties;
  properties.width = surfaceHeight_;
  properties.height = surfaceWidth_;
  properties.xPitch = -static_cast<int32_t>(kBytesPerPixel * surfaceWidth_);
  properties.yPitch = -static_cast<int32_t>(kBytesPerPixel);
  properties.bitsPerPixel = 16;
  properties.format = kDisplayFormat565;
  return properties;
}

std::size_t Display::BeginDraw() {
  partial_ = false;
  return bits_.empty() ? 0 : (bits_.size() - 1) * kBytesPerPixel;
}

void Display::PresentRect(const std::optional<WindowRect>& rect) {
  partial_ = true;
  const WindowRect whole{0, 0, static_cast<int32_t>(surfaceWidth_), static_cast<int32_t>(surfaceHeight_)};
  Copy(ClipRect(rect.value_or(whole), surfaceWidth_, surfaceHeight_));
}

void Display::EndDraw() {
  if (!partial_) {
    Copy(WindowRect{0, 0, static_cast<int32_t>(surfaceWidth_), static_cast<int32_t>(surfaceHeight_)});
  }
  partial_ = false;
}

void Display::Copy(const WindowRect& rect) {
  if (presenter_ == nullptr || bits_.empty() || rect.left >= rect.right || rect.top >= rect.bottom) return;
  WindowRect copied = rect;
  if (overlay_) {
    const WindowRect covered = ClipRect(overlay_(*this), surfaceWidth_, surfaceHeight_);
    if (covered.left < covered.right && covered.top < covered.bottom) {
      copied = WindowRect{std::min(rect.left, covered.left), std::min(rect.top, covered.top),
                          std::max(rect.right, covered.right), std::max(rect.bottom, covered.bottom)};
    }
  }
  presenter_->CopyToWindow(bits_, surfaceWidth_, surfaceHeight_, copied);
}

// Surface pixel (x, y) lies at base + x * xPitch + y * yPitch with base at the last pixel: that is
// memory index (size - 1) - x * width - y, while x < surface height and y < surface width.
std::optional<std::size_t> Display::SurfaceIndex(uint32_t x, uint32_t y) const {
  if (x >= surfaceHeight_ || y >= surfaceWidth_) return std::nullopt;
  return bits_.size() - 1 - static_cast<std::size_t>(x) * surfaceWidth_ - y;
}

void Display::SetSurfacePixel(uint32_t x, uint32_t y, uint16_t value) {
  if (const auto index = SurfaceIndex(x, y)) bits_[*index] = value;
}

uint16_t Display::SurfacePixel(uint32_t x, uint32_t y) const {
  const auto index = SurfaceIndex(x, y);
  return index ? bits_[*index] : uint16_t{0};
}

uint16_t Display::WindowPixel(uint32_t column, uint32_t row) const {
  if (column >= surfaceWidth_ || row >= surfaceHeight_) return 0;
  return SurfacePixel(row, surfaceWidth_ - 1 - column);
}

void BlankScreen(Display& display) {
  const DisplayProperties properties = display.GetDisplayProperties();
  const uint32_t rows = std::min(display.Screen().height, properties.width);
  const uint32_t columns = std::min(display.Screen().width, properties.height);
  for (uint32_t x = 0; x < rows; ++x) {
    for (uint32_t y = 0; y < columns; ++y) display.SetSurfacePixel(x, y, 0);
  }
}

void ClearSurface(Display& display) {
  display.BeginDraw();
  BlankScreen(display);
  display.EndDraw();
}

// A movie's header can state any size: edges beyond what 32 bits hold stop at the nearest value
// they can hold, which lies far outside every screen.
WindowRect PicturePlacement(uint32_t width, uint32_t height, ScreenSize screen) {
  const auto edge = [](int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  };
  const int64_t left = int64_t{screen.width / 2} - int64_t{width >> 1};
  const int64_t top = int64_t{screen.height / 2} - int64_t{height / 2};
  return WindowRect{edge(left), edge(top), edge(left + width), edge(top + height)};
}

// Each picture row goes to one window row, left to right. In the bottom-up bitmap a window row is
// contiguous, so the row's visible part is copied as one run; the surface addressing above gives
// the same places pixel by pixel.
void DrawPicture(Display& display, const PictureView& picture) {
  display.BeginDraw();
  const WindowRect placement = PicturePlacement(picture.width, picture.height, display.Screen());
  const int64_t screenWidth = std::min(display.Screen().width, display.SurfaceWidth());
  const int64_t screenHeight = std::min(display.Screen().height, display.SurfaceHeight());
  const int64_t drawnWidth =
      std::min<int64_t>(picture.width / kDrawGroup * kDrawGroup, picture.rowPixels);
  const int64_t bufferRows = picture.rowPixels == 0 ? 0 : picture.pixels.size() / picture.rowPixels;
  const int64_t rows = std::min<int64_t>(picture.height, bufferRows);
  const int64_t firstColumn = std::max<int64_t>(0, -placement.left);
  const int64_t endColumn = std::min<int64_t>(drawnWidth, screenWidth - placement.left);
  std::span<uint16_t> bits = display.Bits();
  for (int64_t row = 0; row < rows && firstColumn < endColumn; ++row) {
    const int64_t windowRow = placement.top + row;
    if (windowRow < 0 || windowRow >= screenHeight) continue;
    const auto source = picture.pixels.subspan(static_cast<std::size_t>(row * picture.rowPixels + firstColumn),
                                               static_cast<std::size_t>(endColumn - firstColumn));
    const std::size_t destination = static_cast<std::size_t>(
        (display.SurfaceHeight() - 1 - windowRow) * display.SurfaceWidth() + placement.left + firstColumn);
    std::copy(source.begin(), source.end(), bits.begin() + static_cast<std::ptrdiff_t>(destination));
  }
  display.PresentRect(placement);
  display.EndDraw();
}

void PresentPicture(Display& display, uint32_t width, uint32_t height) {
  display.BeginDraw();
  display.PresentRect(PicturePlacement(width, height, display.Screen()));
  display.EndDraw();
}

void DrawPicturePlain(Display& display, const PictureView& picture) {
  display.BeginDraw();
  const DisplayProperties surface = display.GetDisplayProperties();
  const WindowRect placement = PicturePlacement(picture.width, picture.height, display.Screen());
  const int64_t drawnWidth = picture.width / kDrawGroup * kDrawGroup;
  const int64_t screenWidth = std::min(display.Screen().width, surface.height);
  const int64_t screenHeight = std::min(display.Screen().height, surface.width);
  for (int64_t row = 0; row < picture.height; ++row) {
    // The row's first pixel goes to surface (top + row, surface height - left - 1), the window
    // pixel (left, top + row); each next one is a step of -yPitch, one surface y less.
    const int64_t x = placement.top + row;
    for (int64_t column = 0; column < drawnWidth; ++column) {
      const int64_t windowColumn = placement.left + column;
      const int64_t y = static_cast<int64_t>(surface.height) - 1 - windowColumn;
      const uint64_t source = static_cast<uint64_t>(row) * picture.rowPixels + static_cast<uint64_t>(column);
      const bool onScreen = x >= 0 && x < screenHeight && windowColumn >= 0 && windowColumn < screenWidth;
      if (!onScreen || column >= picture.rowPixels || source >= picture.pixels.size()) continue;
      display.SetSurfacePixel(static_cast<uint32_t>(x), static_cast<uint32_t>(y), picture.pixels[source]);
    }
  }
  display.PresentRect(placement);
  display.EndDraw();
}

void RepaintSurface(Display& display) {
  if (!display.HasBitmap()) return;
  display.BeginDraw();
  display.EndDraw();
}

}  // namespace reel
