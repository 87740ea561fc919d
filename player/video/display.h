// The display: a direct-access 16-bit surface in the shape of a handheld's drawing layer, laid over
// the player's landscape window.
//
// The surface is an off-screen bitmap of the window's client area, 5-6-5 pixels, stored bottom row
// first. Drawing code sees it through six numbers: a width and height and two pitches. The pitches
// turn the surface a quarter turn: surface x runs down the window's rows and surface y runs leftwards
// along a row, from a base that is the bitmap's last pixel (the window's top-right pixel). Drawing
// happens between BeginDraw and EndDraw; PresentRect copies a rectangle to the window, and EndDraw
// copies the whole surface when nothing was presented. The window itself is reached through a
// WindowPresenter, so this layer knows no windowing library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "common/qrx_format.h"

namespace reel {

// The screen the player shows movies on; pictures are centred on it. A movie whose picture is
// larger gets a screen of its picture's size (ScreenSizeFor), up to kMaxScreenSide a side.
inline constexpr uint32_t kScreenWidth = 320;
inline constexpr uint32_t kScreenHeight = 240;
inline constexpr uint32_t kMaxScreenSide = kMaxShownSide;

struct ScreenSize {
  uint32_t width = kScreenWidth;
  uint32_t height = kScreenHeight;
  friend bool operator==(const ScreenSize&, const ScreenSize&) = default;
};

// The screen for a movie's picture: 320 x 240, or larger to hold the whole picture.
ScreenSize ScreenSizeFor(uint32_t pictureWidth, uint32_t pictureHeight);

// Format value of a direct-colour 5-6-5 surface.
inline constexpr uint32_t kDisplayFormat565 = 0x80;

struct DisplayProperties {
  uint32_t width = 0;   // surface x range (the window's height)
  uint32_t height = 0;  // surface y range (the window's width)
  int32_t xPitch = 0;   // bytes from x to x + 1
  int32_t yPitch = 0;   // bytes from y to y + 1
  uint32_t bitsPerPixel = 0;
  uint32_t format = 0;

  friend bool operator==(const DisplayProperties&, const DisplayProperties&) = default;
};

// The layer's key list, each a virtual-key code; start is none (0).
struct DisplayKeys {
  uint32_t up = 0;
  uint32_t down = 0;
  uint32_t left = 0;
  uint32_t right = 0;
  uint32_t buttonA = 0;
  uint32_t buttonB = 0;
  uint32_t buttonC = 0;
  uint32_t start = 0;
};

DisplayKeys GetDefaultKeys();

// A rectangle in window pixels: left and top inclusive, right and bottom exclusive.
struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  friend bool operator==(const WindowRect&, const WindowRect&) = default;
};

// Where the surface goes: the player's window.
class WindowPresenter {
 public:
  virtual ~WindowPresenter() = default;
  // The window's client area in pixels.
  virtual uint32_t ClientWidth() const = 0;
  virtual uint32_t ClientHeight() const = 0;
  // Copies `rect` (already clipped to the surface) of the bottom-up surface to the window.
  virtual void CopyToWindow(std::span<const uint16_t> bottomUpPixels, uint32_t surfaceWidth,
                            uint32_t surfaceHeight, const WindowRect& rect) = 0;
  // The screen changes size: the window shows a surface of the new size from now on. False when
  // it cannot; the display then keeps its screen.
  virtual bool ResizeSurface(uint32_t /*width*/, uint32_t /*height*/) { return false; }
};

class Display {
 public:
  // Takes the client size (320 x 240 when the client is less than 240 high) and creates the
  // black surface bitmap. False when no window was given.
  bool Open(WindowPresenter* presenter);
  // Forgets the window; the bitmap stays until the display is destroyed.
  bool Close();
  bool IsOpen() const { return presenter_ != nullptr; }

  // Makes the screen (and the surface) the given size, black, and shows it, unless it is that
  // size already. The screen stays as it was when the window cannot follow.
  void SetScreenSize(const ScreenSize& size);
  ScreenSize Screen() const { return screen_; }

  DisplayProperties GetDisplayProperties() const;
  uint32_t SurfaceWidth() const { return surfaceWidth_; }
  uint32_t SurfaceHeight() const { return surfaceHeight_; }
  bool HasBitmap() const { return !bits_.empty(); }

  // Starts drawing; returns the byte offset of the base (the last pixel) in Bits().
  std::size_t BeginDraw();
  // Copies the rectangle (clipped to the surface) to the window, or the whole surface with none.
  void PresentRect(const std::optional<WindowRect>& rect);
  // Ends drawing, copying the whole surface unless a rectangle was presented.
  void EndDraw();

  // Drawn into the surface (a panel of text, say) whenever part of it goes to the window, and
  // copied with it; returns the window rectangle it covers. None by default. Drawing it over a
  // picture leaves it in the surface until that is drawn again.
  using Overlay = std::function<WindowRect(Display& display)>;
  void SetOverlay(Overlay overlay) { overlay_ = std::move(overlay); }
  bool HasOverlay() const { return static_cast<bool>(overlay_); }

  // The surface as drawing code addresses it: base + x * xPitch + y * yPitch (bytes), with
  // x < width and y < height of the properties. Out-of-range pixels are ignored or read as 0.
  void SetSurfacePixel(uint32_t x, uint32_t y, uint16_t value);
  uint16_t SurfacePixel(uint32_t x, uint32_t y) const;
  // The pixel at window position (column, row); 0 outside the surface.
  uint16_t WindowPixel(uint32_t column, uint32_t row) const;

  // The bitmap's memory, bottom row first.
  std::span<uint16_t> Bits() { return bits_; }
  std::span<const uint16_t> Bits() const { return bits_; }

 private:
  std::optional<std::size_t> SurfaceIndex(uint32_t x, uint32_t y) const;
  void Copy(const WindowRect& rect);

  WindowPresenter* presenter_ = nullptr;
  uint32_t surfaceWidth_ = 0;
  uint32_t surfaceHeight_ = 0;
  std::vector<uint16_t> bits_;
  bool partial_ = false;
  ScreenSize screen_;
  Overlay overlay_;
};

// Sets every pixel of the screen to black through the pitches and shows the surface.
void ClearSurface(Display& display);
// The same without showing it.
void BlankScreen(Display& display);

// A decoded picture: `rowPixels` pixels a row, top row first; width and height are the movie's.
struct PictureView {
  std::span<const uint16_t> pixels;
  uint32_t rowPixels = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// The window position a picture of the given size is drawn at: centred on the screen (320 x 240
// unless given), negative for a picture larger than the screen.
WindowRect PicturePlacement(uint32_t width, uint32_t height, ScreenSize screen = {});

// Draws the picture centred on the screen, whole groups of eight pixels a row (the last width mod
// 8 columns are not drawn), and presents the rectangle it covers. Whatever falls outside the screen
// or outside the picture's buffer is left out.
void DrawPicture(Display& display, const PictureView& picture);

// The end of DrawPicture for a picture of this size that was put into the surface already (decoded
// straight into it): presents the rectangle it covers.
void PresentPicture(Display& display, uint32_t width, uint32_t height);

// The same drawing pixel by pixel through the surface pitches: the plain reference DrawPicture
// must match.
void DrawPicturePlain(Display& display, const PictureView& picture);

// The window's paint: the whole surface, the last picture included, copied again.
void RepaintSurface(Display& display);

}  // namespace reel
