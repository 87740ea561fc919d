// The format probe: av_probe_input_format3 over the file's first megabyte, with a first look at
// its first bytes that settles the common containers without the long look.
#include "platform/mediagraph/format_probe.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace reel {
namespace {

// How much of the file's start the format probe looks at: enough for every container's header
// and for the packet syncs of program streams, whose first pack may follow padding.
constexpr std::size_t kProbeBytes = 1 << 20;
// A probe score below this is a guess from a few matching bytes, not a recognised format; it is
// the threshold libavformat itself uses before it reads more.
constexpr int kProbeScoreNeeded = AVPROBE_SCORE_RETRY;

// A first look at this much: libavformat's own smallest probe, enough for every container that
// names itself in its first bytes.
constexpr std::size_t kFirstLookBytes = 2048;
// Containers whose probe gives full marks for a header at the very start of the file, and whose
// verdict a longer look does not change: their verdict on the first bytes is the verdict on the
// whole megabyte, so the long look (tens of milliseconds: every reader scans the whole buffer, and
// a job opens its source several times) is spared. Program streams, raw streams and anything less
// certain get the long look.
constexpr std::string_view kHeaderNamedFormats[] = {"avi", "matroska,webm", "mov,mp4,m4a,3gp,3g2,mj2", "ogg", "flv"};
constexpr std::string_view kQuickTimeFormat = "mov,mp4,m4a,3gp,3g2,mj2";
// The one thing a longer look changes for QuickTime files: a media handler of type MPEG (an MPEG
// program stream packed into a movie) anywhere after the movie atom makes its reader step aside.
constexpr std::string_view kPackedProgramStreamMark = "mhlrMPEG";

const AVInputFormat* FormatOf(std::span<uint8_t> bytes, std::size_t length, int& score) {
  AVProbeData probe{};
  probe.filename = "";
  probe.buf = bytes.data();
  probe.buf_size = static_cast<int>(length);
  score = 0;
  return av_probe_input_format3(&probe, 1, &score);
}

bool HeaderNamed(const AVInputFormat* format, int score) {
  return format != nullptr && score == AVPROBE_SCORE_MAX &&
         std::find(std::begin(kHeaderNamedFormats), std::end(kHeaderNamedFormats), std::string_view(format->name)) !=
             std::end(kHeaderNamedFormats);
}

bool HoldsPackedProgramStream(std::span<const uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.find(kPackedProgramStreamMark) != std::string_view::npos;
}

// Reads up to `count` more bytes into `bytes` after the `have` already there; the new total, or
// none on a read error.
std::optional<std::size_t> ReadMore(std::ifstream& file, std::vector<uint8_t>& bytes, std::size_t have, std::size_t count) {
  file.read(reinterpret_cast<char*>(bytes.data() + have), static_cast<std::streamsize>(count));
  const std::streamsize got = file.gcount();
  if (got < 0 || file.bad()) return std::nullopt;
  return have + static_cast<std::size_t>(got);
}

}  // namespace

FormatProbe ProbeFormat(const std::string& path, ProbeLook look) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  // No larger than the file: a small file needs no megabyte of zeroes.
  std::error_code error;
  const std::uintmax_t fileSize = std::filesystem::file_size(path, error);
  const std::size_t wanted = error ? kProbeBytes : static_cast<std::size_t>(std::min<std::uintmax_t>(fileSize, kProbeBytes));
  std::vector<uint8_t> bytes(wanted + AVPROBE_PADDING_SIZE, 0);
  const std::size_t firstWanted = look == ProbeLook::kQuick ? std::min(wanted, kFirstLookBytes) : wanted;
  std::optional<std::size_t> length = ReadMore(file, bytes, 0, firstWanted);
  if (!length) return {};
  int score = 0;
  const AVInputFormat* first = nullptr;
  if (*length == firstWanted && firstWanted < wanted) {
    // The zeroes after the first bytes are the first look's padding.
    first = FormatOf(bytes, firstWanted, score);
    if (!HeaderNamed(first, score)) first = nullptr;
    if (first != nullptr && std::string_view(first->name) != kQuickTimeFormat) return {first, true};
    length = ReadMore(file, bytes, firstWanted, wanted - firstWanted);
    if (!length) return {};
    if (first != nullptr && !HoldsPackedProgramStream(std::span<const uint8_t>(bytes).first(*length))) {
      return {first, true};
    }
  }
  const AVInputFormat* format = FormatOf(bytes, *length, score);
  if (score < kProbeScoreNeeded) format = nullptr;
  return {format, true};
}

std::string ProbedFormatName(const std::string& path, ProbeLook look) {
  const FormatProbe probe = ProbeFormat(path, look);
  return probe.format == nullptr ? std::string() : std::string(probe.format->name);
}

}  // namespace reel
