// PlayerShell: the player's keys, message handling and idle tick.
//
// The shell counts key-downs per key and acts on a count of exactly 1 at the next tick, so a key
// held down (auto-repeat) acts once until it is released. The four arrows exclude each other:
// while one is counted, the others are ignored. Up and down change the music volume by 5 (at most
// 100, at least 5), left and right switch to the previous or next movie with wrap-around, and Z, X,
// C or a click close the player. Each tick then advances the open movie, or opens the current one
// again when none is open, so a movie repeats until the user switches or quits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

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
};

// The music slot: volume changes go to channel 0 of the audio output.
class MusicControl {
 public:
  virtual ~MusicControl() = default;
  virtual void SetMusicVolume(int32_t volume) = 0;
};

// The key counters, in the order of DisplayKeys: up, down, left, right, A, B, C.
enum KeyIndex : std::size_t { kVolumeUp, kVolumeDown, kPrevious, kNext, kCloseA, kCloseB, kCloseC, kKeyCount };

inline constexpr int32_t kVolumeStep = 5;
inline constexpr int32_t kVolumeMaximum = 100;
inline constexpr int32_t kVolumeMinimumByKeys = 5;

class PlayerShell {
 public:
  // `folder` ends with "/". The shell works through the given parts, which outlive it.
  PlayerShell(std::string folder, MovieSlot& movies, Display& display, MusicControl& music, ShellWindow& window);

  // Takes over the configuration read at start-up: volume, whole-file flag, list, current movie.
  void Configure(PlayerConfiguration configuration);

  // Handles one message of the window; returns the message's result.
  int32_t HandleMessage(const WindowMessage& message);
  // One idle step: keys, movie switching, close requests, the movie's tick.
  void Tick();

  int32_t Volume() const { return volume_; }
  std::size_t MovieIndex() const { return movieIndex_; }
  const std::string& CurrentName() const { return currentName_; }
  const std::string& Folder() const { return folder_; }
  uint32_t KeyCount(KeyIndex key) const { return keyCount_[key]; }

 private:
  void KeyDown(uint32_t virtualKey);
  void KeyUp(uint32_t virtualKey);
  bool TakeKey(KeyIndex key);
  void ChangeVolume(int32_t step);
  void SwitchMovie(std::size_t index);
  void OpenCurrentMovie();

  std::string folder_;
  MovieSlot& movies_;
  Display& display_;
  MusicControl& music_;
  ShellWindow& window_;
  std::array<uint32_t, kKeyCount> keys_{};
  std::array<uint32_t, kKeyCount> keyCount_{};
  MovieList movieList_;
  std::size_t movieIndex_ = 0;
  std::string currentName_;
  int32_t volume_ = kDefaultVolume;
  bool wholeFile_ = false;
  bool buttonDown_ = false;
};

}  // namespace reel
