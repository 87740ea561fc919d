// The player's window headless on SDL's dummy video driver: creation and its refusal, the surface
// shown top row first, the posted message queue; and the single-instance lock.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "platform/window/instance_lock.h"
#include "platform/window/player_window.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

TEST(PlayerWindowTest, AnUnknownVideoDriverIsReportedAsADeviceError) {
  setenv("SDL_VIDEODRIVER", "no-such-video-driver", 1);
  const Result<std::unique_ptr<PlayerWindow>> window = PlayerWindow::Create("t", 320, 240);
  ASSERT_FALSE(window);
  EXPECT_EQ(window.kind(), ErrorKind::kDevice);
  EXPECT_EQ(window.error().message.rfind("the window system cannot be started: ", 0), 0u)
      << window.error().message;
}

TEST(PlayerWindowTest, ShowsTheBottomUpSurfaceTopRowFirstAndDeliversPostedMessagesInOrder) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  Result<std::unique_ptr<PlayerWindow>> created = PlayerWindow::Create("t", 320, 240);
  ASSERT_TRUE(created) << created.error().message;
  PlayerWindow& window = **created;
  EXPECT_EQ(window.ClientWidth(), 320u);
  EXPECT_EQ(window.ClientHeight(), 240u);
  window.KeepShownPixels();
  const Status surface = window.OpenSurface(4, 3);
  ASSERT_TRUE(surface) << surface.error().message;
  // Row r of the bottom-up surface holds the value r in every pixel.
  std::vector<uint16_t> bottomUp;
  for (uint16_t row = 0; row < 3; ++row) bottomUp.insert(bottomUp.end(), 4, row);
  window.PresentSurface(bottomUp, 4, 3, 0, 0, 4, 3);
  EXPECT_EQ(std::vector<uint16_t>(window.ShownPixels().begin(), window.ShownPixels().end()),
            (std::vector<uint16_t>{2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0}));

  window.PostMessage(MakeMessage(WindowMessageType::Paint));
  window.PostQuit(7);
  std::optional<WindowMessage> message = window.PeekMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, WindowMessageType::Paint);
  message = window.PeekMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->type, WindowMessageType::Quit);
  EXPECT_EQ(message->code, 7);
  window.Destroy();
  EXPECT_FALSE(window.Exists());
  EXPECT_FALSE(window.OpenSurface(4, 3));
}

TEST(InstanceLockTest, ASecondInstanceFindsTheFirstAndAsksItToComeToTheFront) {
  test::ScratchFolder folder;
  setenv("XDG_RUNTIME_DIR", folder.Path().c_str(), 1);
  {
    InstanceLock::Acquisition first = InstanceLock::Acquire("reel-test");
    ASSERT_EQ(first.outcome, InstanceLock::Outcome::Acquired);
    ASSERT_NE(first.lock, nullptr);
    const InstanceLock::Acquisition second = InstanceLock::Acquire("reel-test");
    EXPECT_EQ(second.outcome, InstanceLock::Outcome::AnotherRunning);
    EXPECT_EQ(second.lock, nullptr);
    // The request is taken on the first one's listening thread.
    bool requested = false;
    for (int look = 0; look < 2000 && !requested; ++look) {
      requested = first.lock->FrontRequested();
      if (!requested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(requested);
    EXPECT_FALSE(first.lock->FrontRequested());  // asked once
  }
  EXPECT_EQ(InstanceLock::Acquire("reel-test").outcome, InstanceLock::Outcome::Acquired);
  setenv("XDG_RUNTIME_DIR", "/nonexistent/folder", 1);
  EXPECT_EQ(InstanceLock::Acquire("reel-test").outcome, InstanceLock::Outcome::Unavailable);
}

}  // namespace
}  // namespace reel
