#include "player/shell/player_shell.h"

#include <algorithm>
#include <utility>

namespace reel {
namespace {

bool IsArrow(std::size_t key) { return key <= kNext; }

}  // namespace

PlayerShell::PlayerShell(std::string folder, MovieSlot& movies, Display& display, MusicControl& music,
                         ShellWindow& window, TickSource ticks)
    : folder_(std::move(folder)), movies_(movies), display_(display), music_(music), window_(window),
      ticks_(std::move(ticks)) {
  const DisplayKeys keys = GetDefaultKeys();
  keys_ = {keys.up, keys.down, keys.left, keys.right, keys.buttonA, keys.buttonB, keys.buttonC};
}

void PlayerShell::Configure(PlayerConfiguration configuration) {
  volume_ = configuration.volume;
  wholeFile_ = configuration.wholeFile;
  movieList_ = std::move(configuration.movies);
  movieIndex_ = configuration.movieIndex;
  currentName_ = std::move(configuration.currentName);
}

void PlayerShell::KeyDown(uint32_t virtualKey) {
  for (std::size_t key = 0; key < kKeyCount; ++key) {
    if (keys_[key] != virtualKey || virtualKey == 0) continue;
    bool blocked = false;
    if (IsArrow(key)) {
      for (std::size_t other = 0; other <= kNext; ++other) blocked |= other != key && keyCount_[other] != 0;
    }
    if (!blocked) ++keyCount_[key];
  }
}

void PlayerShell::KeyUp(uint32_t virtualKey) {
  for (std::size_t key = 0; key < kKeyCount; ++key) {
    if (keys_[key] == virtualKey && virtualKey != 0) keyCount_[key] = 0;
  }
}

int32_t PlayerShell::HandleMessage(const WindowMessage& message) {
  switch (message.type) {
    case WindowMessageType::Destroy:
      StoreVolume(folder_, volume_);
      window_.PostQuit(0);
      return 0;
    case WindowMessageType::Paint:
      RepaintSurface(display_);
      return 0;
    case WindowMessageType::Close:
      window_.DestroyWindow();
      return 0;
    case WindowMessageType::KeyDown:
      KeyDown(message.virtualKey);
      return 0;
    case WindowMessageType::KeyUp:
      KeyUp(message.virtualKey);
      return 0;
    case WindowMessageType::LeftButtonDown:
      buttonDown_ = true;
      window_.PostCloseRequest();
      return 0;
    case WindowMessageType::LeftButtonUp:
      buttonDown_ = false;
      return 0;
    case WindowMessageType::Size:
      window_.Invalidate();
      return 0;
    default:
      return 0;
  }
}

bool PlayerShell::TakeKey(KeyIndex key) {
  if (keyCount_[key] != 1) return false;
  keyCount_[key] = 0;
  return true;
}

void PlayerShell::ChangeVolume(int32_t step) {
  volume_ += step;
  if (step > 0 && volume_ > kVolumeMaximum) volume_ = kVolumeMaximum;
  if (step < 0 && volume_ < kVolumeMinimumByKeys) volume_ = kVolumeMinimumByKeys;
  music_.SetMusicVolume(volume_);
}

void PlayerShell::SwitchMovie(std::size_t index) {
  movieIndex_ = index;
  movies_.CloseMovie();
  currentName_ = movieList_.At(movieIndex_);
  retryPause_ = 0;  // the user's choice is tried at once
  OpenCurrentMovie();
}

void PlayerShell::OpenCurrentMovie() {
  const Status opened = movies_.OpenMovie(folder_, currentName_, volume_, wholeFile_);
  if (opened) {
    retryPause_ = 0;
    lastRefusal_.clear();
    return;
  }
  if (opened.error().message != lastRefusal_) {
    lastRefusal_ = opened.error().message;
    if (report_) report_("cannot play " + lastRefusal_);
  }
  const auto first = static_cast<uint32_t>(kFirstRetryPause.count());
  const auto longest = static_cast<uint32_t>(kLongestRetryPause.count());
  retryPause_ = retryPause_ == 0 ? first : std::min(2 * retryPause_, longest);
  nextRetry_ = ticks_() + retryPause_;
}

bool PlayerShell::RetryDue() const {
  return retryPause_ == 0 || static_cast<int32_t>(ticks_() - nextRetry_) >= 0;
}

std::chrono::milliseconds PlayerShell::IdleWait() const {
  if (movies_.IsMovieOpen()) return movies_.TimeToNextFrame();
  if (RetryDue()) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(nextRetry_ - ticks_());
}

void PlayerShell::Tick() {
  if (TakeKey(kVolumeUp)) ChangeVolume(kVolumeStep);
  if (TakeKey(kVolumeDown)) ChangeVolume(-kVolumeStep);
  if (movieList_.Size() > 1) {
    const std::size_t count = movieList_.Size();
    if (TakeKey(kNext)) SwitchMovie((movieIndex_ + 1) % count);
    if (TakeKey(kPrevious)) SwitchMovie(movieIndex_ == 0 ? count - 1 : movieIndex_ - 1);
  }
  for (const KeyIndex key : {kCloseC, kCloseA, kCloseB}) {
    if (keyCount_[key] == 1) window_.PostCloseRequest();
  }
  if (movies_.IsMovieOpen()) {
    if (!movies_.TickMovie()) movies_.CloseMovie();
  } else if (RetryDue()) {
    OpenCurrentMovie();
  }
}

int32_t RunMessageLoop(MessageSource& messages, PlayerShell& shell, const std::function<void()>& beforeTick) {
  for (;;) {
    if (const std::optional<WindowMessage> message = messages.WaitMessage(shell.IdleWait())) {
      if (message->type == WindowMessageType::Quit) return message->code;
      shell.HandleMessage(*message);
      // A key's release must not reach the shell before its press has been acted on.
      if (message->type != WindowMessageType::KeyDown) continue;
    }
    if (beforeTick) beforeTick();
    shell.Tick();
  }
}

}  // namespace reel
