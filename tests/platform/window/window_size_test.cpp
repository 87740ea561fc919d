// The window's size on a desktop and the picture's place in it.
#include "platform/window/window_size.h"

#include <gtest/gtest.h>

namespace reel {
namespace {

TEST(WindowSizeTest, TwiceThePictureWhenTheDesktopHasRoom) {
  EXPECT_EQ(InitialWindowSize(320, 240, 1920, 1050), (WindowSize{640, 480}));
  EXPECT_EQ(InitialWindowSize(640, 480, 1920, 1050), (WindowSize{1280, 960}));
  EXPECT_EQ(InitialWindowSize(640, 480, 1280, 960), (WindowSize{1280, 960}));
  EXPECT_EQ(InitialWindowSize(640, 480, 1366, 738), (WindowSize{640, 480}));  // no room
  EXPECT_EQ(InitialWindowSize(320, 240, 0, 0), (WindowSize{320, 240}));       // unknown desktop
}

TEST(WindowSizeTest, PictureFitsKeepingItsShape) {
  EXPECT_EQ(FitPicture(320, 240, 640, 480), (FittedRect{0, 0, 640, 480}));
  EXPECT_EQ(FitPicture(320, 240, 1920, 1080), (FittedRect{240, 0, 1440, 1080}));  // bars beside
  EXPECT_EQ(FitPicture(320, 240, 800, 1000), (FittedRect{0, 200, 800, 600}));     // bars above, below
  EXPECT_EQ(FitPicture(320, 240, 321, 241), (FittedRect{0, 0, 321, 240}));
  EXPECT_EQ(FitPicture(320, 240, 0, 0), (FittedRect{0, 0, 0, 0}));
  EXPECT_EQ(FitPicture(0, 240, 640, 480), (FittedRect{}));
}

}  // namespace
}  // namespace reel
