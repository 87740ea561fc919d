#include "bench/player/endurance_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>
#include <thread>

#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "player/audio/audio_output.h"
#include "player/audio/mp3_plugin.h"
#include "player/shell/player_configuration.h"
#include "player/shell/player_shell.h"
#include "player/shell/settings_document.h"
#include "player/video/display.h"
#include "player/video/movie.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFrameRate = 15;
constexpr auto kWarmUp = std::chrono::seconds(5);  // the start figure is taken after this
constexpr auto kSampleEvery = std::chrono::seconds(1);

class NullPresenter : public WindowPresenter {
 public:
  uint32_t ClientWidth() const override { return kScreenWidth; }
  uint32_t ClientHeight() const override { return kScreenHeight; }
  void CopyToWindow(std::span<const uint16_t>, uint32_t, uint32_t, const WindowRect&) override {}
};

// Channel 0 of the audio output, as the player uses it.
class MusicChannel : public MovieSound, public MusicControl {
 public:
  explicit MusicChannel(AudioOutput& audio) : audio_(audio) {}
  void StartMusic(const std::string& folder, const std::string& fileName, int32_t volume, bool wholeFile) override {
    static_cast<void>(audio_.OpenChannel(0, fileName, folder, volume, false, true, wholeFile));
  }
  int32_t MusicPosition() override { return audio_.ChannelPosition(0); }
  void SetMusicVolume(int32_t volume) override { audio_.SetChannelVolume(0, volume); }

 private:
  AudioOutput& audio_;
};

// The window's part: messages posted to it come back from the schedule's queue.
class QueuedWindow : public ShellWindow {
 public:
  void Attach(PlayerShell& shell) { shell_ = &shell; }
  void PostCloseRequest() override { queue.push_back(MakeMessage(WindowMessageType::Close)); }
  void DestroyWindow() override {
    if (destroyed_) return;
    destroyed_ = true;
    shell_->HandleMessage(MakeMessage(WindowMessageType::Destroy));
  }
  void PostQuit(int32_t code) override {
    WindowMessage quit = MakeMessage(WindowMessageType::Quit);
    quit.code = code;
    queue.push_back(quit);
  }
  void Invalidate() override {}

  std::deque<WindowMessage> queue;

 private:
  PlayerShell* shell_ = nullptr;
  bool destroyed_ = false;
};

// The right arrow pressed and released every `every`, and a close request at `end`; resident
// memory sampled while waiting.
class ScheduledKeys : public MessageSource {
 public:
  ScheduledKeys(QueuedWindow& window, Clock::time_point end, std::chrono::milliseconds every,
                EnduranceReport& report, const std::function<void(const std::string&)>& progress)
      : window_(window), start_(Clock::now()), end_(end), every_(every), nextSwitch_(start_ + every),
        nextSample_(start_ + kSampleEvery), nextMinute_(start_ + std::chrono::minutes(1)), report_(report),
        progress_(progress) {}

  std::optional<WindowMessage> WaitMessage(std::chrono::milliseconds timeout) override {
    if (!window_.queue.empty()) {
      const WindowMessage message = window_.queue.front();
      window_.queue.pop_front();
      return message;
    }
    const Clock::time_point now = Clock::now();
    Sample(now);
    if (now >= end_ && !closing_) {
      closing_ = true;
      report_.endRssBytes = ResidentBytes();
      return MakeMessage(WindowMessageType::Close);
    }
    if (now >= nextSwitch_ && !closing_) {
      nextSwitch_ += every_;
      ++report_.switches;
      window_.queue.push_back(MakeMessage(WindowMessageType::KeyUp, kKeyRight));
      return MakeMessage(WindowMessageType::KeyDown, kKeyRight);
    }
    std::this_thread::sleep_until(std::min({now + timeout, nextSwitch_, nextSample_, end_}));
    return std::nullopt;
  }

 private:
  void Sample(Clock::time_point now) {
    if (now < nextSample_) return;
    nextSample_ += kSampleEvery;
    const uint64_t resident = ResidentBytes();
    if (now - start_ >= kWarmUp) {
      if (report_.startRssBytes == 0) report_.startRssBytes = resident;
      report_.peakRssBytes = std::max(report_.peakRssBytes, resident);
    }
    if (now >= nextMinute_ && progress_) {
      nextMinute_ += std::chrono::minutes(1);
      progress_(std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - start_).count()) +
                " s: resident " + std::to_string(resident / 1024) + " KiB, " + std::to_string(report_.switches) +
                " switches");
    }
  }

  QueuedWindow& window_;
  Clock::time_point start_;
  Clock::time_point end_;
  std::chrono::milliseconds every_;
  Clock::time_point nextSwitch_;
  Clock::time_point nextSample_;
  Clock::time_point nextMinute_;
  EnduranceReport& report_;
  const std::function<void(const std::string&)>& progress_;
  bool closing_ = false;
};

Status MakeMovies(const EnduranceOptions& options) {
  const uint32_t frames = options.movieSeconds * kFrameRate;
  for (uint32_t movie = 0; movie < options.movieCount; ++movie) {
    const std::string base = options.folder + "movie" + std::to_string(movie);
    QrxOutput output = CreateQrxFile(base + ".qrx");
    static_cast<void>(BeginQrx(output, frames, kFrameRate, PictureSizeChoice::k320x240));
    SetQrxPictureSize(output, options.width, options.height);
    for (uint32_t k = 0; k < frames; ++k) {
      std::optional<std::vector<uint8_t>> coded = CodeCoefficients(MakeSampleCoefficients(options.width, options.height, 50, k + 7 * movie), 50);
      if (!coded) return MakeError(ErrorKind::kUnsupported, base + ".qrx", "a sample frame cannot be coded");
      static_cast<void>(AppendQrxFrame(output, *coded));
    }
    if (Status finished = FinishQrx(output); !finished) return finished.error();
    if (!options.withSound || movie + 1 == options.movieCount) continue;  // the last one plays silent
    const std::string make = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=" + std::to_string(300 + 200 * movie) +
                             ":duration=" + std::to_string(options.movieSeconds) + " -ar 22050 -ac 2 -b:a 64k '" +
                             base + ".mp3'";
    if (std::system(make.c_str()) != 0) return MakeError(ErrorKind::kCannotWrite, base + ".mp3", "the ffmpeg tool failed");
  }
  return {};
}

}  // namespace

uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0;
  uint64_t resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

Result<EnduranceReport> RunEndurance(const EnduranceOptions& options) {
  if (Status made = MakeMovies(options); !made) return made.error();
  if (!options.pluginPath.empty()) Mp3Plugin::SetModuleName(options.pluginPath);
  EnduranceReport report;
  {
    AudioOutput audio([](const Error&) {});
    MusicChannel music(audio);
    NullPresenter presenter;
    Display display;
    display.Open(&presenter);
    MovieSlot movies(display, music);
    movies.SetDisplayProperties(display.GetDisplayProperties());
    PlaybackObserver observer;
    observer.framePresented = [&report](uint32_t frame, uint32_t) {
      ++report.framesShown;
      if (frame == 0) ++report.moviesOpened;
    };
    movies.SetObserver(std::move(observer));
    QueuedWindow window;
    PlayerShell shell(options.folder, movies, display, music, window);
    window.Attach(shell);
    shell.Configure(LoadPlayerConfiguration(options.folder));
    ScheduledKeys keys(window, Clock::now() + options.duration, options.switchEvery, report, options.progress);
    RunMessageLoop(keys, shell);
    display.Close();
    static_cast<void>(SaveSettings());
    audio.CloseAudio();
    movies.CloseMovie();
  }
  return report;
}

}  // namespace reel
