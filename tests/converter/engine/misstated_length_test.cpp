// Sources whose container misstates the video's length, too short or too long, in each container
// without a sample table: a Matroska or WebM Duration element overwritten, an Ogg file whose last
// pages carry a wrong granule position, a program stream joined from two parts whose time stamps
// start again or jump ahead. The movie's length (frames / rate) must match its companion's within
// one frame, and the job says that it went by the pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>

#include "job_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace reel {
namespace {

constexpr double kSeconds = 6.0;
constexpr int kRate = 24;

// Overwrites the Segment Info Duration (ID 44 89, an 8-byte big-endian float in milliseconds).
bool StateMatroskaDuration(std::vector<uint8_t>& bytes, double milliseconds) {
  const uint8_t element[] = {0x44, 0x89, 0x88};
  const auto found = std::search(bytes.begin(), bytes.end(), std::begin(element), std::end(element));
  if (found == bytes.end() || bytes.end() - found < 11) return false;
  const auto bits = std::bit_cast<uint64_t>(milliseconds);
  for (int i = 0; i < 8; ++i) found[3 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  return true;
}

uint64_t LoadLe(const std::vector<uint8_t>& bytes, std::size_t at, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

void StoreLe(std::vector<uint8_t>& bytes, std::size_t at, int count, uint64_t value) {
  for (int i = 0; i < count; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// The CRC of an Ogg page (polynomial 04C11DB7, not reflected, from 0), its own field zeroed.
uint32_t OggCrc(std::span<const uint8_t> page) {
  uint32_t crc = 0;
  for (const uint8_t byte : page) {
    crc ^= uint32_t{byte} << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// Scales the granule position of every stream's last page by `factor` (Theora's keyframe part and
// Vorbis's sample count alike), so the file states factor x its real length.
bool StateOggLength(std::vector<uint8_t>& bytes, double factor) {
  std::map<uint32_t, std::size_t> lastPage;  // serial number -> offset
  std::map<uint32_t, bool> theora;
  for (std::size_t at = 0; at + 27 <= bytes.size();) {
    if (bytes[at] != 'O' || bytes[at + 1] != 'g' || bytes[at + 2] != 'g' || bytes[at + 3] != 'S') return false;
    const auto serial = static_cast<uint32_t>(LoadLe(bytes, at + 14, 4));
    const std::size_t segments = bytes[at + 26];
    std::size_t size = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i) size += bytes[at + 27 + i];
    if (!theora.contains(serial)) theora[serial] = at + size <= bytes.size() && bytes[at + 27 + segments + 1] == 't';
    lastPage[serial] = at;
    at += size;
  }
  for (const auto& [serial, at] : lastPage) {
    const uint64_t granule = LoadLe(bytes, at + 6, 8);
    const uint64_t stated = theora[serial] ? static_cast<uint64_t>(std::llround(static_cast<double>(granule >> 6) * factor)) << 6
                                           : static_cast<uint64_t>(std::llround(static_cast<double>(granule) * factor));
    StoreLe(bytes, at + 6, 8, stated);
    StoreLe(bytes, at + 22, 4, 0);
    const std::size_t segments = bytes[at + 26];
    std::size_t size = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i) size += bytes[at + 27 + i];
    StoreLe(bytes, at + 22, 4, OggCrc(std::span(bytes).subspan(at, size)));
  }
  return !lastPage.empty();
}

struct MisstatedCase {
  const char* name;
  const char* file;
  const char* codecs;
  double statedFactor;   // Matroska and Ogg: the stated length over the real one
  double secondPartAt;   // program streams: where the second half's time stamps start (seconds)
};

const MisstatedCase kCases[] = {
    {"mkv stated short", "clip.mkv", "-c:v mjpeg -c:a pcm_s16le", 0.6, 0},
    {"mkv stated long", "clip.mkv", "-c:v mjpeg -c:a pcm_s16le", 1.5, 0},
    {"webm stated short", "clip.webm", "-c:v libvpx -b:v 300k -c:a libvorbis", 0.6, 0},
    {"webm stated long", "clip.webm", "-c:v libvpx -b:v 300k -c:a libvorbis", 1.5, 0},
    {"ogg stated short", "clip.ogg", "-c:v libtheora -c:a libvorbis", 0.6, 0},
    {"ogg stated long", "clip.ogg", "-c:v libtheora -c:a libvorbis", 1.5, 0},
    {"mpeg-ps joined, time stamps start again", "clip.mpg", "-c:v mpeg1video -c:a mp2 -f mpeg", 0, 0},
    {"mpeg-ps joined, time stamps jump ahead", "clip.mpg", "-c:v mpeg1video -c:a mp2 -f mpeg", 0, 30},
};

std::string Source(double seconds) {
  return "-f lavfi -i testsrc=size=160x120:rate=" + std::to_string(kRate) +
         " -f lavfi -i sine=frequency=440:sample_rate=44100 -t " + std::to_string(seconds) + " ";
}

// Writes the case's source; false when it cannot be made.
bool MakeSource(const MisstatedCase& c, const test::ScratchFolder& folder) {
  const std::string path = folder.File(c.file);
  if (std::string_view(c.file).ends_with(".mpg")) {
    const std::string first = folder.File("first.mpg");
    const std::string second = folder.File("second.mpg");
    if (!test::RunFfmpegTool(Source(kSeconds / 2) + c.codecs + " " + test::ShellQuoted(std::string_view(first))) ||
        !test::RunFfmpegTool(Source(kSeconds / 2) + c.codecs + " -output_ts_offset " + std::to_string(c.secondPartAt) +
                             " " + test::ShellQuoted(std::string_view(second)))) {
      return false;
    }
    std::vector<uint8_t> joined = test::ReadAllBytes(first);
    const std::vector<uint8_t> tail = test::ReadAllBytes(second);
    joined.insert(joined.end(), tail.begin(), tail.end());
    return test::WriteAllBytes(path, joined);
  }
  if (!test::RunFfmpegTool(Source(kSeconds) + c.codecs + " " + test::ShellQuoted(std::string_view(path)))) return false;
  std::vector<uint8_t> bytes = test::ReadAllBytes(path);
  const bool patched = std::string_view(c.file).ends_with(".ogg")
                           ? StateOggLength(bytes, c.statedFactor)
                           : StateMatroskaDuration(bytes, kSeconds * 1000 * c.statedFactor);
  return patched && test::WriteAllBytes(path, bytes);
}

TEST(MisstatedLengthTest, TheMovieLastsAsLongAsItsCompanionWhateverTheContainerStates) {
  if (!test::FfmpegInstalled()) GTEST_SKIP() << "the ffmpeg tool is not installed; run scripts/install-deps.sh";
  for (const MisstatedCase& c : kCases) {
    SCOPED_TRACE(c.name);
    test::ScratchFolder folder("misstated");
    ASSERT_TRUE(MakeSource(c, folder));
    const std::filesystem::path out = folder.Path() / "out";  // away from an Ogg source's own name
    std::filesystem::create_directory(out);
    JobSettings settings = test::SettingsFor(folder.File(c.file), out.string());
    settings.frameRateChoice = FrameRateChoice::kHighest;
    settings.encoderChoice = AudioEncoder::kOgg;  // its length is exact, without an MP3's padding
    const JobReport report = test::RunJob(settings);
    ASSERT_EQ(report.status, JobStatus::kSucceeded) << report.error;
    ASSERT_EQ(report.movieRate, static_cast<uint32_t>(kRate));
    const double movieSeconds = static_cast<double>(report.frames) / report.movieRate;
    const std::optional<double> companionSeconds = test::AudioDuration((out / "clip.ogg").string());
    ASSERT_TRUE(companionSeconds);
    // One frame, and the few milliseconds a Vorbis stream of the source adds at its end.
    EXPECT_NEAR(movieSeconds, *companionSeconds, 1.0 / kRate + 0.01) << report.frames << " frames";
    const bool warned = std::any_of(report.warnings.begin(), report.warnings.end(), [](const std::string& warning) {
      return warning.find("the pictures' length is used") != std::string::npos;
    });
    EXPECT_TRUE(warned);
  }
}

}  // namespace
}  // namespace reel
