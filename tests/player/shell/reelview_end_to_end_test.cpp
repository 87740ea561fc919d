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
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/project_version.h"
#include "converter/coder/frame_coder.h"
#include "converter/coder/qrx_writer.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tools/samplegen/sample_coefficients.h"

namespace reel {
namespace {

using namespace std::chrono_literals;

void WriteSampleMovie(const std::string& path, uint32_t frames, uint32_t rate, uint32_t width = 176, uint32_t height = 144) {
  QrxOutput movie = CreateQrxFile(path);
  static_cast<void>(BeginQrx(movie, frames, rate, PictureSizeChoice::k320x240));
  SetQrxPictureSize(movie, width, height);
  for (uint32_t k = 0; k < frames; ++k) static_cast<void>(AppendQrxFrame(movie, *CodeCoefficients(MakeSampleCoefficients(width, height, 50, k), 50)));
  ASSERT_TRUE(FinishQrx(movie)) << movie.status.error().message;
}

// `errors` holds `said`, and after it nothing more about `again`.
void ExpectSaidOnce(const std::string& errors, const std::string& said, const std::string& again) {
  const std::size_t first = errors.find(said);
  ASSERT_NE(first, std::string::npos) << errors;
  EXPECT_EQ(errors.find(again, first + said.size()), std::string::npos) << errors;
}

std::vector<int16_t> ReadSamples(const std::string& path) {
  const std::vector<uint8_t> bytes = test::ReadAllBytes(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

// How a player is started beyond its folder and drivers.
struct PlayerStart {
  std::vector<std::string> arguments;
  std::string outputs;  // where its sound, standard output and error, trace and lock go; the folder if empty
  bool unprivileged = false;  // run as "nobody" when the test runs as root, so that permissions hold
};

// A running player in `folder`, headless; its standard output and error go to soundFile + ".err"
// beside its sound, and with REELVIEW_TRACE its trace goes to soundFile + ".trace".
class Player {
 public:
  Player(const std::string& folder, const std::string& soundFile, const char* videoDriver = "dummy",
         const char* audioDriver = "disk", const PlayerStart& start = {})
      : outputs_(start.outputs.empty() ? folder : start.outputs), errorsPath_(outputs_ + soundFile + ".err") {
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      const int errors = ::open(errorsPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (errors < 0 || ::dup2(errors, 1) < 0 || ::dup2(errors, 2) < 0) ::_exit(127);
      if (start.unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
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
      ::setenv("SDL_DISKAUDIOFILE", (outputs_ + soundFile).c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", outputs_.c_str(), 1);
      ::setenv("REELVIEW_TRACE", (outputs_ + soundFile + ".trace").c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(REELVIEW_PATH)};
      for (const std::string& argument : start.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(REELVIEW_PATH, argv.data());
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
  // What the player wrote to its standard output and error (a sanitizer's report among it).
  std::string Output() const {
    std::ifstream file(errorsPath_);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::string Errors() const { return "reelview's standard error:\n" + Output(); }
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
  std::string outputs_;
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
  ExpectSaidOnce(errors, said, said);
}

// A movie taller than the player shows (the converter no longer makes one) plays as a black
// window: the player says so once.
TEST(ReelviewEndToEnd, AMovieWhosePicturesCannotBeShownIsSaidOnce) {
  test::ScratchFolder folder;
  WriteSampleMovie(folder.Slash() + "tall.qrx", 4, 15, 320, 2400);
  folder.WriteFile("video.cfg", "[VIDEO_CONFIG]\r\nFILE_NAME=tall.qrx\r\n");
  Player player(folder.Slash(), "out.raw", "dummy", "dummy");
  std::this_thread::sleep_for(1500ms);
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
  const std::string errors = folder.ReadFile("out.raw.err");
  const std::string said = "reelview: " + folder.Slash() + "tall.qrx: its pictures are 320 x 2400, more than the player shows";
  ExpectSaidOnce(errors, said, "tall.qrx");
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

// The trace's lines of one kind ("movie", "sound"), their values in order.
std::vector<std::string> TraceValues(const std::string& trace, const std::string& kind) {
  std::vector<std::string> values;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(kind + " ", 0) == 0) values.push_back(line.substr(kind.size() + 1));
  }
  return values;
}

// Waits (at most `limit`, which a slow build needs) until the trace holds `count` lines of a kind.
bool WaitForTrace(const test::ScratchFolder& folder, const std::string& kind, std::size_t count,
                  std::chrono::milliseconds limit = 30s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (TraceValues(folder.ReadFile("out.raw.trace"), kind).size() < count) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// A movie with an Ogg Vorbis companion repeats, and every pass plays the same samples.
TEST(ReelviewEndToEnd, AnOggMoviePlaysTheSameSamplesEachPass) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  test::ScratchFolder folder;
  WriteSampleMovie(folder.Slash() + "loop.qrx", 15, 15);
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(300+300*t)*t)|0.3*sin(2*PI*700*t):s=22050:d=1\""
                                  " -c:a libvorbis " + test::ShellQuoted(folder.Path() / "loop.ogg")));
  Player player(folder.Slash(), "out.raw");
  EXPECT_TRUE(WaitForTrace(folder, "sound", 4));  // three passes played through
  player.Signal(SIGTERM);
  EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
  const std::vector<std::string> starts = TraceValues(folder.ReadFile("out.raw.trace"), "sound");
  ASSERT_GE(starts.size(), 3u) << folder.ReadFile("out.raw.trace");
  const auto played = ReadSamples(folder.Slash() + "out.raw");
  const std::size_t length = 2 * 17640;  // 0.8 s of each pass, stereo
  const std::size_t first = 2 * std::stoul(starts[0]);
  for (std::size_t pass = 1; pass < 3; ++pass) {
    const std::size_t at = 2 * std::stoul(starts[pass]);
    ASSERT_LE(at + length, played.size());
    EXPECT_TRUE(std::equal(played.begin() + static_cast<std::ptrdiff_t>(first), played.begin() + static_cast<std::ptrdiff_t>(first + length),
                           played.begin() + static_cast<std::ptrdiff_t>(at)))
        << "pass " << pass;
  }
  EXPECT_GT(*std::max_element(played.begin() + static_cast<std::ptrdiff_t>(first), played.begin() + static_cast<std::ptrdiff_t>(first + length)), 8000);
}

// reelview [MOVIE.qrx | FOLDER]: a movie plays first from its folder, which holds the list and
// video.cfg; a folder plays its list; --help and --version answer; anything else is refused with
// exit status 2 and a line that says why.
TEST(ReelviewEndToEnd, TheCommandLineChoosesTheFolderAndTheFirstMovie) {
  test::ScratchFolder folder;
  std::filesystem::create_directory(folder.Path() / "movies");
  for (const char* name : {"a.qrx", "b.qrx"}) WriteSampleMovie(folder.Slash() + "movies/" + name, 30, 15);
  folder.WriteFile("notes.txt", "not a movie");
  struct Case {
    std::vector<std::string> arguments;
    std::string in;        // the folder it starts in, below the scratch folder
    std::optional<int> exitStatus;  // none: it plays until stopped
    std::string said;      // the start of its output
    std::string firstMovie;  // below the scratch folder
  };
  const std::string version = "reelview " + std::string(kProjectVersion) + "\n";
  const Case cases[] = {
      {{"--help"}, "", 0, "Usage: reelview [MOVIE.qrx | FOLDER]\n", ""},
      {{"--version"}, "", 0, version, ""},
      {{"nowhere.qrx"}, "", 2, "reelview: nowhere.qrx: no such file or folder\nTry 'reelview --help'.\n", ""},
      {{"notes.txt"}, "", 2, "reelview: notes.txt: not a movie (a .qrx file) or a folder\n", ""},
      {{"movies/a.qrx", "movies/b.qrx"}, "", 2, "reelview: movies/b.qrx: one movie or folder only\n", ""},
      {{"--loud"}, "", 2, "reelview: --loud: unknown option\n", ""},
      {{"movies/b.qrx"}, "", std::nullopt, "", "movies/b.qrx"},
      {{"movies"}, "", std::nullopt, "", "movies/a.qrx"},
      {{}, "movies/", std::nullopt, "", "movies/a.qrx"},
  };
  for (const Case& c : cases) {
    const std::string described = c.arguments.empty() ? std::string("nothing") : c.arguments[0];
    SCOPED_TRACE(described);
    std::filesystem::remove(folder.Path() / "movies/video.cfg");
    Player player(folder.Slash() + c.in, "out.raw", "dummy", "dummy", PlayerStart{c.arguments, folder.Slash()});
    if (c.exitStatus) {
      EXPECT_EQ(player.Wait(10s), c.exitStatus) << player.Errors();
      EXPECT_EQ(player.Output().rfind(c.said, 0), 0u) << player.Output();
      continue;
    }
    EXPECT_TRUE(WaitForTrace(folder, "frame", 5));
    player.Signal(SIGTERM);
    EXPECT_EQ(player.Wait(15s), std::optional<int>(0)) << player.Errors();
    const std::vector<std::string> movies = TraceValues(folder.ReadFile("out.raw.trace"), "movie");
    ASSERT_FALSE(movies.empty());
    EXPECT_EQ(movies[0], folder.Slash() + c.firstMovie);
    EXPECT_EQ(folder.ReadFile("movies/video.cfg"), "[MUSIC_CONFIG]\r\nMUSIC_VOL=100\r\n");
    std::filesystem::remove(folder.Path() / "out.raw.trace");
  }
}

// A folder that cannot be written, or a video.cfg that cannot be read, still plays; at the end one
// line says the volume could not be saved (exit status 1), and the folder is as it was.
TEST(ReelviewEndToEnd, SettingsThatCannotBeSavedAreSaidOnceAndLeftAsTheyWere) {
  test::ScratchFolder outputs;
  test::ScratchFolder folder;
  ::chmod(outputs.Path().c_str(), 0777);
  ::chmod(folder.Path().c_str(), 0755);
  WriteSampleMovie(folder.Slash() + "a.qrx", 30, 15);
  const std::string settings = "[MUSIC_CONFIG]\r\nMUSIC_VOL=70\r\n";
  folder.WriteFile("video.cfg", settings);
  struct Case {
    const char* what;
    mode_t folderMode;
    mode_t settingsMode;
    const char* cause;
  };
  for (const Case& c : {Case{"a folder that cannot be written", 0555, 0644, "cannot be created: Permission denied"},
                        Case{"a video.cfg that cannot be read", 0755, 0000, "could not be read"}}) {
    SCOPED_TRACE(c.what);
    ::chmod(folder.File("video.cfg").c_str(), c.settingsMode);
    ::chmod(folder.Path().c_str(), c.folderMode);
    Player player(outputs.Slash(), "out.raw", "dummy", "dummy", PlayerStart{{folder.Slash()}, outputs.Slash(), true});
    WaitForTrace(outputs, "frame", 10, 20s);  // it plays; a player that could not start ends early
    player.Signal(SIGTERM);
    const std::optional<int> status = player.Wait(15s);
    ::chmod(folder.Path().c_str(), 0755);
    ::chmod(folder.File("video.cfg").c_str(), 0644);
    if (status == 126) GTEST_SKIP() << "the player cannot be run as another user here";
    EXPECT_EQ(status, std::optional<int>(1)) << player.Errors();
    EXPECT_GE(TraceValues(outputs.ReadFile("out.raw.trace"), "frame").size(), 10u);  // it played
    const std::string said = player.Output();
    const std::string line = "reelview: the volume could not be saved: " + folder.Slash() + "video.cfg: ";
    EXPECT_EQ(said.find(line), said.rfind("reelview: ")) << said;  // one line of ours, this one
    EXPECT_NE(said.find(c.cause), std::string::npos) << said;
    EXPECT_EQ(folder.ReadFile("video.cfg"), settings);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.qrx", "video.cfg"}));
    std::filesystem::remove(outputs.Path() / "out.raw.trace");
  }
}

}  // namespace
}  // namespace reel
