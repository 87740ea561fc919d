#include "converter/cli/progress_display.h"

#include <algorithm>

#include "common/format_text.h"

namespace reel {
namespace {

constexpr int32_t kBarWidth = 24;

int32_t Percent(int32_t done, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{done} * 100 / total, 0, 100));
}

std::string Bar(int32_t done, int32_t total) {
  const int32_t filled = total <= 0 ? 0 : static_cast<int32_t>(int64_t{std::clamp(done, 0, total)} * kBarWidth / total);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

}  // namespace

std::string ProgressCountText(int32_t done, int32_t total) { return FormatText("変換データ数：%d / %d", done, total); }

std::string ProgressBarLine(int32_t done, int32_t total, double elapsedSeconds) {
  std::string line = Bar(done, total) + " " + ProgressCountText(done, total) + FormatText("  %d%%", Percent(done, total));
  if (elapsedSeconds > 0.0 && done > 0) {
    const double rate = done / elapsedSeconds;
    const auto tenths = static_cast<int64_t>(rate * 10.0);
    line += FormatText("  %d.%d fps", tenths / 10, tenths % 10);
    const auto left = static_cast<int64_t>(std::max(0, total - done) / rate);
    line += FormatText("  %d:%z2 left", left / 60, left % 60);
  }
  return line;
}

std::string ProgressDisplay::Update(int32_t done, int32_t total, double elapsedSeconds) {
  if (terminal_) {
    std::string line = ProgressBarLine(done, total, elapsedSeconds);
    if (line == lastLine_) return {};
    lastLine_ = line;
    drawn_ = true;
    return "\r" + line + "\x1b[K";
  }
  const int32_t tenth = total <= 0 ? 0 : Percent(done, total) / 10;
  if (tenth == lastTenth_) return {};
  lastTenth_ = tenth;
  return ProgressCountText(done, total) + FormatText(" (%d%%)\n", Percent(done, total));
}

std::string ProgressDisplay::Finish() const { return drawn_ ? "\r\x1b[K" : std::string(); }

}  // namespace reel
