#include "converter/cli/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "common/code_page.h"
#include "common/format_text.h"
#include "common/full_width.h"

namespace reel {
namespace {

constexpr int32_t kBarWidth = 24;
constexpr int32_t kNarrowestBar = 8;
// A batch line: the name, a bar and the counts fit in 80 columns.
constexpr int32_t kBatchBarWidth = 12;
constexpr int32_t kBatchNameWidth = 24;
constexpr int32_t kNarrowestName = 8;
constexpr int32_t kUnknownTerminalWidth = 80;

int32_t Percent(int32_t done, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{done} * 100 / total, 0, 100));
}

std::string Bar(int32_t done, int32_t total, int32_t width) {
  const int32_t filled = total <= 0 ? 0 : static_cast<int32_t>(int64_t{std::clamp(done, 0, total)} * width / total);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

int32_t Columns(std::string_view text) { return static_cast<int32_t>(Utf8TextColumns(text)); }

// The pieces after the bar, most important first.
std::vector<std::string> BarPieces(int32_t done, int32_t total, double elapsedSeconds) {
  std::vector<std::string> pieces{" " + ProgressCountText(done, total), FormatText("  %d%%", Percent(done, total))};
  if (elapsedSeconds > 0.0 && done > 0) {
    const double rate = done / elapsedSeconds;
    const auto tenths = static_cast<int64_t>(rate * 10.0);
    pieces.push_back(FormatText("  %d.%d fps", tenths / 10, tenths % 10));
    const auto left = static_cast<int64_t>(std::max(0, total - done) / rate);
    pieces.push_back(FormatText("  %d:%z2 left", left / 60, left % 60));
  }
  return pieces;
}

// Pieces 0 ... count - 1 joined.
std::string Joined(const std::vector<std::string>& pieces, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += pieces[i];
  return text;
}

}  // namespace

std::string ProgressCountText(int32_t done, int32_t total) { return FormatText("変換データ数：%d / %d", done, total); }

std::string ProgressBarLine(int32_t done, int32_t total, double elapsedSeconds) {
  const auto pieces = BarPieces(done, total, elapsedSeconds);
  return Bar(done, total, kBarWidth) + Joined(pieces, pieces.size());
}

std::optional<std::string> FitProgressLine(int32_t done, int32_t total, double elapsedSeconds, int32_t columns) {
  const auto pieces = BarPieces(done, total, elapsedSeconds);
  for (std::size_t kept = pieces.size(); kept >= 1; --kept) {
    const std::string tail = Joined(pieces, kept);
    const int32_t barRoom = columns - 1 - Columns(tail) - 2;
    if (barRoom >= kNarrowestBar) return Bar(done, total, std::min(kBarWidth, barRoom)) + tail;
  }
  return std::nullopt;
}

std::optional<std::string> FitBatchLine(const std::string& source, int32_t done, int32_t total, int32_t columns) {
  const std::string counts = " " + ProgressCountText(done, total);
  const std::string percent = FormatText("  %d%%", Percent(done, total));
  for (const std::string& tail : {counts + percent, counts}) {
    // 0: no bar at all, the counts alone.
    for (const int32_t bar : {kBatchBarWidth, kNarrowestBar, 0}) {
      const int32_t barColumns = bar == 0 ? 0 : bar + 3;
      const int32_t nameRoom = std::min(kBatchNameWidth, columns - 1 - Columns(tail) - barColumns);
      if (nameRoom < kNarrowestName) continue;
      std::string name = ShortName(source, static_cast<std::size_t>(nameRoom));
      name.append(static_cast<std::size_t>(nameRoom - Columns(name)), ' ');
      return name + (bar == 0 ? "" : " " + Bar(done, total, bar)) + tail;
    }
  }
  return std::nullopt;
}

std::string ProgressDisplay::PlainLine(int32_t done, int32_t total) {
  const int32_t tenth = total <= 0 ? 0 : Percent(done, total) / 10;
  if (tenth == lastTenth_) return {};
  lastTenth_ = tenth;
  return ProgressCountText(done, total) + FormatText(" (%d%%)\n", Percent(done, total));
}

std::string ProgressDisplay::Update(int32_t done, int32_t total, double elapsedSeconds) {
  if (columns_ == 0) return PlainLine(done, total);
  const std::optional<std::string> line = FitProgressLine(done, total, elapsedSeconds, columns_);
  if (!line) {
    // Counts too long for this terminal: plain lines from here on.
    const std::string clear = Finish();
    columns_ = 0;
    drawn_ = false;
    return clear + PlainLine(done, total);
  }
  if (*line == lastLine_) return {};
  lastLine_ = *line;
  drawn_ = true;
  return "\r" + *line + "\x1b[K";
}

std::string ProgressDisplay::Finish() const { return drawn_ ? "\r\x1b[K" : std::string(); }

std::string ShortName(const std::string& path, std::size_t limit) {
  const auto slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (Utf8TextColumns(name) <= limit) return name;
  constexpr std::string_view kCut = "...";
  const std::size_t room = limit > kCut.size() ? limit - kCut.size() : 0;
  std::size_t keep = 0;
  std::size_t columns = 0;
  // Whole characters only, never more columns than there is room for.
  while (keep < name.size()) {
    const std::size_t length = std::max<std::size_t>(1, CharacterLength(name, keep, CodePage::Utf8));
    const std::size_t width = Utf8CharacterColumns(std::string_view(name).substr(keep, length));
    if (columns + width > room) break;
    columns += width;
    keep += length;
  }
  return name.substr(0, keep) + std::string(kCut);
}

int32_t ProgressColumns(int descriptor) {
  if (isatty(descriptor) == 0) return 0;
  const char* term = std::getenv("TERM");
  if (term == nullptr || term[0] == '\0' || std::string_view(term) == "dumb") return 0;
  winsize size{};
  if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS"); columns != nullptr && std::atoi(columns) > 0) return std::atoi(columns);
  return kUnknownTerminalWidth;
}

void BatchProgressDisplay::Add(int32_t id, const std::string& source) {
  jobs_.push_back({id, source, ShortName(source, kBatchNameWidth), 0, 0, ProgressDisplay(0)});
}

BatchProgressDisplay::Job* BatchProgressDisplay::Find(int32_t id) {
  for (Job& job : jobs_) {
    if (job.id == id) return &job;
  }
  return nullptr;
}

std::string BatchProgressDisplay::Update(int32_t id, int32_t done, int32_t total) {
  Job* job = Find(id);
  if (job == nullptr) return {};
  job->done = done;
  job->total = total;
  if (columns_ != 0) return {};
  const std::string line = job->plain.Update(done, total, 0.0);
  return line.empty() ? line : job->name + ": " + line;
}

void BatchProgressDisplay::Remove(int32_t id) {
  std::erase_if(jobs_, [id](const Job& job) { return job.id == id; });
  ++finished_;
}

std::string BatchProgressDisplay::Clear() {
  if (linesDrawn_ == 0) return {};
  const std::string text = FormatText("\x1b[%dA\r\x1b[J", linesDrawn_);
  linesDrawn_ = 0;
  return text;
}

std::string BatchProgressDisplay::Draw() {
  if (columns_ == 0) return {};
  // The heading is ASCII and short enough for the narrowest terminal a bar is drawn on.
  std::string text = FormatText("%d of %d sources done, %d running\x1b[K\n", finished_, sources_,
                                static_cast<int32_t>(jobs_.size()));
  int32_t lines = 1;
  for (const Job& job : jobs_) {
    // A line that cannot fit is left out rather than wrapped, so Clear climbs what was drawn.
    const auto line = FitBatchLine(job.source, job.done, job.total, columns_);
    if (!line) continue;
    text += *line + "\x1b[K\n";
    ++lines;
  }
  linesDrawn_ = lines;
  return text;
}

}  // namespace reel
