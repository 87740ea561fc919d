// The format probe: av_probe_input_format3 over the file's first megabyte, with a first look at
// its first bytes that settles the common containers without the long look.
#include "platform/mediagraph/format_probe.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
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

bool NamedByItsHeader(const AVInputFormat* format, int score, std::span<const uint8_t> whole) {
  if (format == nullptr || score != AVPROBE_SCORE_MAX) return false;
  const std::string_view name(format->name);
  if (std::find(std::begin(kHeaderNamedFormats), std::end(kHeaderNamedFormats), name) == std::end(kHeaderNamedFormats)) {
    return false;
  }
  if (name != kQuickTimeFormat) return true;
  const std::string_view bytes(reinterpret_cast<const char*>(whole.data()), whole.size());
  return bytes.find(kPackedProgramStreamMark) == std::string_view::npos;
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
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(wanted));
  const std::streamsize got = file.gcount();
  if (got < 0 || file.bad()) return {};
  const auto length = static_cast<std::size_t>(got);
  int score = 0;
  if (look == ProbeLook::kQuick && length > kFirstLookBytes) {
    const AVInputFormat* format = FormatOf(bytes, kFirstLookBytes, score);
    if (NamedByItsHeader(format, score, std::span<const uint8_t>(bytes).first(length))) return {format, true};
  }
  const AVInputFormat* format = FormatOf(bytes, length, score);
  if (score < kProbeScoreNeeded) format = nullptr;
  return {format, true};
}

std::string ProbedFormatName(const std::string& path, ProbeLook look) {
  const FormatProbe probe = ProbeFormat(path, look);
  return probe.format == nullptr ? std::string() : std::string(probe.format->name);
}

}  // namespace reel
