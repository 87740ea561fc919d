#include "player/shell/player_shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/code_page.h"
#include "player/shell/settings_document.h"
#include "tests/player/video/movie_files.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

class NullPresenter : public WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return 320; }
  uint32_t ClientHeight() const override { return 240; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const WindowRect&) override {}
};

class SilentSound : public MovieSound {
 public:
  void StartMusic(const std::string&, const std::string&, int32_t, bool) override {}
  int32_t MusicPosition() override { return 0; }
};

class FakeMusic : public MusicControl {
 public:
  void SetMusicVolume(int32_t volume) override { volumes.push_back(volume); }
  std::vector<int32_t> volumes;
};

class FakeWindow : public ShellWindow {
 public:
  void PostCloseRequest() override { ++closeRequests; }
  void DestroyWindow() override { ++destroyed; }
  void PostQuit(int32_t code) override { quitCodes.push_back(code); }
  void Invalidate() override { ++invalidated; }
  void ShowMovieTitle(const std::string& movieName) override { titles.push_back(movieName); }
  std::vector<std::string> titles;
  int closeRequests = 0;
  int destroyed = 0;
  int invalidated = 0;
  std::vector<int32_t> quitCodes;
};

WindowMessage Key(WindowMessageType type, uint32_t key) { return MakeMessage(type, key); }

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCodePage(CodePage::Utf8);
    display_.Open(&presenter_);
  }
  void TearDown() override { EXPECT_TRUE(SaveSettings()); }

  void Configure(std::list<std::string> names, std::size_t index, int32_t volume) {
    PlayerConfiguration configuration;
    configuration.movies = MovieList::FromNames(std::move(names));
    configuration.movieIndex = index;
    configuration.currentName = configuration.movies.Empty() ? "none.qrx" : configuration.movies.At(index);
    configuration.volume = volume;
    shell_.Configure(std::move(configuration));
  }
  void Press(uint32_t key, bool shift = false) {
    WindowMessage down = Key(WindowMessageType::KeyDown, key);
    down.shift = shift;
    shell_.HandleMessage(down);
    shell_.Tick();
    shell_.HandleMessage(Key(WindowMessageType::KeyUp, key));
  }
  // Movies of 20 frames at 15 fps (the last frame at 1267 ms), in the folder or one below it.
  void WriteMovies(const std::vector<std::string>& names, const std::string& subfolder = "") {
    static const std::vector<std::vector<uint8_t>> frames = test::CodedFrames(64, 48, 20);
    if (!subfolder.empty()) std::filesystem::create_directory(folder_.Path() / subfolder);
    for (const std::string& name : names) {
      test::WriteMovie(folder_.Slash() + (subfolder.empty() ? "" : subfolder + "/") + name, frames, 15, 64, 48);
    }
  }
  uint32_t FrameAfterTick() {
    shell_.Tick();
    return movies_.IsMovieOpen() ? movies_.Current()->CurrentFrame() : UINT32_MAX;
  }
  std::vector<uint16_t> Shown() const { return {display_.Bits().begin(), display_.Bits().end()}; }

  test::ScratchFolder folder_;
  NullPresenter presenter_;
  Display display_;
  SilentSound sound_;
  uint32_t now_ = 1000;
  MovieSlot movies_{display_, sound_, [this] { return now_; }};
  FakeMusic music_;
  FakeWindow window_;
  PlayerShell shell_{folder_.Slash(), movies_, display_, music_, window_, [this] { return now_; }};
};

// Hands out the messages given, then the quit message; records how long the loop waited each time.
class ScriptedMessages : public MessageSource {
 public:
  explicit ScriptedMessages(std::vector<WindowMessage> messages) : messages_(std::move(messages)) {}
  std::optional<WindowMessage> WaitMessage(std::chrono::milliseconds timeout) override {
    waits.push_back(timeout);
    if (next_ < messages_.size()) return messages_[next_++];
    return MakeMessage(WindowMessageType::Quit, 0, 3);
  }
  std::vector<std::chrono::milliseconds> waits;

 private:
  std::vector<WindowMessage> messages_;
  std::size_t next_ = 0;
};

TEST_F(ShellTest, VolumeStaysWithinItsLimits) {
  Configure({}, 0, 100);
  Press(kKeyUp);
  EXPECT_EQ(shell_.Volume(), 100);
  Configure({}, 0, 7);
  Press(kKeyDown);
  EXPECT_EQ(shell_.Volume(), 5);
  Press(kKeyDown);
  EXPECT_EQ(shell_.Volume(), 5);
  Press(kKeyUp);
  EXPECT_EQ(shell_.Volume(), 10);
  EXPECT_EQ(music_.volumes, (std::vector<int32_t>{100, 5, 5, 10}));
}

TEST_F(ShellTest, HeldKeyActsOnceUntilReleased) {
  Configure({}, 0, 50);
  // Pressed, acted on, then two auto-repeats before the next tick: nothing more happens.
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  shell_.Tick();
  EXPECT_EQ(shell_.Volume(), 55);
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  for (int i = 0; i < 3; ++i) {
    shell_.Tick();
    shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  }
  EXPECT_EQ(shell_.Volume(), 55);
  // Released and pressed again, it acts again.
  shell_.HandleMessage(Key(WindowMessageType::KeyUp, kKeyUp));
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  shell_.Tick();
  EXPECT_EQ(shell_.Volume(), 60);
}

TEST_F(ShellTest, ArrowsExcludeEachOther) {
  Configure({}, 0, 50);
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyUp));
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyDown));  // ignored while up is counted
  EXPECT_EQ(shell_.KeyCount(kVolumeDown), 0u);
  shell_.Tick();
  EXPECT_EQ(shell_.Volume(), 55);
  // Up's count was used up by the tick, so down counts now.
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyDown));
  shell_.Tick();
  EXPECT_EQ(shell_.Volume(), 50);
  // The close keys count regardless of the arrows.
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, kKeyRight));
  shell_.HandleMessage(Key(WindowMessageType::KeyDown, 'Z'));
  EXPECT_EQ(shell_.KeyCount(kCloseA), 1u);
}

TEST_F(ShellTest, SwitchingWrapsAround) {
  Configure({"A.qrx", "B.qrx", "C.qrx"}, 0, 100);
  Press(kKeyLeft);
  EXPECT_EQ(shell_.MovieIndex(), 2u);
  EXPECT_EQ(shell_.CurrentName(), "C.qrx");
  Press(kKeyRight);
  EXPECT_EQ(shell_.MovieIndex(), 0u);
  Press(kKeyRight);
  EXPECT_EQ(shell_.CurrentName(), "B.qrx");
}

TEST_F(ShellTest, OneMovieDoesNotSwitch) {
  Configure({"A.qrx"}, 0, 100);
  Press(kKeyLeft);
  Press(kKeyRight);
  EXPECT_EQ(shell_.MovieIndex(), 0u);
  EXPECT_EQ(shell_.CurrentName(), "A.qrx");
}

TEST_F(ShellTest, CloseKeysAndClickRequestClosing) {
  Configure({}, 0, 100);
  for (const uint32_t key : {uint32_t{'Z'}, uint32_t{'X'}, uint32_t{'C'}}) {
    window_.closeRequests = 0;
    shell_.HandleMessage(Key(WindowMessageType::KeyDown, key));
    shell_.Tick();
    shell_.Tick();  // the count is not reset: the request repeats while the key is down
    EXPECT_EQ(window_.closeRequests, 2) << key;
    shell_.HandleMessage(Key(WindowMessageType::KeyUp, key));
    shell_.Tick();
    EXPECT_EQ(window_.closeRequests, 2) << key;
  }
  window_.closeRequests = 0;
  shell_.HandleMessage(MakeMessage(WindowMessageType::LeftButtonDown));
  EXPECT_EQ(window_.closeRequests, 1);
  shell_.HandleMessage(MakeMessage(WindowMessageType::Close));
  EXPECT_EQ(window_.destroyed, 1);
}

TEST_F(ShellTest, DestroyWritesTheVolumeAndQuits) {
  Configure({}, 0, 100);
  Press(kKeyDown);
  shell_.HandleMessage(MakeMessage(WindowMessageType::Destroy));
  EXPECT_EQ(window_.quitCodes, std::vector<int32_t>{0});
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(folder_.ReadFile("video.cfg"), "[MUSIC_CONFIG]\r\nMUSIC_VOL=95\r\n");
}

TEST_F(ShellTest, QuickTapsAreNeverLost) {
  // A press and its release waiting together in the queue, for each of these keys in turn.
  Configure({"a.qrx", "b.qrx", "c.qrx"}, 0, 50);
  std::vector<WindowMessage> taps;
  for (const uint32_t key : {kKeyRight, kKeyRight, kKeyLeft, kKeyUp, kKeyUp, kKeyDown, kKeyRight}) {
    taps.push_back(Key(WindowMessageType::KeyDown, key));
    taps.push_back(Key(WindowMessageType::KeyUp, key));
  }
  taps.push_back(Key(WindowMessageType::KeyDown, 'Z'));
  taps.push_back(Key(WindowMessageType::KeyUp, 'Z'));
  ScriptedMessages messages(taps);
  int ticks = 0;
  EXPECT_EQ(RunMessageLoop(messages, shell_, [&ticks] { ++ticks; }), 3);
  EXPECT_EQ(shell_.MovieIndex(), 2u);  // right, right, left, right
  EXPECT_EQ(music_.volumes, (std::vector<int32_t>{55, 60, 55}));
  EXPECT_EQ(window_.closeRequests, 1);
  EXPECT_EQ(ticks, 8);  // one after each press
}

TEST_F(ShellTest, AMovieThatCannotBeOpenedIsRetriedLessAndLessOftenAndSaidOnce) {
  std::vector<std::string> said;
  shell_.SetProblemReporter([&said](const std::string& text) { said.push_back(text); });
  folder_.WriteFile("bad.qrx", std::string(20, '\xFF'));
  Configure({"bad.qrx", "good.qrx"}, 0, 100);
  shell_.Tick();
  EXPECT_FALSE(movies_.IsMovieOpen());
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find(folder_.Slash() + "bad.qrx"), std::string::npos) << said[0];
  EXPECT_NE(said[0].find("not a movie file"), std::string::npos) << said[0];
  // The loop may wait on the window's queue until the next attempt; the pauses double up to a second.
  std::vector<int64_t> pauses;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const auto wait = shell_.IdleWait();
    pauses.push_back(wait.count());
    now_ += static_cast<uint32_t>(wait.count()) - 1;
    shell_.Tick();  // not yet
    EXPECT_EQ(shell_.IdleWait().count(), 1);
    ++now_;
    shell_.Tick();
  }
  EXPECT_EQ(pauses, (std::vector<int64_t>{10, 20, 40, 80, 160, 320, 640, 1000, 1000, 1000}));
  EXPECT_EQ(said.size(), 1u);  // said once, however often it is tried
  // Switching tries the new choice at once: a missing movie is said too, once.
  Press(kKeyRight);
  ASSERT_EQ(said.size(), 2u);
  EXPECT_NE(said[1].find(folder_.Slash() + "good.qrx"), std::string::npos) << said[1];
  EXPECT_EQ(shell_.IdleWait().count(), 10);
}

// Space holds the clock, PageUp and PageDown (and Shift with the arrows) move within the movie and
// stop at its ends, Home starts it again, and the keys' panel shows until the next key, which acts
// as well; the arrows without Shift still switch movies, and the title names the movie.
TEST_F(ShellTest, PauseSeekRestartAndTheKeysPanel) {
  WriteMovies({"a.qrx", "b.qrx"});
  Configure({"a.qrx", "b.qrx"}, 0, 50);
  shell_.Tick();  // opens a.qrx
  now_ += 200;
  EXPECT_EQ(FrameAfterTick(), 3u);
  Press(kKeySpace);
  EXPECT_TRUE(shell_.Paused());
  now_ += 1000;
  EXPECT_EQ(FrameAfterTick(), 3u);
  const std::pair<uint32_t, bool> seeks[] = {{kKeyPageDown, false}, {kKeyPageUp, false}, {kKeyRight, true}, {kKeyLeft, true}};
  const uint32_t landed[] = {19, 0, 19, 0};
  for (std::size_t i = 0; i < std::size(seeks); ++i) {
    Press(seeks[i].first, seeks[i].second);
    EXPECT_EQ(FrameAfterTick(), landed[i]) << i;
  }
  EXPECT_EQ(shell_.CurrentName(), "a.qrx");
  Press(kKeySpace);
  EXPECT_FALSE(shell_.Paused());
  now_ += 67;
  EXPECT_EQ(FrameAfterTick(), 1u);
  now_ += 400;
  Press(kKeyHome);
  EXPECT_EQ(FrameAfterTick(), 0u);
  Press(kKeyRight);
  EXPECT_EQ(shell_.CurrentName(), "b.qrx");
  EXPECT_EQ(window_.titles, (std::vector<std::string>{"a.qrx", "a.qrx", "b.qrx"}));

  const std::vector<uint16_t> picture = Shown();
  Press(kKeyF1);
  EXPECT_TRUE(shell_.HelpShown());
  EXPECT_NE(Shown(), picture);
  Press(kKeyUp);  // hides the panel, and turns the volume up
  EXPECT_FALSE(shell_.HelpShown());
  EXPECT_EQ(shell_.Volume(), 55);
  EXPECT_EQ(Shown(), picture);
  const WindowMessage question = MakeMessage(WindowMessageType::Char, 0, '?');
  shell_.HandleMessage(question);
  EXPECT_TRUE(shell_.HelpShown());
  shell_.HandleMessage(question);
  EXPECT_FALSE(shell_.HelpShown());
  EXPECT_EQ(Shown(), picture);
}

// A movie dropped on the window plays, and its folder becomes the list (video.cfg stays where it
// was); a folder plays its first movie; anything else is said and changes nothing.
TEST_F(ShellTest, ADroppedMovieOrFolderPlays) {
  std::vector<std::string> said;
  shell_.SetProblemReporter([&said](const std::string& text) { said.push_back(text); });
  WriteMovies({"a.qrx"});
  WriteMovies({"c.qrx", "d.qrx"}, "more");
  folder_.WriteFile("more/notes.txt", "not a movie");
  Configure({"a.qrx"}, 0, 50);
  shell_.Tick();
  WindowMessage drop = MakeMessage(WindowMessageType::DropFile);
  struct Drop {
    std::string path;
    std::string name;  // what plays afterwards
    std::size_t index;
  };
  const Drop drops[] = {{folder_.Slash() + "more/d.qrx", "d.qrx", 1},
                        {folder_.Slash() + "more/notes.txt", "d.qrx", 1},
                        {folder_.Slash() + "more", "c.qrx", 0}};
  for (const Drop& d : drops) {
    drop.path = d.path;
    shell_.HandleMessage(drop);
    EXPECT_EQ(shell_.CurrentName(), d.name) << d.path;
    EXPECT_EQ(shell_.MovieIndex(), d.index) << d.path;
    EXPECT_TRUE(movies_.IsMovieOpen());
  }
  EXPECT_EQ(shell_.MovieFolder(), folder_.Slash() + "more/");
  EXPECT_EQ(shell_.Folder(), folder_.Slash());
  EXPECT_EQ(window_.titles, (std::vector<std::string>{"a.qrx", "d.qrx", "c.qrx"}));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "cannot play " + folder_.Slash() + "more/notes.txt: not a movie or a folder");
}

}  // namespace
}  // namespace reel
