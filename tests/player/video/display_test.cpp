#include "player/video/display.h"

#include <gtest/gtest.h>

#include <vector>

namespace reel {
namespace {

class RecordingPresenter : public WindowPresenter {
 public:
  RecordingPresenter(uint32_t width, uint32_t height) : width_(width), height_(height) {}
  uint32_t ClientWidth() const override { return width_; }
  uint32_t ClientHeight() const override { return height_; }
  void CopyToWindow(std::span<const uint16_t> pixels, uint32_t surfaceWidth, uint32_t surfaceHeight,
                    const WindowRect& rect) override {
    copies.push_back(rect);
    EXPECT_EQ(pixels.size(), std::size_t{surfaceWidth} * surfaceHeight);
  }
  std::vector<WindowRect> copies;

 private:
  uint32_t width_;
  uint32_t height_;
};

// A picture whose every pixel is different and none is 0.
std::vector<uint16_t> Pattern(uint32_t rowPixels, uint32_t rows) {
  std::vector<uint16_t> pixels(std::size_t{rowPixels} * rows);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 7 + 1);
  return pixels;
}

constexpr WindowRect kWholeScreen{0, 0, 320, 240};

TEST(Display, PropertiesTurnTheSurfaceAQuarter) {
  RecordingPresenter presenter(320, 240);
  Display display;
  ASSERT_TRUE(display.Open(&presenter));
  const DisplayProperties properties = display.GetDisplayProperties();
  EXPECT_EQ(properties, (DisplayProperties{240, 320, -640, -2, 16, 0x80}));
  // The base is the bitmap's last pixel, the window's top-right pixel.
  EXPECT_EQ(display.BeginDraw(), (320u * 240 - 1) * 2);
  display.SetSurfacePixel(0, 0, 0x1111);
  display.SetSurfacePixel(0, 319, 0x2222);
  display.SetSurfacePixel(239, 0, 0x3333);
  display.SetSurfacePixel(240, 0, 0x4444);  // outside: ignored
  EXPECT_EQ(display.WindowPixel(319, 0), 0x1111);
  EXPECT_EQ(display.WindowPixel(0, 0), 0x2222);
  EXPECT_EQ(display.WindowPixel(319, 239), 0x3333);
  // Bottom-up memory: the window's top-right pixel is the last one, its bottom-right the 320th.
  EXPECT_EQ(display.Bits().back(), 0x1111);
  EXPECT_EQ(display.Bits()[319], 0x3333);
}

TEST(Display, ShortClientAreaGivesTheScreenSize) {
  RecordingPresenter presenter(400, 200);
  Display display;
  ASSERT_TRUE(display.Open(&presenter));
  EXPECT_EQ(display.SurfaceWidth(), 320u);
  EXPECT_EQ(display.SurfaceHeight(), 240u);
  EXPECT_FALSE(Display().Open(nullptr));
  EXPECT_EQ(GetDefaultKeys().buttonA, 0x5Au);
  EXPECT_EQ(GetDefaultKeys().start, 0u);
}

TEST(Display, ClearingPresentsTheWholeSurface) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  display.Bits()[5] = 0xFFFF;
  ClearSurface(display);
  EXPECT_EQ(display.Bits()[5], 0);
  EXPECT_EQ(presenter.copies, std::vector<WindowRect>{kWholeScreen});
}

TEST(Display, FullScreenPictureCoversTheWindow) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(320, 240);
  DrawPicture(display, PictureView{pixels, 320, 320, 240});
  for (uint32_t row = 0; row < 240; row += 13) {
    for (uint32_t column = 0; column < 320; column += 7) {
      ASSERT_EQ(display.WindowPixel(column, row), pixels[row * 320 + column]) << column << "," << row;
    }
  }
  EXPECT_EQ(display.WindowPixel(319, 239), pixels.back());
  EXPECT_EQ(presenter.copies, std::vector<WindowRect>{kWholeScreen});  // only the rectangle
}

TEST(Display, SmallPictureIsCentred) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(176, 144);
  DrawPicture(display, PictureView{pixels, 176, 176, 144});
  EXPECT_EQ(presenter.copies, std::vector<WindowRect>({WindowRect{72, 48, 248, 192}}));
  EXPECT_EQ(display.WindowPixel(72, 48), pixels[0]);
  EXPECT_EQ(display.WindowPixel(247, 191), pixels.back());
  EXPECT_EQ(display.WindowPixel(71, 48), 0);
  EXPECT_EQ(display.WindowPixel(248, 191), 0);
  EXPECT_EQ(display.WindowPixel(72, 47), 0);
  EXPECT_EQ(display.WindowPixel(72, 192), 0);
}

TEST(Display, ColumnsPastTheLastGroupOfEightAreNotDrawn) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(32, 10);  // a 20-pixel-wide picture in a 32-pixel padded row
  DrawPicture(display, PictureView{pixels, 32, 20, 10});
  const WindowRect placed = PicturePlacement(20, 10);
  EXPECT_EQ(placed.left, 150);
  for (uint32_t column = 0; column < 20; ++column) {
    const uint16_t expected = column < 16 ? pixels[column] : uint16_t{0};
    EXPECT_EQ(display.WindowPixel(150 + column, 115), expected) << column;
  }
}

TEST(Display, SizesNoScreenHoldsArePlacedWithoutOverflow) {
  // A damaged header can state sizes up to 2^32 - 1; the edges stop at what 32 bits hold.
  const WindowRect placed = PicturePlacement(0xFFFFFFFFu, 0x80000001u, ScreenSize{320, 240});
  EXPECT_EQ(placed.left, 160 - 0x7FFFFFFF);
  EXPECT_EQ(placed.right, INT32_MAX);
  EXPECT_EQ(placed.top, 120 - 0x40000000);
  EXPECT_EQ(placed.bottom, 120 + 0x40000001);
  EXPECT_EQ(PicturePlacement(2, 2, ScreenSize{0xFFFFFFFFu, 0xFFFFFFFFu}).right, INT32_MAX);
}

TEST(Display, OversizedPicturesAreClippedToTheScreen) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(640, 480);
  DrawPicture(display, PictureView{pixels, 640, 640, 480});
  // The picture's centre lands on the screen's centre.
  EXPECT_EQ(display.WindowPixel(0, 0), pixels[120 * 640 + 160]);
  EXPECT_EQ(display.WindowPixel(319, 239), pixels[359 * 640 + 479]);
  EXPECT_EQ(presenter.copies, std::vector<WindowRect>{kWholeScreen});
}

TEST(Display, PictureLargerThanItsBufferDrawsOnlyWhatTheBufferHolds) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(64, 16);  // the header claims more than the decoded picture holds
  DrawPicture(display, PictureView{pixels, 64, 320, 240});
  EXPECT_EQ(display.WindowPixel(0, 0), pixels[0]);
  EXPECT_EQ(display.WindowPixel(63, 15), pixels.back());
  EXPECT_EQ(display.WindowPixel(64, 0), 0);
  EXPECT_EQ(display.WindowPixel(0, 16), 0);
}

TEST(Display, FastDrawingMatchesDrawingThroughThePitches) {
  RecordingPresenter presenter(320, 240);
  const uint32_t sizes[][3] = {{320, 240, 320}, {176, 144, 176}, {20, 10, 32}, {321, 241, 336},
                               {640, 480, 640}, {7, 5, 16},     {1, 1, 16},   {330, 100, 336}};
  for (const auto& size : sizes) {
    const auto pixels = Pattern(size[2], size[1]);
    const PictureView view{pixels, size[2], size[0], size[1]};
    Display fast;
    Display plain;
    fast.Open(&presenter);
    plain.Open(&presenter);
    DrawPicture(fast, view);
    DrawPicturePlain(plain, view);
    ASSERT_TRUE(std::equal(fast.Bits().begin(), fast.Bits().end(), plain.Bits().begin()))
        << size[0] << " x " << size[1];
  }
}

TEST(Display, RepaintCopiesTheWholeSurface) {
  RecordingPresenter presenter(320, 240);
  Display display;
  display.Open(&presenter);
  const auto pixels = Pattern(176, 144);
  DrawPicture(display, PictureView{pixels, 176, 176, 144});
  presenter.copies.clear();
  RepaintSurface(display);
  EXPECT_EQ(presenter.copies, std::vector<WindowRect>{kWholeScreen});
  EXPECT_EQ(display.WindowPixel(72, 48), pixels[0]);
}

}  // namespace
}  // namespace reel
