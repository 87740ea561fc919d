// Damaged media: copies of real files and of clips made here, cut short, with bytes flipped in
// their headers, with random bytes overwritten and with size fields set to 0x7fffffff, run through
// reelforge-cli, qrxtool and reelview (headless). Every run must end by itself within a bound,
// without a signal or a sanitizer report; a refusal names the file; a conversion leaves exactly
// its finished outputs (a sound movie) and a refusal leaves nothing, hidden files included; the
// damaged source is never changed. The counts are printed at the end.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_io.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/jpeg_pictures.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/shared_media.h"

extern char** environ;

namespace reel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Sanitizer builds run several times slower; the bounds grow with them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif
const std::chrono::milliseconds kConversionLimit = 60s * kSlowdown;
const std::chrono::milliseconds kToolLimit = 20s * kSlowdown;
const std::chrono::milliseconds kPlayTime = 1500ms;
const std::chrono::milliseconds kPlayerCloseLimit = 10s * kSlowdown;
constexpr std::size_t kPlayersAtOnce = 4;

// ---------------------------------------------------------------------------------------------
// Running the programs.

enum class Ending { kExited, kSignalled, kTimedOut };

struct ChildEnd {
  Ending ending = Ending::kExited;
  int code = 0;  // the exit status, or the signal
  std::string output;
};

class Child {
 public:
  // Starts `argv` in `folder` with standard output and error going to `log`; `environment`
  // entries ("NAME=value") replace or add to ours.
  Child(const std::vector<std::string>& argv, const fs::path& folder, const fs::path& log,
        const std::vector<std::string>& environment = {})
      : log_(log) {
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable(*entry);
      const std::string name = variable.substr(0, variable.find('='));
      const bool replaced = std::any_of(environment.begin(), environment.end(),
                                        [&](const std::string& own) { return own.rfind(name + "=", 0) == 0; });
      if (!replaced) variables.push_back(variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = argv;
    std::vector<char*> args;
    for (std::string& word : words) args.push_back(word.data());
    args.push_back(nullptr);
    const std::string folderText = folder.string();
    const std::string logText = log.string();
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(logText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (out < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 || ::dup2(in, 0) < 0) ::_exit(127);
      if (::chdir(folderText.c_str()) != 0) ::_exit(127);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Signal(int signal) const {
    if (pid_ > 0 && !ended_) ::kill(pid_, signal);
  }
  bool Ended() {
    if (!ended_) Poll();
    return ended_;
  }
  // Waits until the program ends or `limit` passes; a program still running then is killed and
  // counts as hung.
  ChildEnd Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ended_ && std::chrono::steady_clock::now() < end) {
      if (!Poll()) std::this_thread::sleep_for(5ms);
    }
    ChildEnd result;
    if (!ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      ended_ = true;
      result.ending = Ending::kTimedOut;
    } else if (WIFEXITED(status_)) {
      result.code = WEXITSTATUS(status_);
    } else {
      result.ending = Ending::kSignalled;
      result.code = WTERMSIG(status_);
    }
    const Bytes log = test::ReadAllBytes(log_);
    result.output.assign(log.begin(), log.end());
    return result;
  }

 private:
  bool Poll() {
    if (pid_ <= 0) {
      ended_ = true;
      status_ = 127 << 8;
      return true;
    }
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_;
  }

  fs::path log_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
};

bool SanitizerSpoke(const std::string& output) {
  return output.find("Sanitizer") != std::string::npos || output.find("runtime error:") != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// The counts.

struct Tally {
  int tried = 0;
  int converted = 0;  // the program accepted the file: a movie written, checked or played
  int refused = 0;    // a clear refusal naming the file
  int crashes = 0;    // ended by a signal, or a sanitizer spoke
  int hangs = 0;
  int strayFiles = 0;  // files left that should not be there, or an unsound movie written
  int sourcesChanged = 0;
  int unclearRefusals = 0;  // refused without naming the file, or with an unexpected status
  std::vector<std::string> findings;

  void Add(const Tally& other) {
    tried += other.tried;
    converted += other.converted;
    refused += other.refused;
    crashes += other.crashes;
    hangs += other.hangs;
    strayFiles += other.strayFiles;
    sourcesChanged += other.sourcesChanged;
    unclearRefusals += other.unclearRefusals;
    findings.insert(findings.end(), other.findings.begin(), other.findings.end());
  }
  std::string Line() const {
    return "tried " + std::to_string(tried) + ", converted " + std::to_string(converted) + ", refused " +
           std::to_string(refused) + ", crashes " + std::to_string(crashes) + ", hangs " + std::to_string(hangs) +
           ", stray files " + std::to_string(strayFiles) + ", sources changed " + std::to_string(sourcesChanged) +
           ", unclear refusals " + std::to_string(unclearRefusals);
  }
};

std::map<std::string, Tally>& TallyByProgram() {
  static std::map<std::string, Tally> tallies;
  return tallies;
}

// Counts one run's ending; true when the program ended by itself with status 0 or 1 and no
// sanitizer report (its outputs are then worth a look).
bool CountEnding(Tally& tally, const std::string& what, const ChildEnd& end) {
  ++tally.tried;
  if (end.ending == Ending::kTimedOut) {
    ++tally.hangs;
    tally.findings.push_back(what + ": still running after the bound\n" + end.output);
    return false;
  }
  if (end.ending == Ending::kSignalled || SanitizerSpoke(end.output)) {
    ++tally.crashes;
    tally.findings.push_back(what + ": " +
                             (end.ending == Ending::kSignalled ? "killed by signal " + std::to_string(end.code)
                                                               : std::string("sanitizer report")) +
                             "\n" + end.output);
    return false;
  }
  return true;
}

void CountVerdict(Tally& tally, const std::string& what, const ChildEnd& end, const fs::path& source) {
  if (end.code == 0) {
    ++tally.converted;
  } else if (end.code == 1 && end.output.find(source.filename().string()) != std::string::npos) {
    ++tally.refused;
  } else {
    ++tally.unclearRefusals;
    tally.findings.push_back(what + ": exit status " + std::to_string(end.code) + " without naming " +
                             source.filename().string() + "\n" + end.output);
  }
}

// The names in `folder` that are not in `allowed` (hidden names and partial files among them).
std::vector<std::string> StrayNames(const fs::path& folder, const std::vector<std::string>& allowed) {
  std::vector<std::string> stray;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) stray.push_back(name);
  }
  return stray;
}

void CountStray(Tally& tally, const std::string& what, const fs::path& folder, const std::vector<std::string>& allowed) {
  const std::vector<std::string> stray = StrayNames(folder, allowed);
  if (stray.empty()) return;
  tally.strayFiles += static_cast<int>(stray.size());
  std::string names;
  for (const std::string& name : stray) names += " " + name;
  tally.findings.push_back(what + ": left" + names + " in " + folder.string());
}

void CountSource(Tally& tally, const std::string& what, const fs::path& source, const Bytes& bytes) {
  if (test::ReadAllBytes(source) == bytes) return;
  ++tally.sourcesChanged;
  tally.findings.push_back(what + ": the source " + source.string() + " was changed");
}

void EmptyFolder(const fs::path& folder) {
  std::error_code error;
  fs::remove_all(folder, error);
  fs::create_directories(folder);
}

// ---------------------------------------------------------------------------------------------
// Damage.

enum class Kind { kVideo, kMj, kMp3, kQrx, kJpeg };

struct Damaged {
  std::string label;  // what was done, e.g. "cut at 50%"
  Bytes bytes;
};

void StoreU32At(Bytes& bytes, std::size_t offset, uint32_t value, bool bigEndian = false) {
  if (offset + 4 > bytes.size()) return;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t shift = bigEndian ? 8 * (3 - i) : 8 * i;
    bytes[offset + i] = static_cast<uint8_t>(value >> shift);
  }
}

uint32_t LoadU32At(const Bytes& bytes, std::size_t offset, bool bigEndian = false) {
  if (offset + 4 > bytes.size()) return 0;
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t shift = bigEndian ? 8 * (3 - i) : 8 * i;
    value |= static_cast<uint32_t>(bytes[offset + i]) << shift;
  }
  return value;
}

// The offsets of the chunk sizes of a RIFF file, walking into lists, first ones first.
std::vector<std::size_t> RiffSizeFields(const Bytes& bytes, std::size_t start, std::size_t end, int depth = 0) {
  std::vector<std::size_t> fields;
  std::size_t at = start;
  while (at + 8 <= end && fields.size() < 64) {
    const uint32_t size = LoadU32At(bytes, at + 4);
    fields.push_back(at + 4);
    const bool list = std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                                 "LIST") ||
                      std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                                 "RIFF");
    const std::size_t next = at + 8 + size + (size & 1u);
    if (list && depth < 3) {
      const auto inner = RiffSizeFields(bytes, at + 12, std::min<std::size_t>(next, end), depth + 1);
      fields.insert(fields.end(), inner.begin(), inner.end());
    }
    if (size > end - at) break;
    at = next;
  }
  return fields;
}

// The offsets of the box sizes of an ISO media file (MP4, MOV), walking into the boxes that hold
// boxes.
std::vector<std::size_t> BoxSizeFields(const Bytes& bytes, std::size_t start, std::size_t end, int depth = 0) {
  static const std::vector<std::string> kContainers = {"moov", "trak", "mdia", "minf", "stbl", "edts", "udta"};
  std::vector<std::size_t> fields;
  std::size_t at = start;
  while (at + 8 <= end && fields.size() < 64) {
    const uint32_t size = LoadU32At(bytes, at, true);
    fields.push_back(at);
    const std::string type(bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at) + 8);
    if (size < 8 || size > end - at) break;
    if (depth < 6 && std::find(kContainers.begin(), kContainers.end(), type) != kContainers.end()) {
      const auto inner = BoxSizeFields(bytes, at + 8, at + size, depth + 1);
      fields.insert(fields.end(), inner.begin(), inner.end());
    }
    at += size;
  }
  return fields;
}

// Where 32-bit size and count fields lie in a file of this kind, with their byte order.
std::vector<std::pair<std::size_t, bool>> SizeFields(const Bytes& bytes, Kind kind) {
  std::vector<std::pair<std::size_t, bool>> fields;
  auto little = [&](std::size_t offset) { fields.emplace_back(offset, false); };
  const auto tag = [&](std::size_t at, const char* text) {
    return bytes.size() >= at + 4 && std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4, text);
  };
  if (kind == Kind::kQrx) {
    // Frame count, width, height, file size, data offset; the first index entry's coded size and
    // offset; the first frame's header size and stream sizes.
    for (const std::size_t offset : {8u, 20u, 24u, 32u, 44u, 52u, 64u}) little(offset);
    const uint32_t dataOffset = LoadU32At(bytes, 44);
    const std::size_t frame = dataOffset + LoadU32At(bytes, 64);
    for (const std::size_t offset : {4u, 28u, 32u}) little(frame + offset);
  } else if (kind == Kind::kMj) {
    // Sample rate, base offset, index offset, gap size; the first index entries' starts.
    for (const std::size_t offset : {16u, 28u, 32u, 36u}) little(offset);
    const uint32_t index = LoadU32At(bytes, 32);
    for (const std::size_t offset : {0u, 8u, 24u, 32u}) little(index + offset);
  } else if (tag(0, "RIFF")) {
    for (const std::size_t offset : RiffSizeFields(bytes, 0, bytes.size())) little(offset);
  } else if (tag(4, "ftyp")) {
    for (const std::size_t offset : BoxSizeFields(bytes, 0, bytes.size())) fields.emplace_back(offset, true);
  }
  return fields;
}

// Damaged copies of `original`, made with fixed seeds. `many` gives the full set; otherwise one
// of each kind of damage.
std::vector<Damaged> DamagedCopies(const Bytes& original, Kind kind, uint32_t seed, bool many) {
  std::vector<Damaged> copies;
  const std::size_t size = original.size();
  std::mt19937 random(seed);
  auto below = [&](std::size_t limit) { return limit == 0 ? std::size_t{0} : static_cast<std::size_t>(random() % limit); };

  // Cut short: inside the header, and at points through the file.
  const std::vector<unsigned> cuts = many ? std::vector<unsigned>{2, 25, 50, 90} : std::vector<unsigned>{45};
  if (many) copies.push_back({"cut to 30 bytes", Bytes(original.begin(), original.begin() + std::min<std::ptrdiff_t>(30, static_cast<std::ptrdiff_t>(size)))});
  for (const unsigned percent : cuts) {
    const std::size_t keep = size * percent / 100;
    copies.push_back({"cut at " + std::to_string(percent) + "%", Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(keep))});
  }
  // Bits flipped in the first kilobyte, where the headers are.
  for (int copy = 0; copy < (many ? 2 : 1); ++copy) {
    Bytes bytes = original;
    const std::size_t header = std::min<std::size_t>(size, 1024);
    for (int flip = 0; flip < 12; ++flip) bytes[below(header)] ^= static_cast<uint8_t>(1u << below(8));
    copies.push_back({"header bits flipped (" + std::to_string(copy) + ")", std::move(bytes)});
  }
  // Runs of random bytes anywhere.
  for (int copy = 0; copy < (many ? 2 : 1); ++copy) {
    Bytes bytes = original;
    for (int run = 0; run < 24; ++run) {
      const std::size_t at = below(size);
      const std::size_t length = std::min<std::size_t>(1 + below(32), size - at);
      for (std::size_t i = 0; i < length; ++i) bytes[at + i] = static_cast<uint8_t>(random());
    }
    copies.push_back({"random bytes overwritten (" + std::to_string(copy) + ")", std::move(bytes)});
  }
  // Sizes set to 0x7fffffff: the format's own size fields where we know them, else 32-bit words
  // in the header in both byte orders.
  auto fields = SizeFields(original, kind);
  if (fields.empty()) {
    for (int i = 0; i < 8; ++i) fields.emplace_back(below(std::min<std::size_t>(size, 512)), i % 2 == 1);
  }
  for (int copy = 0; copy < (many ? 3 : 1); ++copy) {
    Bytes bytes = original;
    if (copy == 0) {
      for (const auto& [offset, bigEndian] : fields) StoreU32At(bytes, offset, 0x7fffffff, bigEndian);
      copies.push_back({"every size 0x7fffffff", std::move(bytes)});
    } else {
      const auto& [offset, bigEndian] = fields[below(fields.size())];
      StoreU32At(bytes, offset, 0x7fffffff, bigEndian);
      copies.push_back({"size at " + std::to_string(offset) + " 0x7fffffff", std::move(bytes)});
    }
  }
  return copies;
}

// ---------------------------------------------------------------------------------------------
// One damaged file through the programs.

struct Sample {
  std::string name;  // the file name it is stored under
  Kind kind;
  Bytes bytes;
};

class DamagedMediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }

  fs::path Log(const std::string& name) const { return logs_.Path() / name; }

  // Writes `bytes` as the only file of a fresh folder; returns its path.
  fs::path PlaceSource(const std::string& name, const Bytes& bytes) {
    const fs::path folder = work_.Path() / "source";
    EmptyFolder(folder);
    const fs::path path = folder / name;
    EXPECT_TRUE(test::WriteAllBytes(path, bytes));
    return path;
  }

  void Convert(const fs::path& source, const Bytes& bytes, const std::string& what) {
    Tally& tally = TallyByProgram()["reelforge-cli"];
    const fs::path out = work_.Path() / "out";
    EmptyFolder(out);
    Child child({REELFORGE_CLI_PATH, "--frame-rate", "min", "--output-dir", out.string(), source.string()},
                source.parent_path(), Log("cli.log"));
    const ChildEnd end = child.Wait(kConversionLimit);
    const std::string stem = source.stem().string();
    if (CountEnding(tally, what, end)) {
      CountVerdict(tally, what, end, source);
      if (end.code == 0) {
        // A source whose pictures cannot be found gives its sound alone.
        CountStray(tally, what, out, {stem + ".qrx", stem + ".mp3", stem + ".ogg"});
        if (fs::exists(out / (stem + ".qrx"))) {
          CheckMovie(tally, what + "\n" + end.output, out / (stem + ".qrx"));
        } else if (fs::is_empty(out)) {
          ++tally.unclearRefusals;
          tally.findings.push_back(what + ": success said, but nothing written\n" + end.output);
        }
      } else {
        CountStray(tally, what, out, {});
      }
    }
    CountStray(tally, what + " (beside the source)", source.parent_path(), {source.filename().string()});
    CountSource(tally, what, source, bytes);
  }

  // A movie a conversion called finished must be whole.
  void CheckMovie(Tally& tally, const std::string& what, const fs::path& movie) {
    Child child({QRXTOOL_PATH, "verify", movie.string()}, movie.parent_path(), Log("check.log"));
    const ChildEnd end = child.Wait(kToolLimit);
    if (end.ending != Ending::kExited || end.code != 0) {
      ++tally.strayFiles;
      tally.findings.push_back(what + ": the movie written is not sound\n" + end.output);
    }
  }

  void Check(const fs::path& source, const Bytes& bytes, Kind kind, const std::string& what) {
    Tally& tally = TallyByProgram()["qrxtool"];
    const fs::path out = work_.Path() / "out";
    EmptyFolder(out);
    // Each command with the one file it writes, if any.
    std::vector<std::pair<std::vector<std::string>, std::string>> commands;
    if (kind == Kind::kJpeg) {
      commands.push_back({{QRXTOOL_PATH, "code-jpeg", source.string(), (out / "frame.jbp1").string()}, "frame.jbp1"});
    } else {
      commands.push_back({{QRXTOOL_PATH, "verify", source.string()}, ""});
      if (kind == Kind::kQrx) {
        commands.push_back({{QRXTOOL_PATH, "info", source.string()}, ""});
        commands.push_back({{QRXTOOL_PATH, "frame", source.string(), "0", (out / "frame.ppm").string()}, "frame.ppm"});
        commands.push_back({{QRXTOOL_PATH, "export", source.string(), (out / "movie.mkv").string()}, "movie.mkv"});
        commands.push_back({{QRXTOOL_PATH, "thumbnail", source.string(), (out / "thumb.png").string()}, "thumb.png"});
      }
    }
    for (const auto& [command, output] : commands) {
      const std::string run = what + " (qrxtool " + command[1] + ")";
      Child child(command, out, Log("qrxtool.log"));
      const ChildEnd end = child.Wait(kToolLimit);
      if (CountEnding(tally, run, end)) {
        CountVerdict(tally, run, end, source);
        // A command that failed leaves no output behind; one that succeeded leaves its one file.
        std::vector<std::string> allowed;
        if (end.code == 0 && !output.empty()) allowed.push_back(output);
        CountStray(tally, run, out, allowed);
      }
      EmptyFolder(out);
    }
    if (kind == Kind::kMp3) ExportWithSound(tally, bytes, what);
    CountSource(tally, what, source, bytes);
  }

  // A sound movie exported with the damaged MP3 as its companion: the sound is copied or the
  // export refused naming the MP3, and nothing is left but a complete export.
  void ExportWithSound(Tally& tally, const Bytes& sound, const std::string& what) {
    const fs::path out = work_.Path() / "out";
    EmptyFolder(out);
    EXPECT_TRUE(test::WriteAllBytes(out / "movie.qrx", goodMovie_));
    EXPECT_TRUE(test::WriteAllBytes(out / "movie.mp3", sound));
    const std::string run = what + " (qrxtool export with it as the sound)";
    Child child({QRXTOOL_PATH, "export", (out / "movie.qrx").string(), (out / "movie.avi").string()}, out, Log("qrxtool.log"));
    const ChildEnd end = child.Wait(kToolLimit);
    if (CountEnding(tally, run, end)) {
      CountVerdict(tally, run, end, out / "movie.mp3");
      std::vector<std::string> allowed = {"movie.qrx", "movie.mp3"};
      if (end.code == 0) allowed.push_back("movie.avi");
      CountStray(tally, run, out, allowed);
    }
    EmptyFolder(out);
  }

  // Reelview, headless, in a folder holding a movie and its MP3 (one of them damaged): it plays
  // for a while and must then close on SIGTERM. Several players run at once, each in its own
  // folder.
  struct PlayerRun {
    std::string what;
    fs::path folder;
    fs::path damaged;
    Bytes bytes;
  };

  void QueuePlayer(const std::string& what, Kind kind, const Bytes& bytes) {
    const fs::path folder = work_.Path() / ("player" + std::to_string(players_.size()));
    EmptyFolder(folder);
    const fs::path movie = folder / "movie.qrx";
    const fs::path sound = folder / "movie.mp3";
    EXPECT_TRUE(test::WriteAllBytes(movie, kind == Kind::kQrx ? bytes : goodMovie_));
    EXPECT_TRUE(test::WriteAllBytes(sound, kind == Kind::kMp3 ? bytes : goodSound_));
    players_.push_back({what, folder, kind == Kind::kQrx ? movie : sound, bytes});
    if (players_.size() == kPlayersAtOnce) RunPlayers();
  }

  void RunPlayers() {
    Tally& tally = TallyByProgram()["reelview"];
    std::vector<std::unique_ptr<Child>> children;
    for (std::size_t i = 0; i < players_.size(); ++i) {
      // Each player is the one instance of its own runtime folder.
      const fs::path runtime = work_.Path() / ("runtime" + std::to_string(i));
      EmptyFolder(runtime);
      children.push_back(std::make_unique<Child>(
          std::vector<std::string>{REELVIEW_PATH}, players_[i].folder, Log("player" + std::to_string(i) + ".log"),
          std::vector<std::string>{"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "XDG_RUNTIME_DIR=" + runtime.string()}));
    }
    std::this_thread::sleep_for(kPlayTime * kSlowdown);
    for (auto& child : children) child->Signal(SIGTERM);
    for (std::size_t i = 0; i < players_.size(); ++i) {
      const PlayerRun& run = players_[i];
      const ChildEnd end = children[i]->Wait(kPlayerCloseLimit);
      if (CountEnding(tally, run.what, end)) {
        // The player keeps running past a movie it cannot play, saying once why (naming it).
        const bool said = end.output.find("reelview: cannot play") != std::string::npos;
        if (end.code != 0 || (said && end.output.find(run.damaged.string()) == std::string::npos)) {
          ++tally.unclearRefusals;
          tally.findings.push_back(run.what + ": exit status " + std::to_string(end.code) + "\n" + end.output);
        } else if (said) {
          ++tally.refused;
        } else {
          ++tally.converted;
        }
      }
      // Only its settings file may have been added; any temporary file is gone.
      CountStray(tally, run.what, run.folder, {"movie.qrx", "movie.mp3", "video.cfg"});
      CountSource(tally, run.what, run.damaged, run.bytes);
    }
    players_.clear();
  }

  // Every damaged copy of `sample` through the programs that take its kind.
  void Exercise(const Sample& sample, uint32_t seed, bool many) {
    for (const Damaged& copy : DamagedCopies(sample.bytes, sample.kind, seed, many)) {
      const std::string what = sample.name + " " + copy.label;
      const fs::path source = PlaceSource(sample.name, copy.bytes);
      Convert(source, copy.bytes, what);
      Check(source, copy.bytes, sample.kind, what);
      if (sample.kind == Kind::kQrx || sample.kind == Kind::kMp3) QueuePlayer(what, sample.kind, copy.bytes);
    }
  }

  // A converted movie and its sound, for players given a damaged partner.
  void MakeGoodMovie(const fs::path& clip) {
    const fs::path out = work_.Path() / "good";
    EmptyFolder(out);
    Child child({REELFORGE_CLI_PATH, "--output-dir", out.string(), clip.string()}, out, Log("good.log"));
    const ChildEnd end = child.Wait(kConversionLimit);
    ASSERT_EQ(end.ending, Ending::kExited);
    ASSERT_EQ(end.code, 0) << end.output;
    goodMovie_ = test::ReadAllBytes(out / (clip.stem().string() + ".qrx"));
    goodSound_ = test::ReadAllBytes(out / (clip.stem().string() + ".mp3"));
    ASSERT_FALSE(goodMovie_.empty());
    ASSERT_FALSE(goodSound_.empty());
  }

  void Finish(const std::string& title) {
    if (!players_.empty()) RunPlayers();
    Tally total;
    for (const auto& [program, tally] : TallyByProgram()) {
      std::cout << title << ", " << program << ": " << tally.Line() << "\n";
      total.Add(tally);
    }
    std::cout << title << ", all: " << total.Line() << std::endl;
    for (const std::string& finding : total.findings) ADD_FAILURE() << finding;
    EXPECT_GT(total.tried, 0);
    TallyByProgram().clear();
  }

  test::ScratchFolder work_{"damaged"};
  test::ScratchFolder logs_{"damaged-logs"};
  std::vector<PlayerRun> players_;
  Bytes goodMovie_;
  Bytes goodSound_;
};

// A ".mj" file: the 44-byte header, chunks of sound, a gap and a JPEG, then the index (one entry
// more than chunks, each 24 bytes: chunk start, 0, picture start, 0, 0, 0).
Bytes MakeMjFile(int chunks) {
  constexpr uint16_t kWidth = 96;
  constexpr uint16_t kHeight = 64;
  constexpr uint32_t kRate = 22050;
  constexpr uint32_t kGap = 16;
  Bytes body;
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (int chunk = 0; chunk < chunks; ++chunk) {
    const auto chunkStart = static_cast<uint32_t>(body.size());
    for (uint32_t i = 0; i < kRate / 15; ++i) {
      const auto value = static_cast<uint16_t>(static_cast<int16_t>(6000 * std::sin(0.05 * (chunk * 1470 + i))));
      for (int channel = 0; channel < 2; ++channel) {
        body.push_back(static_cast<uint8_t>(value));
        body.push_back(static_cast<uint8_t>(value >> 8));
      }
    }
    body.insert(body.end(), kGap, 0);
    const auto pictureStart = static_cast<uint32_t>(body.size());
    test::TestJpegOptions options;
    options.width = kWidth;
    options.height = kHeight;
    const Bytes picture = test::MakeTestJpeg(options, test::NaturalRgb(kWidth, kHeight, static_cast<uint32_t>(chunk)));
    body.insert(body.end(), picture.begin(), picture.end());
    entries.emplace_back(chunkStart, pictureStart);
  }
  entries.emplace_back(static_cast<uint32_t>(body.size()), static_cast<uint32_t>(body.size()));
  Bytes file;
  ByteWriter writer(file);
  for (int i = 0; i < 8; ++i) writer.U8(0);
  writer.U16(kWidth);
  writer.U16(kHeight);
  writer.U16(0);
  writer.U16(2);  // channels
  writer.U32(kRate);
  writer.U16(15);  // frame rate 15 / 1
  writer.U16(1);
  writer.U16(static_cast<uint16_t>(entries.size()));
  writer.U16(static_cast<uint16_t>(chunks + 1));
  writer.U32(44);  // base offset
  writer.U32(static_cast<uint32_t>(44 + body.size()));
  writer.U32(kGap);
  file.insert(file.end(), body.begin(), body.end());
  for (const auto& [chunkStart, pictureStart] : entries) {
    writer.U32(chunkStart);
    writer.U32(0);
    writer.U32(pictureStart);
    for (int i = 0; i < 3; ++i) writer.U32(0);
  }
  return file;
}

TEST_F(DamagedMediaTest, ClipsMadeHere) {
  const fs::path made = work_.Path() / "made";
  fs::create_directories(made);
  const std::string picture = "-f lavfi -i testsrc=size=160x120:rate=15:duration=2 ";
  const std::string tone = "-f lavfi -i sine=frequency=440:duration=2 ";
  const std::vector<std::pair<std::string, std::string>> clips = {
      {"clip.avi", picture + tone + "-c:v mjpeg -c:a pcm_s16le"},
      {"clip-mpeg4.avi", picture + tone + "-c:v mpeg4 -c:a libmp3lame -b:a 64k"},
      {"clip.mpg", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 " + tone + "-c:v mpeg1video -c:a mp2 -f mpeg"},
      {"clip.mp4", picture + tone + "-c:v mpeg4 -c:a aac -b:a 64k"},
      {"clip.mkv", picture + tone + "-c:v mpeg4 -c:a libvorbis"},
      {"clip.mp3", tone + "-ar 22050 -ac 2 -b:a 64k"},
  };
  std::vector<Sample> samples;
  for (const auto& [name, arguments] : clips) {
    ASSERT_TRUE(test::RunFfmpegTool(arguments + " " + test::ShellQuoted(made / name))) << name;
    const Kind kind = name.ends_with(".mp3") ? Kind::kMp3 : Kind::kVideo;
    samples.push_back({name, kind, test::ReadAllBytes(made / name)});
  }
  samples.push_back({"clip.mj", Kind::kMj, MakeMjFile(20)});
  ASSERT_NO_FATAL_FAILURE(MakeGoodMovie(made / "clip.avi"));
  samples.push_back({"movie.qrx", Kind::kQrx, goodMovie_});

  uint32_t seed = 1;
  for (const Sample& sample : samples) Exercise(sample, seed++, true);
  Finish("damaged media (made here)");
}

Kind KindOf(const fs::path& path) {
  const std::string extension = path.extension().string();
  if (extension == ".mp3") return Kind::kMp3;
  if (extension == ".qrx") return Kind::kQrx;
  if (extension == ".mj") return Kind::kMj;
  if (extension == ".jpg" || extension == ".jpeg") return Kind::kJpeg;
  return Kind::kVideo;
}

TEST_F(DamagedMediaTest, EveryRealFile) {
  if (!test::HaveSharedMediaFolder()) GTEST_SKIP() << "the shared media folder " << REEL_SHARED_MEDIA_DIR << " is absent";
  const fs::path made = work_.Path() / "made";
  fs::create_directories(made);
  ASSERT_TRUE(test::RunFfmpegTool("-f lavfi -i testsrc=size=160x120:rate=15:duration=2 -f lavfi -i sine=duration=2 "
                                  "-c:v mjpeg -c:a pcm_s16le " +
                                  test::ShellQuoted(made / "clip.avi")));
  ASSERT_NO_FATAL_FAILURE(MakeGoodMovie(made / "clip.avi"));
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(REEL_SHARED_MEDIA_DIR)) {
    if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  uint32_t seed = 1000;
  for (const fs::path& file : files) {
    Exercise({file.filename().string(), KindOf(file), test::ReadAllBytes(file)}, seed++, false);
  }
  Finish("damaged media (" + std::to_string(files.size()) + " real files)");
}

}  // namespace
}  // namespace reel
