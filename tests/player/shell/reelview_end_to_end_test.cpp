// reelview as a whole, headless: SDL's dummy video driver and its disk audio driver, which writes
// the sound output to a file we can compare with a direct decode of the MP3.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

void WriteSampleMovie(const std::string& path, uint32_t frames, uint32_t rate) {
  QrxOutput movie = CreateQrxFile(path);
  BeginQrx(movie, frames, rate, kPictureSize320x240);
  SetQrxPictureSize(movie, 176, 144);
  for (uint32_t k = 0; k < frames; ++k) AppendQrxFrame(movie, *CodeCoefficients(MakeSampleCoefficients(176, 144, 50, k), 50));
  ASSERT_TRUE(FinishQrx(movie)) << movie.error;
}

std::vector<int16_t> ReadSamples(const std::string& path) {
  const std::vector<uint8_t> bytes = test::ReadAllBytes(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

// A running player in `folder`, headless; its standard error goes to soundFile + ".err" there.
class Player {
 public:
  Player(const std::string& folder, const std::string& soundFile, const char* videoDriver = "dummy",
         const char* audioDriver = "disk")
      : errorsPath_(folder + soundFile + ".err") {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      const int errors = ::open((folder + soundFile + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (errors < 0 || ::dup2(errors, 2) < 0) ::_exit(127);
      if (videoDriver != nullptr) {
        ::setenv("SDL_VIDEODRIVER", videoDriver, 1);
        // SDL's off-screen driver loads the system's EGL and GL libraries, which keep allocations
        // until the process ends; in a sanitizer build the leak checker would turn those into a
        // failing exit status that says nothing about the player.
        if (std::string_view(videoDriver) == "offscreen") ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      } else {  // no display at all
        ::unsetenv("SDL_VIDEODRIVER");
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
      }
      ::setenv("SDL_AUDIODRIVER", audioDriver, 1);
      ::setenv("SDL_DISKAUDIOFILE", (folder + soundFile).c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
      ::execl(REELVIEW_PATH, REELVIEW_PATH, static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Player() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int signal) const { ::kill(pid_, signal); }
  // What the player wrote to its standard error (a sanitizer's report among it), for failures.
  std::string Errors() const {
    std::ifstream file(errorsPath_);
    return "reelview's standard error:\n" + std::string(std::istreambuf_iterator<char>(file), {});
  }
  // The exit status, or none when the player has not ended within `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }

 private:
  std::string errorsPath_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

// The largest difference between the played sound and the reference, at the best alignment.
int32_t BestMatch(const std::vector<int16_t>& played, const std::vector<int16_t>& reference, std::size_t count) {
  auto firstLoud = [](const std::vector<int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
      if (std::abs(samples[i]) > 200) return i & ~std::size_t{1};
    }
    return samples.size();
  };
  const std::size_t playedStart = firstLoud(played);
  const std::size_t referenceStart = firstLoud(reference);
  int32_t best = 65536;
  for (std::ptrdiff_t shift = -4000; shift <= 4000; shift += 2) {
    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(playedStart) + shift;
    if (at < 0 || static_cast<std::size_t>(at) + count > played.size() || referenceStart + count > reference.size()) continue;
    int32_t worst = 0;
    for (std::size_t i = 0; i < count && worst < best; ++i) {
      worst = std::max(worst, std::abs(played[static_cast<std::size_t>(at) + i] - reference[referenceStart + i]));
    }
    best = std::min(best, worst);
  }
  return best;
}

TEST(ReelviewEndToEnd, PlaysHeadlessAndClosesOnSignal) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  WriteSampleMovie(folder.Slash() + "clip.qrx", 30, 15);
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i sine=frequency=440:duration=2 -ar 22050 -ac 2 -b:a 64k " +
                                  test::ShellQuoted(folder.Path() / "clip.mp3")));
  ASSERT_TRUE(test::RunFfmpegTool("-i " + test::ShellQuoted(folder.Path() / "clip.mp3") + " -f s16le -ar 22050 -ac 2 " +
                                  test::ShellQuoted(folder.Path() / "reference.raw")));
  folder.WriteFile("video.cfg", "; settings\r\n[VIDEO_CONFIG]\r\nFILE_NAME=clip.qrx\r\n");

  Player player(folder.Slash(), "out.raw");
  std::this_thread::sleep_for(1500ms);
  {
    // A second player finds the first and ends at once.
    Player second(folder.Slash(), "second.raw");
    EXPECT_EQ(second.Wait(10s), std::optional<int>(0));
  }
  std::this_thread::sleep_for(2000ms);
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();

  EXPECT_EQ(folder.ReadFile("video.cfg"),
            "; settings\r\n[VIDEO_CONFIG]\r\nFILE_NAME=clip.qrx\r\n[MUSIC_CONFIG]\r\nMUSIC_VOL=100\r\n");
  const auto played = ReadSamples(folder.Slash() + "out.raw");
  const auto reference = ReadSamples(folder.Slash() + "reference.raw");
  ASSERT_GT(reference.size(), 22050u * 2);
  // One second of sound, stereo, as decoded directly (decoders may round differently by a little).
  EXPECT_LE(BestMatch(played, reference, 22050 * 2), 64);
  // Nothing went wrong, so the player reported nothing (SDL's disk driver speaks for itself).
  EXPECT_EQ(folder.ReadFile("out.raw.err").find("reelview:"), std::string::npos);
}

TEST(ReelviewEndToEnd, AMovieWithALongNamePlaysWithItsSound) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  const std::string base(60, 'm');  // its sound's name passes 64 bytes
  WriteSampleMovie(folder.Slash() + base + ".qrx", 30, 15);
  const std::string make = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=2 -ar 22050 -ac 2 -b:a 64k '" +
                           folder.Slash() + base + ".mp3'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const std::string decode = "ffmpeg -loglevel error -y -i '" + folder.Slash() + base + ".mp3' -f s16le -ar 22050 -ac 2 '" +
                             folder.Slash() + "reference.raw'";
  ASSERT_EQ(std::system(decode.c_str()), 0);
  Player player(folder.Slash(), "out.raw");
  std::this_thread::sleep_for(2500ms);
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
  const auto played = ReadSamples(folder.Slash() + "out.raw");
  const auto reference = ReadSamples(folder.Slash() + "reference.raw");
  ASSERT_GT(reference.size(), 22050u * 2);
  EXPECT_LE(BestMatch(played, reference, 22050 * 2), 64);
}

TEST(ReelviewEndToEnd, WithoutADisplayThePlayerSaysSoAndEnds) {
  test::ScratchFolder folder;
  Player player(folder.Slash(), "out.raw", nullptr, "dummy");
  EXPECT_EQ(player.Wait(15s), std::optional<int>(1)) << player.Errors();
  const std::string errors = folder.ReadFile("out.raw.err");
  EXPECT_EQ(errors.rfind("reelview: there is no display to open the window on", 0), 0u) << errors;
}

TEST(ReelviewEndToEnd, OnePlayerPerDisplayAndARefusedMovieIsSaidOnce) {
  test::ScratchFolder folder;
  folder.WriteFile("bad.qrx", std::string(20, '\xFF'));
  Player dummy(folder.Slash(), "dummy.raw", "dummy", "dummy");
  std::this_thread::sleep_for(1000ms);
  // Another display (here the off-screen one, asked for explicitly) gets a player of its own.
  Player offscreen(folder.Slash(), "offscreen.raw", "offscreen", "dummy");
  EXPECT_EQ(offscreen.Wait(1500ms), std::nullopt);
  offscreen.Signal(SIGTERM);
  EXPECT_EQ(offscreen.Wait(15s), std::optional<int>(0)) << offscreen.Errors();
  dummy.Signal(SIGTERM);
  EXPECT_EQ(dummy.Wait(15s), std::optional<int>(0)) << dummy.Errors();
  const std::string errors = folder.ReadFile("dummy.raw.err");
  const std::string said = "reelview: cannot play " + folder.Slash() + "bad.qrx: not a movie file";
  const std::size_t first = errors.find(said);
  EXPECT_NE(first, std::string::npos) << errors;
  EXPECT_EQ(errors.find(said, first + 1), std::string::npos) << errors;
}

// Movies and their sound cut short, emptied or removed while they play: each ends that movie
// (the player goes on, says what it cannot play and closes normally), never a fault.
TEST(ReelviewEndToEnd, MoviesAndSoundCutOrRemovedWhilePlayingEndCleanly) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  for (const char* name : {"a", "b"}) {
    WriteSampleMovie(folder.Slash() + name + ".qrx", 90, 15);
    ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i sine=frequency=440:duration=6 -ar 22050 -ac 2 -b:a 64k " +
                                    test::ShellQuoted(folder.Path() / (std::string(name) + ".mp3"))));
  }
  folder.WriteFile("video.cfg", "[VIDEO_CONFIG]\r\nFILE_NAME=a.qrx\r\n");
  Player player(folder.Slash(), "out.raw", "dummy", "dummy");
  std::this_thread::sleep_for(1500ms);
  std::filesystem::resize_file(folder.Path() / "a.mp3", 0);
  std::filesystem::resize_file(folder.Path() / "a.qrx", 2000);
  std::this_thread::sleep_for(1500ms);
  std::filesystem::remove(folder.Path() / "a.mp3");
  std::filesystem::remove(folder.Path() / "a.qrx");
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(player.Wait(10ms), std::nullopt);  // still running
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
  const std::string errors = folder.ReadFile("out.raw.err");
  EXPECT_NE(errors.find("reelview: cannot play " + folder.Slash() + "a.qrx"), std::string::npos) << errors;
}

TEST(ReelviewEndToEnd, AWindowThatCannotBeMadeIsReportedWithANonZeroExit) {
  test::ScratchFolder folder;
  Player player(folder.Slash(), "out.raw", "no-such-video-driver", "dummy");
  EXPECT_EQ(player.Wait(15s), std::optional<int>(1)) << player.Errors();
  const std::string errors = folder.ReadFile("out.raw.err");
  EXPECT_EQ(errors.rfind("reelview: the window system cannot be started: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("no-such-video-driver"), std::string::npos) << errors;
}

TEST(ReelviewEndToEnd, ASoundDeviceThatCannotBeOpenedIsReportedAndThePlayerRunsOn) {
  test::ScratchFolder folder;
  Player player(folder.Slash(), "out.raw", "dummy", "no-such-audio-driver");
  std::this_thread::sleep_for(1000ms);
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
  const std::string errors = folder.ReadFile("out.raw.err");
  EXPECT_EQ(errors.rfind("reelview: sound device: cannot be opened at 22050 Hz: ", 0), 0u) << errors;
  EXPECT_NE(errors.find("; playing without sound\n"), std::string::npos) << errors;
}

}  // namespace
}  // namespace reel
