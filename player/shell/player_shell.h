// PlayerShell: the player's keys, message handling and idle tick.
//
// The shell counts key-downs per key and acts on a count of exactly 1 at the next tick, so a key
// held down (auto-repeat) acts once until it is released. The four arrows exclude each other:
// while one is counted, the others are ignored. Up and down change the music volume by 5 (at most
// 100, at least 5), left and right switch to the previous or next movie with wrap-around, and Z, X,
// C or a click close the player. Each tick then advances the open movie, or opens the current one
// again when none is open, so a movie repeats until the user switches or quits.
//
// Beyond those keys: Space pauses and resumes picture and sound together; PageUp and PageDown
// (or Shift with left and right) move 10 s back and ahead within the movie, stopping at its first
// and last frame; Home starts the movie again; F1 or "?" shows the keys over the picture until the
// next key. These act once per press, as the others do. A movie or folder dropped on the window
// plays: its folder becomes the list. The window's title names the movie playing.
//
// A movie that cannot be opened (missing or damaged) is said once, with the file and the reason,
// and tried again after a pause that doubles up to a second, so that it costs next to nothing.
// The message loop waits on the window's queue through that pause instead of sleeping, and acts on
// a key-down before it takes the next message, so a press and release that come together are never
// lost.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/window/window_message.h"
#include "player/shell/movie_list.h"
#include "player/shell/player_configuration.h"
#include "player/video/display.h"
#include "player/video/movie.h"

namespace reel {

// The player's window as the shell drives it.
class ShellWindow {
 public:
  virtual ~ShellWindow() = default;
  virtual void PostCloseRequest() = 0;
  // Destroys the window; the shell's handler then receives the destroy message.
  virtual void DestroyWindow() = 0;
  virtual void PostQuit(int32_t code) = 0;
  // The whole window is to be painted again.
  virtual void Invalidate() = 0;
  // The title names the movie playing (none: no movie).
  virtual void ShowMovieTitle(const std::string& /*movieName*/) {}
};

// The music slot: volume changes go to channel 0 of the audio output.
class MusicControl {
 public:
  virtual ~MusicControl() = default;
  virtual void SetMusicVolume(int32_t volume) = 0;
};

// The key counters, in the order of DisplayKeys: up, down, left, right, A, B, C.
enum KeyIndex : std::size_t { kVolumeUp, kVolumeDown, kPrevious, kNext, kCloseA, kCloseB, kCloseC, kKeyCount };

// The keys beyond DisplayKeys, each counted as those are.
enum ExtraKeyIndex : std::size_t { kPause, kSeekBack, kSeekAhead, kRestart, kHelp, kExtraKeyCount };

// How far PageUp and PageDown move within a movie.
inline constexpr int64_t kSeekStepMs = 10000;

// The lines of the keys' panel.
const std::vector<std::string>& HelpLines();

inline constexpr int32_t kVolumeStep = 5;
inline constexpr int32_t kVolumeMaximum = 100;
inline constexpr int32_t kVolumeMinimumByKeys = 5;

// Where the message loop takes the window's messages from.
class MessageSource {
 public:
  virtual ~MessageSource() = default;
  // The next waiting message, waiting for one up to `timeout`; none when none came.
  virtual std::optional<WindowMessage> WaitMessage(std::chrono::milliseconds timeout) = 0;
};

// After a movie could not be opened the next attempt waits this long, doubled after each failure
// up to the longest pause.
inline constexpr std::chrono::milliseconds kFirstRetryPause{10};
inline constexpr std::chrono::milliseconds kLongestRetryPause{1000};

class PlayerShell {
 public:
  using ProblemReporter = std::function<void(const std::string&)>;

  // `folder` ends with "/". The shell works through the given parts, which outlive it; `ticks`
  // times the retries of a movie that cannot be opened.
  PlayerShell(std::string folder, MovieSlot& movies, Display& display, MusicControl& music, ShellWindow& window,
              TickSource ticks = SystemTickCount);

  // Where a movie that cannot be opened is said (once per movie and reason); nowhere by default.
  void SetProblemReporter(ProblemReporter report) { report_ = std::move(report); }

  // Takes over the configuration read at start-up: volume, whole-file flag, list, current movie.
  void Configure(PlayerConfiguration configuration);

  // Handles one message of the window; returns the message's result.
  int32_t HandleMessage(const WindowMessage& message);
  // One idle step: keys, movie switching, close requests, the movie's tick.
  void Tick();
  // How long the loop may wait for a message before the next tick: until the playing movie's next
  // frame is due, 0 when a movie is to be opened, the rest of the retry pause while the current
  // movie cannot be opened.
  std::chrono::milliseconds IdleWait() const;

  int32_t Volume() const { return volume_; }
  std::size_t MovieIndex() const { return movieIndex_; }
  const std::string& CurrentName() const { return currentName_; }
  // Where video.cfg lies; the movies' folder starts as the same and changes when one is dropped.
  const std::string& Folder() const { return folder_; }
  const std::string& MovieFolder() const { return movieFolder_; }
  uint32_t KeyCount(KeyIndex key) const { return keyCount_[key]; }
  bool Paused() const { return movies_.Paused(); }
  bool HelpShown() const { return helpShown_; }

 private:
  void KeyDown(const WindowMessage& message);
  void KeyUp(uint32_t virtualKey);
  bool TakeKey(KeyIndex key);
  bool TakeExtraKey(ExtraKeyIndex key);
  void ExtraKeyDown(ExtraKeyIndex key);
  void ShowHelp(bool shown);
  void PlayDropped(const std::string& path);
  void ChangeVolume(int32_t step);
  void SwitchMovie(std::size_t index);
  void OpenCurrentMovie();
  void ReportPictureProblem();
  bool RetryDue() const;

  std::string folder_;
  MovieSlot& movies_;
  Display& display_;
  MusicControl& music_;
  ShellWindow& window_;
  std::array<uint32_t, kKeyCount> keys_{};
  std::array<uint32_t, kKeyCount> keyCount_{};
  std::array<uint32_t, kExtraKeyCount> extraKeyCount_{};
  bool helpShown_ = false;
  std::string movieFolder_;
  MovieList movieList_;
  std::size_t movieIndex_ = 0;
  std::string currentName_;
  int32_t volume_ = kDefaultVolume;
  bool wholeFile_ = false;
  bool buttonDown_ = false;
  TickSource ticks_;
  ProblemReporter report_;
  std::string lastRefusal_;     // the failure said last; cleared when a movie opens
  std::string pictureProblemMovie_;  // the movie whose pictures the user was last told cannot be shown
  uint32_t retryPause_ = 0;     // milliseconds; 0 while nothing has failed
  uint32_t nextRetry_ = 0;      // tick count of the next attempt
};

// Runs the message loop until the quit message and returns its code: each waiting message goes to
// the shell, and whenever none is waiting (or right after a key-down) `beforeTick` runs and then
// the shell's tick.
int32_t RunMessageLoop(MessageSource& messages, PlayerShell& shell, const std::function<void()>& beforeTick = {});

}  // namespace reel
