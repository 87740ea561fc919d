#include "player/shell/player_shell.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "player/video/text_panel.h"

namespace reel {
namespace {

bool IsArrow(std::size_t key) { return key <= kNext; }

// The key each of the extra keys is, bar Shift with the arrows.
constexpr std::array<uint32_t, kExtraKeyCount> kExtraKeys = {kKeySpace, kKeyPageUp, kKeyPageDown, kKeyHome, kKeyF1};

}  // namespace

const std::vector<std::string>& HelpLines() {
  static const std::vector<std::string> lines = {
      "Keys",
      "",
      "Space          pause / go on",
      "PgUp  PgDn     10 s back / ahead",
      "Shift+Left     10 s back",
      "Shift+Right    10 s ahead",
      "Home           from the start",
      "Left  Right    previous / next movie",
      "Up  Down       volume",
      "F11            full screen",
      "Z X C, click   quit",
      "F1  ?          these keys",
  };
  return lines;
}

PlayerShell::PlayerShell(std::string folder, MovieSlot& movies, Display& display, MusicControl& music,
                         ShellWindow& window, TickSource ticks)
    : folder_(std::move(folder)), movies_(movies), display_(display), music_(music), window_(window),
      movieFolder_(folder_), ticks_(std::move(ticks)) {
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

void PlayerShell::ExtraKeyDown(ExtraKeyIndex key) { ++extraKeyCount_[key]; }

void PlayerShell::KeyDown(const WindowMessage& message) {
  const uint32_t virtualKey = message.virtualKey;
  // The keys' panel goes at the next key (F1 itself toggles it at the tick).
  if (helpShown_ && virtualKey != 0 && virtualKey != kKeyF1) ShowHelp(false);
  if (message.shift && (virtualKey == keys_[kPrevious] || virtualKey == keys_[kNext])) {
    ExtraKeyDown(virtualKey == keys_[kPrevious] ? kSeekBack : kSeekAhead);
    return;
  }
  for (std::size_t key = 0; key < kExtraKeyCount; ++key) {
    if (kExtraKeys[key] == virtualKey) {
      ExtraKeyDown(static_cast<ExtraKeyIndex>(key));
      return;
    }
  }
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
  if (virtualKey == 0) return;
  for (std::size_t key = 0; key < kKeyCount; ++key) {
    if (keys_[key] == virtualKey) keyCount_[key] = 0;
  }
  for (std::size_t key = 0; key < kExtraKeyCount; ++key) {
    if (kExtraKeys[key] == virtualKey) extraKeyCount_[key] = 0;
  }
  if (virtualKey == keys_[kPrevious]) extraKeyCount_[kSeekBack] = 0;
  if (virtualKey == keys_[kNext]) extraKeyCount_[kSeekAhead] = 0;
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
      KeyDown(message);
      return 0;
    case WindowMessageType::Char:
      if (message.code == '?') ShowHelp(!helpShown_);
      return 0;
    case WindowMessageType::DropFile:
      PlayDropped(message.path);
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

bool PlayerShell::TakeExtraKey(ExtraKeyIndex key) {
  if (extraKeyCount_[key] != 1) return false;
  extraKeyCount_[key] = 0;
  return true;
}

void PlayerShell::ShowHelp(bool shown) {
  helpShown_ = shown;
  display_.SetOverlay(shown ? Display::Overlay([](Display& display) { return DrawTextPanel(display, HelpLines()); })
                            : Display::Overlay());
  if (movies_.IsMovieOpen()) {
    movies_.Redraw();
  } else {
    ClearSurface(display_);
  }
}

// A movie plays from its folder, which becomes the list; a folder plays its first movie.
void PlayerShell::PlayDropped(const std::string& path) {
  std::error_code error;
  const std::filesystem::path dropped(path);
  std::string folder;
  std::string name;
  if (std::filesystem::is_directory(dropped, error)) {
    folder = WithTrailingSlash(path);
  } else if (std::filesystem::is_regular_file(dropped, error) && IsMovieFileName(dropped.filename().string())) {
    folder = WithTrailingSlash(dropped.parent_path().string());
    name = dropped.filename().string();
  } else {
    if (report_) report_("cannot play " + path + ": not a movie or a folder");
    return;
  }
  MovieList list = BuildMovieList(folder);
  const std::optional<std::size_t> index = name.empty() ? std::optional<std::size_t>(0) : list.Find(name);
  if (list.Empty() || !index) {
    if (report_) report_("cannot play " + path + ": no movie there");
    return;
  }
  movieFolder_ = folder;
  movieList_ = std::move(list);
  SwitchMovie(*index);
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
  const Status opened = movies_.OpenMovie(movieFolder_, currentName_, volume_, wholeFile_);
  if (opened) {
    retryPause_ = 0;
    lastRefusal_.clear();
    window_.ShowMovieTitle(currentName_);
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
  if (TakeExtraKey(kPause)) movies_.SetPaused(!movies_.Paused());
  if (TakeExtraKey(kRestart)) {
    movies_.CloseMovie();
    retryPause_ = 0;
    OpenCurrentMovie();
  }
  if (TakeExtraKey(kSeekBack)) movies_.SeekBy(-kSeekStepMs);
  if (TakeExtraKey(kSeekAhead)) movies_.SeekBy(kSeekStepMs);
  if (TakeExtraKey(kHelp)) ShowHelp(!helpShown_);
  if (movies_.IsMovieOpen()) {
    if (!movies_.TickMovie()) movies_.CloseMovie();
  } else if (RetryDue()) {
    OpenCurrentMovie();
  }
  ReportPictureProblem();
}

// A movie whose pictures cannot be shown plays as its sound over a black window: the user is told
// why.
void PlayerShell::ReportPictureProblem() {
  const std::optional<std::string> problem = movies_.TakePictureProblem();
  if (!problem) return;
  // A movie that plays again (the list of one, a restart) is not told about again.
  const std::string movie = movieFolder_ + currentName_;
  if (movie == pictureProblemMovie_) return;
  pictureProblemMovie_ = movie;
  if (report_) report_(movie + ": " + *problem);
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
