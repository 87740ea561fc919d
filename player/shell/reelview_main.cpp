// reelview: the player program. The command line, start-up, the message loop and shut-down, in
// that order; the shell does the work in between.
//
// Exit status: the quit message's code (0) after a normal close, and after finding another player
// running on the same display; 1 when there is no display, or the window or the display cannot be
// opened, which the player cannot do without (the reason goes to standard error), and when the
// volume could not be saved to video.cfg (a folder that cannot be written: the player plays all
// the same and says so in one line at the end); 2 for a command line it does not take. A movie
// that cannot be played is said once on standard error. A sound device that cannot be opened or
// fails while playing is reported on standard error and the player goes on without sound.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/project_version.h"
#include "platform/window/close_signals.h"
#include "platform/window/instance_lock.h"
#include "platform/window/player_window.h"
#include "player/audio/audio_output.h"
#include "player/shell/command_line.h"
#include "player/shell/player_configuration.h"
#include "player/shell/player_shell.h"
#include "player/shell/settings_document.h"
#include "player/video/display.h"
#include "player/video/movie.h"

namespace reel {
namespace {

constexpr char kWindowClass[] = "REEL-ENGINE";
constexpr char kWindowTitle[] = "動画再生 for PocketPC";
constexpr char kDisplayFailure[] = "GAPIライブラリのロードに失敗しました";
constexpr char kDisplayFailureCaption[] = "Error";
constexpr int kExitDeviceFailure = 1;
constexpr int kExitNotSaved = 1;
constexpr int kExitUsage = 2;

void ReportProblem(const std::string& message) { std::cerr << "reelview: " << message << std::endl; }

// Channel 0 of the audio output: the movie's sound, its clock and the music volume.
class MusicChannel : public MovieSound, public MusicControl {
 public:
  explicit MusicChannel(AudioOutput& audio) : audio_(audio) {}
  void StartMusic(const std::string& folder, const std::string& fileName, int32_t volume, bool wholeFile) override {
    static_cast<void>(audio_.OpenChannel(0, fileName, folder, volume, false, true, wholeFile));
  }
  int32_t MusicPosition() override { return audio_.ChannelPosition(0); }
  std::optional<uint32_t> MusicStartFrame() override { return audio_.ChannelStartFrame(0); }
  void PauseMusic(bool paused) override { audio_.Pause(paused); }
  std::optional<int32_t> SeekMusic(uint32_t milliseconds) override {
    return audio_.SeekChannel(0, static_cast<int32_t>(std::min<uint32_t>(milliseconds, INT32_MAX)));
  }
  void SetMusicVolume(int32_t volume) override {
    if (enabled_) audio_.SetChannelVolume(0, volume);
  }

 private:
  AudioOutput& audio_;
  bool enabled_ = true;
};

class WindowSurface : public WindowPresenter {
 public:
  explicit WindowSurface(PlayerWindow& window) : window_(window) {}
  uint32_t ClientWidth() const override { return window_.ClientWidth(); }
  uint32_t ClientHeight() const override { return window_.ClientHeight(); }
  void CopyToWindow(std::span<const uint16_t> pixels, uint32_t width, uint32_t height,
                    const WindowRect& rect) override {
    window_.PresentSurface(pixels, width, height, rect.left, rect.top, rect.right, rect.bottom);
  }
  bool ResizeSurface(uint32_t width, uint32_t height) override {
    if (!window_.OpenSurface(width, height)) return false;
    window_.FitToPicture(width, height);
    return true;
  }

 private:
  PlayerWindow& window_;
};

class ShellWindowLink : public ShellWindow {
 public:
  explicit ShellWindowLink(PlayerWindow& window) : window_(window) {}
  void Attach(PlayerShell& shell) { shell_ = &shell; }
  void PostCloseRequest() override { window_.PostMessage(MakeMessage(WindowMessageType::Close)); }
  void DestroyWindow() override {
    if (!window_.Exists()) return;
    window_.Destroy();
    if (shell_ != nullptr) shell_->HandleMessage(MakeMessage(WindowMessageType::Destroy));
  }
  void PostQuit(int32_t code) override { window_.PostQuit(code); }
  void Invalidate() override { window_.PostMessage(MakeMessage(WindowMessageType::Paint)); }
  void ShowMovieTitle(const std::string& movieName) override {
    window_.SetTitle(movieName.empty() ? std::string(kWindowTitle) : movieName + " - " + kWindowTitle);
  }

 private:
  PlayerWindow& window_;
  PlayerShell* shell_ = nullptr;
};

// With REELVIEW_TRACE naming a file, one line is appended to it for every movie opened, "movie
// PATH"; for every picture presented, "frame K CLOCK_MS", the movie's frame index and the playback
// clock in milliseconds; and, when a movie's sound starts, "sound N": its first sample is sample
// frame N of the sound output.
PlaybackObserver OpenPlaybackTrace() {
  const char* path = std::getenv("REELVIEW_TRACE");
  if (path == nullptr || *path == '\0') return {};
  auto trace = std::make_shared<std::ofstream>(path, std::ios::app);
  if (!*trace) {
    ReportProblem(std::string(path) + ": the trace file cannot be opened");
    return {};
  }
  return PlaybackObserver{
      [trace](uint32_t frame, uint32_t clockMs) {
        *trace << "frame " << frame << ' ' << clockMs << '\n' << std::flush;
      },
      [trace](uint32_t outputFrame) { *trace << "sound " << outputFrame << '\n' << std::flush; },
      [trace](const std::string& moviePath) { *trace << "movie " << moviePath << '\n' << std::flush; }};
}

// The program folder: the current directory, ending with "/".
std::string ProgramFolder() {
  std::error_code error;
  std::string folder = std::filesystem::current_path(error).string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

class WindowMessages : public MessageSource {
 public:
  explicit WindowMessages(PlayerWindow& window) : window_(window) {}
  std::optional<WindowMessage> WaitMessage(std::chrono::milliseconds timeout) override {
    return window_.WaitMessage(timeout);
  }

 private:
  PlayerWindow& window_;
};

int RunPlayer(const StartRequest& request) {
  const std::string& folder = request.folder;

  // The window (still hidden) first: the one player allowed is one per display. The sound output
  // comes after the window and its surface: the graphics library's settings are not guarded
  // against its own sound thread, which reads them while the window's set-up writes them.
  Result<std::unique_ptr<PlayerWindow>> created = PlayerWindow::Create(kWindowTitle, kScreenWidth, kScreenHeight);
  if (!created) {
    ReportProblem(created.error().message);
    return kExitDeviceFailure;
  }
  const std::unique_ptr<PlayerWindow> window = std::move(*created);
  const InstanceLock::Acquisition instance =
      InstanceLock::Acquire(std::string(kWindowClass) + "@" + PlayerWindow::DisplayName());
  if (instance.outcome == InstanceLock::Outcome::AnotherRunning) {
    return 0;
  }
  InstallCloseSignalHandlers();

  WindowSurface surface(*window);
  Display display;
  Status displayOpen = display.Open(&surface)
                           ? window->OpenSurface(display.SurfaceWidth(), display.SurfaceHeight())
                           : Status(MakeError(ErrorKind::kDevice, "", "the display cannot be opened"));
  if (!displayOpen) {
    ReportProblem(displayOpen.error().message);
    ShowErrorBox(kDisplayFailureCaption, kDisplayFailure);
    return kExitDeviceFailure;
  }
  AudioOutput audio([](const Error& error) { ReportProblem(error.message); });
  MusicChannel music(audio);
  MovieSlot movies(display, music);
  movies.SetDisplayProperties(display.GetDisplayProperties());
  movies.SetObserver(OpenPlaybackTrace());
  window->BringToFront();
  window->Show();

  ShellWindowLink link(*window);
  PlayerShell shell(folder, movies, display, music, link);
  link.Attach(shell);
  shell.SetProblemReporter(ReportProblem);
  PlayerConfiguration configuration = LoadPlayerConfiguration(folder);
  if (request.movie) ChooseMovie(configuration, *request.movie);
  shell.Configure(std::move(configuration));

  WindowMessages messages(*window);
  InstanceLock* const lock = instance.lock.get();
  const int32_t exitCode = RunMessageLoop(messages, shell, [&window, lock] {
    if (lock != nullptr && lock->FrontRequested()) window->BringToFront();
  });

  display.Close();
  const Status saved = SaveSettings();
  if (!saved) ReportProblem("the volume could not be saved: " + saved.error().message);
  audio.CloseAudio();
  movies.CloseMovie();
  return saved ? exitCode : kExitNotSaved;
}

int Run(int argc, char** argv) {
  std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
  const Result<StartRequest> request = ParseCommandLine(arguments, ProgramFolder());
  if (!request) {
    ReportProblem(request.error().message);
    std::cerr << "Try 'reelview --help'." << std::endl;
    return kExitUsage;
  }
  switch (request->action) {
    case StartRequest::Action::kHelp:
      std::cout << UsageText();
      return 0;
    case StartRequest::Action::kVersion:
      std::cout << "reelview " << kProjectVersion << std::endl;
      return 0;
    case StartRequest::Action::kPlay:
      break;
  }
  return RunPlayer(*request);
}

}  // namespace
}  // namespace reel

int main(int argc, char** argv) { return reel::Run(argc, argv); }
