#include "player/video/movie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/qrx_format.h"
#include "movie_files.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class NullPresenter : public WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return 320; }
  uint32_t ClientHeight() const override { return 240; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const WindowRect&) override {}
};

// Channel 0 of a pretend audio output: the test sets the position.
class FakeSound : public MovieSound {
 public:
  void StartMusic(const std::string& folder, const std::string& fileName, int32_t volume, bool wholeFile) override {
    started.push_back(folder + fileName);
    lastVolume = volume;
    lastWholeFile = wholeFile;
  }
  int32_t MusicPosition() override { return position; }
  void PauseMusic(bool paused) override { pauses.push_back(paused); }
  // Lands on the start of a 576-sample frame at 22050 Hz, as an MP3 would.
  std::optional<int32_t> SeekMusic(uint32_t milliseconds) override {
    seeks.push_back(milliseconds);
    position = static_cast<int32_t>(milliseconds * 22050 / 1000 / 576 * 576 * 1000 / 22050);
    return position;
  }

  std::vector<std::string> started;
  std::vector<bool> pauses;
  std::vector<uint32_t> seeks;
  int32_t position = 0;
  int32_t lastVolume = -1;
  bool lastWholeFile = false;
};

TEST(PlaybackClock, FrameForATime) {
  EXPECT_EQ(FrameAtTime(1000, 15), 15u);
  EXPECT_EQ(FrameAtTime(999, 15), 14u);
  EXPECT_EQ(FrameAtTime(0, 15), 0u);
  EXPECT_EQ(FrameAtTime(0xFFFFFFFF, 30), 128849018u);  // no 32-bit wrap of the product
  EXPECT_EQ(FrameAtTime(5000, 0), 0u);
}

TEST(PlaybackClock, CompanionSoundPath) {
  EXPECT_EQ(CompanionSoundPath("/a/clip.qrx"), "/a/clip.mp3");
  EXPECT_EQ(CompanionSoundPath("/a/a.b.qrx"), "/a/a.b.mp3");
  EXPECT_EQ(CompanionSoundPath("/a.dir/clip"), "/a.dir/clip.mp3");
}

class MovieTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { frames_ = test::CodedFrames(64, 48, 20); }

  void SetUp() override {
    display_.Open(&presenter_);
    test::WriteMovie(folder_.Slash() + "clip.qrx", frames_, 15, 64, 48);
  }

  // The window picture frame k gives, decoded directly.
  std::vector<uint16_t> ExpectedPicture(uint32_t k) {
    FrameDecoder decoder;
    EXPECT_TRUE(decoder.DecodeFrame(frames_[k]));
    Display display;
    display.Open(&presenter_);
    DrawPicture(display, PictureView{decoder.Pixels(), decoder.RowBytes() / 2, 64, 48});
    return {display.Bits().begin(), display.Bits().end()};
  }
  std::vector<uint16_t> Shown() const { return {display_.Bits().begin(), display_.Bits().end()}; }

  static std::vector<std::vector<uint8_t>> frames_;
  test::ScratchFolder folder_;
  NullPresenter presenter_;
  Display display_;
  FakeSound sound_;
  uint32_t now_ = 5000;
  MovieSlot slot_{display_, sound_, [this] { return now_; }};
};

std::vector<std::vector<uint8_t>> MovieTest::frames_;

TEST_F(MovieTest, OpeningShowsFrameZero) {
  EXPECT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  ASSERT_TRUE(slot_.IsMovieOpen());
  EXPECT_FALSE(slot_.Current()->HasSound());
  EXPECT_EQ(Shown(), ExpectedPicture(0));
  EXPECT_TRUE(sound_.started.empty());
  EXPECT_TRUE(slot_.CloseMovie());
  EXPECT_FALSE(slot_.CloseMovie());
}

TEST_F(MovieTest, MissingOrDamagedMoviesLeaveNothingOpen) {
  EXPECT_EQ(slot_.OpenMovie(folder_.Slash(), "missing.qrx", 80, false).kind(), ErrorKind::kNotFound);
  EXPECT_FALSE(slot_.IsMovieOpen());
  test::WriteAllBytes(folder_.Slash() + "bad.qrx", std::vector<uint8_t>(20, 0xFF));
  const Status bad = slot_.OpenMovie(folder_.Slash(), "bad.qrx", 80, false);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.kind(), ErrorKind::kNotThisFormat);
  EXPECT_EQ(bad.error().message, folder_.Slash() + "bad.qrx: not a movie file (shorter than its header)");
  EXPECT_FALSE(slot_.TickMovie());
  // A movie open before is closed by any later attempt.
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  std::filesystem::remove(folder_.Slash() + "clip.qrx");
  EXPECT_FALSE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false));
  EXPECT_FALSE(slot_.IsMovieOpen());
}

TEST_F(MovieTest, TickClockWithoutSound) {
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  const uint32_t shownAtOpen = slot_.Current()->FramesShown();
  now_ += 66;  // frame 0 still
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->FramesShown(), shownAtOpen);
  now_ += 1;  // 67 ms: frame 1
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->CurrentFrame(), 1u);
  EXPECT_EQ(Shown(), ExpectedPicture(1));
  now_ += 1000;  // frames 2..15 skipped
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->CurrentFrame(), 16u);
  EXPECT_EQ(Shown(), ExpectedPicture(16));
  EXPECT_EQ(slot_.Current()->FramesShown(), shownAtOpen + 2);
  now_ += 300;  // past frame 19
  EXPECT_FALSE(slot_.TickMovie());
}

TEST_F(MovieTest, SoundPositionDrivesThePicture) {
  test::WriteAllBytes(folder_.Slash() + "clip.mp3", std::vector<uint8_t>{0xFF, 0xFB});
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 70, true).ok());
  EXPECT_EQ(sound_.started, std::vector<std::string>{folder_.Slash() + "clip.mp3"});
  EXPECT_EQ(sound_.lastVolume, 70);
  EXPECT_TRUE(sound_.lastWholeFile);
  const uint32_t shownAtOpen = slot_.Current()->FramesShown();

  // Until the sound has started its position is 0 and frame 0 stays, whatever the tick count.
  now_ += 10000;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->FramesShown(), shownAtOpen);

  sound_.position = 999;
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->CurrentFrame(), 14u);
  sound_.position = 1000;
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->CurrentFrame(), 15u);
  EXPECT_EQ(Shown(), ExpectedPicture(15));
  // The same frame again is not shown twice.
  sound_.position = 1010;
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->FramesShown(), shownAtOpen + 2);
  // Past the last frame the movie ends.
  sound_.position = 1334;
  EXPECT_FALSE(slot_.TickMovie());
}

// Paused, the clock stands (the sound told to pause, the tick clock held); a seek moves the clock
// within the movie, stopping at its ends, and the next tick shows the frame the clock then names.
TEST_F(MovieTest, PauseHoldsTheClockAndASeekShowsTheFrameTheClockNames) {
  for (const bool withSound : {false, true}) {
    SCOPED_TRACE(withSound ? "with sound" : "without sound");
    std::filesystem::remove(folder_.Slash() + "clip.mp3");
    if (withSound) test::WriteAllBytes(folder_.Slash() + "clip.mp3", std::vector<uint8_t>{0xFF, 0xFB});
    sound_ = FakeSound();
    ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 100, false).ok());
    const auto frameAfterTick = [this] {
      EXPECT_TRUE(slot_.TickMovie());
      return slot_.Current()->CurrentFrame();
    };
    now_ += 400;
    sound_.position = 400;
    EXPECT_EQ(frameAfterTick(), 6u);
    slot_.SetPaused(true);
    now_ += 5000;  // the sound's position stands while it is paused
    EXPECT_EQ(frameAfterTick(), 6u);
    EXPECT_EQ(slot_.TimeToNextFrame(), std::chrono::milliseconds(100));
    struct Step {
      int64_t by;
      uint32_t frame;  // the frame the clock names afterwards
    };
    // The last frame is 19 (at 1267 ms); a sound lands on its frame's start before the place.
    const Step steps[] = {{300, 10u}, {10000, withSound ? 18u : 19u}, {-10000, 0u}, {500, 7u}};
    for (const Step& step : steps) {
      slot_.SeekBy(step.by);
      EXPECT_EQ(frameAfterTick(), step.frame) << step.by;
      EXPECT_EQ(Shown(), ExpectedPicture(step.frame)) << step.by;
    }
    slot_.SetPaused(false);
    now_ += 67;
    sound_.position += 67;
    EXPECT_EQ(frameAfterTick(), 8u);
    if (withSound) {
      EXPECT_EQ(sound_.seeks, (std::vector<uint32_t>{700, 1267, 0, 500}));
      EXPECT_EQ(sound_.pauses, (std::vector<bool>{true, false}));
    }
    slot_.CloseMovie();
  }
}

// The player sleeps until the next frame is due: waking at the time asked for shows that frame,
// waking a millisecond earlier would not.
TEST_F(MovieTest, TheWaitEndsWhenTheNextFrameIsDue) {
  EXPECT_EQ(TimeOfFrame(0, 15), 0u);
  EXPECT_EQ(TimeOfFrame(1, 15), 67u);
  EXPECT_EQ(TimeOfFrame(15, 15), 1000u);
  EXPECT_EQ(TimeOfFrame(7, 0), UINT64_MAX);
  for (uint32_t rate : {1u, 7u, 15u, 24u, 30u, 1000u, 3000u}) {
    for (uint32_t frame = 1; frame < 200; ++frame) {
      const auto at = static_cast<uint32_t>(TimeOfFrame(frame, rate));
      EXPECT_GE(FrameAtTime(at, rate), frame) << rate << " " << frame;
      EXPECT_LT(FrameAtTime(at - 1, rate), frame) << rate << " " << frame;
    }
  }

  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 67);
  now_ += 60;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 7);
  now_ += 7;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 0);
  EXPECT_TRUE(slot_.TickMovie());
  EXPECT_EQ(slot_.Current()->CurrentFrame(), 1u);
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 67);  // frame 2 at 134 ms
  now_ += 1000;  // late: the frame is due at once, and the wait never exceeds a tenth of a second
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 0);
  EXPECT_TRUE(slot_.TickMovie());
  now_ -= 1000;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 100);

  // On the sound's clock: a fiftieth of a second while it has not started, then until the next frame.
  test::WriteAllBytes(folder_.Slash() + "clip.mp3", std::vector<uint8_t>{0xFF, 0xFB});
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 20);
  sound_.position = 50;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 17);
  // A clock that stands still while time passes (the device took its sound late) is looked at
  // again soon; once it moves on with time the wait is the whole time to the frame again.
  now_ += 10;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 2);
  now_ += 10;
  sound_.position = 61;
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 6);
  sound_.position = -1;  // the sound stopped: the next tick ends the movie
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 0);
  EXPECT_FALSE(slot_.TickMovie());
  EXPECT_TRUE(slot_.CloseMovie());
  EXPECT_EQ(slot_.TimeToNextFrame().count(), 0);
}

// A movie cut short while it plays ends when a frame it needs is gone; one removed plays on from
// its open file to the end. Reopening then fails without harm.
TEST_F(MovieTest, AMovieCutOrRemovedWhilePlayingEndsCleanly) {
  const std::string path = folder_.Slash() + "clip.qrx";
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  std::filesystem::resize_file(path, QrxDataOffset(static_cast<uint32_t>(frames_.size())) + 10);
  now_ += 1000;  // frame 15, long gone from the file
  EXPECT_FALSE(slot_.TickMovie());
  EXPECT_TRUE(slot_.CloseMovie());
  EXPECT_EQ(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).kind(), ErrorKind::kDamaged);

  test::WriteMovie(path, frames_, 15, 64, 48);
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).ok());
  std::filesystem::remove(path);
  for (uint32_t frame = 1; frame < frames_.size(); ++frame) {
    now_ += 67;
    ASSERT_TRUE(slot_.TickMovie());
    EXPECT_EQ(Shown(), ExpectedPicture(slot_.Current()->CurrentFrame()));
  }
  now_ += 100;
  EXPECT_FALSE(slot_.TickMovie());
  EXPECT_EQ(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 80, false).kind(), ErrorKind::kNotFound);
}

TEST_F(MovieTest, ACompanionThatDiffersOnlyInCaseIsTaken) {
  const std::vector<uint8_t> kMp3Start = {0xFF, 0xFB};
  // Copied from a system that ignores case: "clip.qrx" beside "CLIP.MP3".
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "CLIP.MP3", kMp3Start));
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "clip.mp3.txt", kMp3Start));
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 70, false).ok());
  EXPECT_TRUE(slot_.Current()->HasSound());
  EXPECT_EQ(sound_.started, std::vector<std::string>{folder_.Slash() + "CLIP.MP3"});
  // The exact name wins when it is there too.
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "clip.mp3", kMp3Start));
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 70, false).ok());
  EXPECT_EQ(sound_.started.back(), folder_.Slash() + "clip.mp3");
  // A folder of that name is no sound.
  std::filesystem::remove(folder_.Slash() + "clip.mp3");
  std::filesystem::remove(folder_.Slash() + "CLIP.MP3");
  std::filesystem::create_directory(folder_.Slash() + "Clip.Mp3");
  EXPECT_EQ(FindAnyCompanionSound(folder_.Slash() + "clip.qrx"), std::nullopt);
  // Without an MP3 an Ogg Vorbis file is taken, found the same way; an MP3 comes first.
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "CLIP.OGG", kMp3Start));
  EXPECT_EQ(FindAnyCompanionSound(folder_.Slash() + "clip.qrx"), folder_.Slash() + "CLIP.OGG");
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "clip.ogg", kMp3Start));
  EXPECT_EQ(FindAnyCompanionSound(folder_.Slash() + "clip.qrx"), folder_.Slash() + "clip.ogg");
  ASSERT_TRUE(test::WriteAllBytes(folder_.Slash() + "clip.MP3", kMp3Start));
  EXPECT_EQ(FindAnyCompanionSound(folder_.Slash() + "clip.qrx"), folder_.Slash() + "clip.MP3");
}

TEST_F(MovieTest, SoundThatStopsEndsTheMovie) {
  test::WriteAllBytes(folder_.Slash() + "clip.mp3", std::vector<uint8_t>{0xFF, 0xFB});
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "clip.qrx", 100, false).ok());
  sound_.position = 200;
  EXPECT_TRUE(slot_.TickMovie());
  sound_.position = -1;
  EXPECT_FALSE(slot_.TickMovie());
}

TEST_F(MovieTest, EmptyMovieEndsAtTheFirstFrameChange) {
  test::WriteMovie(folder_.Slash() + "empty.qrx", {}, 15, 64, 48);
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "empty.qrx", 100, false).ok());
  EXPECT_TRUE(slot_.TickMovie());
  now_ += 100;
  EXPECT_FALSE(slot_.TickMovie());
}

TEST_F(MovieTest, UndecodableFramesKeepThePreviousPicture) {
  std::vector<std::vector<uint8_t>> frames = {frames_[0], std::vector<uint8_t>(100, 0xAB), std::vector<uint8_t>(3, 0), frames_[3]};
  test::WriteMovie(folder_.Slash() + "odd.qrx", frames, 15, 64, 48);
  ASSERT_TRUE(slot_.OpenMovie(folder_.Slash(), "odd.qrx", 100, false).ok());
  for (uint32_t step = 1; step <= 3; ++step) {
    now_ += 67;
    EXPECT_TRUE(slot_.TickMovie());
    EXPECT_EQ(Shown(), ExpectedPicture(step < 3 ? 0 : 3)) << step;
  }
  // The first refused frame is told, once for the movie.
  const std::optional<std::string> problem = slot_.TakePictureProblem();
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->rfind("frame 1 cannot be shown: ", 0), 0u) << *problem;
  EXPECT_FALSE(slot_.TakePictureProblem());
}

// A window that follows the screen's size, as the player's does.
class ResizingPresenter : public WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return width; }
  uint32_t ClientHeight() const override { return height; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const WindowRect&) override {}
  bool ResizeSurface(uint32_t newWidth, uint32_t newHeight) override {
    sizes.push_back({newWidth, newHeight});
    width = newWidth;
    height = newHeight;
    return true;
  }
  uint32_t width = 320;
  uint32_t height = 240;
  std::vector<std::pair<uint32_t, uint32_t>> sizes;
};

TEST(LargeMovieTest, A640x480MovieIsDrawnWholeAndTheScreenFollowsEachMovie) {
  const std::vector<std::vector<uint8_t>> large = test::CodedFrames(640, 480, 3);
  const std::vector<std::vector<uint8_t>> small = test::CodedFrames(64, 48, 2);
  test::ScratchFolder folder;
  test::WriteMovie(folder.Slash() + "large.qrx", large, 15, 640, 480);
  test::WriteMovie(folder.Slash() + "small.qrx", small, 15, 64, 48);
  ResizingPresenter presenter;
  Display display;
  ASSERT_TRUE(display.Open(&presenter));
  FakeSound sound;
  uint32_t now = 0;
  std::vector<std::pair<uint32_t, uint32_t>> presented;
  MovieSlot slot(display, sound, [&] { return now; });
  slot.SetObserver({[&](uint32_t frame, uint32_t clockMs) { presented.push_back({frame, clockMs}); }, nullptr, nullptr});

  ASSERT_TRUE(slot.OpenMovie(folder.Slash(), "large.qrx", 100, false).ok());
  EXPECT_EQ(display.Screen(), (ScreenSize{640, 480}));
  EXPECT_EQ(display.SurfaceWidth(), 640u);
  now += 70;
  EXPECT_TRUE(slot.TickMovie());
  EXPECT_EQ(slot.Current()->CurrentFrame(), 1u);
  // Frame 1, decoded directly, covers the whole 640 x 480 surface.
  FrameDecoder decoder;
  ASSERT_TRUE(decoder.DecodeFrame(large[1]));
  for (const auto& [column, row] : {std::pair{0u, 0u}, {639u, 0u}, {320u, 240u}, {0u, 479u}, {639u, 479u}}) {
    EXPECT_EQ(display.WindowPixel(column, row), decoder.Pixels()[row * (decoder.RowBytes() / 2) + column])
        << column << ", " << row;
  }
  EXPECT_EQ(presented, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {1, 70}}));

  // The next movie, smaller than the screen, brings the screen back to 320 x 240.
  ASSERT_TRUE(slot.OpenMovie(folder.Slash(), "small.qrx", 100, false).ok());
  EXPECT_EQ(display.Screen(), (ScreenSize{320, 240}));
  EXPECT_EQ(presenter.sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{640, 480}, {320, 240}}));
}

// A movie's pictures decoded straight into the surface leave it exactly as decoding into the
// picture buffer and copying does: through a refused frame, a panel laid over the surface and
// taken away again, and redraws; sizes that cannot go straight in are copied.
TEST(SurfaceDecodingTest, PicturesDecodedIntoTheSurfaceMatchTheCopiedWay) {
  struct Row {
    uint32_t width;
    uint32_t height;
    bool intoSurface;
  };
  for (const Row& row : {Row{64, 48, true}, Row{100, 60, false}, Row{320, 240, true}, Row{640, 480, true}}) {
    SCOPED_TRACE(std::to_string(row.width) + " x " + std::to_string(row.height));
    std::vector<std::vector<uint8_t>> frames = test::CodedFrames(row.width, row.height, 4);
    frames[2] = std::vector<uint8_t>(100, 0xAB);
    test::ScratchFolder folder;
    test::WriteMovie(folder.Slash() + "clip.qrx", frames, 15, row.width, row.height);
    struct Player {
      ResizingPresenter presenter;
      Display display;
      FakeSound sound;
      std::unique_ptr<MovieSlot> slot;
    };
    uint32_t now = 0;
    std::array<Player, 2> players;
    for (std::size_t k = 0; k < players.size(); ++k) {
      Player& player = players[k];
      ASSERT_TRUE(player.display.Open(&player.presenter));
      player.slot = std::make_unique<MovieSlot>(player.display, player.sound, [&now] { return now; });
      player.slot->SetPictureDrawing(k == 0 ? PictureDrawing::kDirect : PictureDrawing::kCopied);
      ASSERT_TRUE(player.slot->OpenMovie(folder.Slash(), "clip.qrx", 100, false).ok());
    }
    const auto panel = [](Display& display) {
      for (uint32_t x = 10; x < 30; ++x) {
        for (uint32_t y = 5; y < 200; ++y) display.SetSurfacePixel(x, y, 0x1234);
      }
      return WindowRect{0, 0, 320, 240};
    };
    const auto same = [&players](const char* step) {
      EXPECT_TRUE(std::equal(players[0].display.Bits().begin(), players[0].display.Bits().end(),
                             players[1].display.Bits().begin(), players[1].display.Bits().end()))
          << step;
    };
    const auto tick = [&] {
      now += 67;
      for (Player& player : players) EXPECT_TRUE(player.slot->TickMovie());
    };
    same("frame 0");
    tick();
    same("frame 1");
    EXPECT_EQ(players[0].slot->Current()->DrawsIntoSurface(), row.intoSurface);
    EXPECT_FALSE(players[1].slot->Current()->DrawsIntoSurface());
    for (Player& player : players) {
      player.display.SetOverlay(panel);
      player.slot->Redraw();
    }
    same("panel laid over");
    tick();
    same("refused frame under the panel");
    for (Player& player : players) {
      player.display.SetOverlay({});
      player.slot->Redraw();
    }
    same("panel taken away");
    tick();
    same("frame 3");
    for (Player& player : players) player.slot->Redraw();
    same("redrawn");
  }
}

TEST(ScreenSizeTest, AtLeastTheHandheldScreenAndAtMostTheLimit) {
  EXPECT_EQ(ScreenSizeFor(176, 144), (ScreenSize{320, 240}));
  EXPECT_EQ(ScreenSizeFor(320, 240), (ScreenSize{320, 240}));
  EXPECT_EQ(ScreenSizeFor(640, 480), (ScreenSize{640, 480}));
  EXPECT_EQ(ScreenSizeFor(352, 200), (ScreenSize{352, 240}));
  EXPECT_EQ(ScreenSizeFor(100000, 70000), (ScreenSize{kMaxScreenSide, kMaxScreenSide}));
  EXPECT_EQ(PicturePlacement(640, 480, ScreenSize{640, 480}), (WindowRect{0, 0, 640, 480}));
}

}  // namespace
}  // namespace reel
