#include "converter/cli/progress_display.h"

#include <algorithm>
#include <string_view>

#include "common/format_text.h"

namespace reel {
namespace {

constexpr int32_t kBarWidth = 24;
// A batch line: the name, a bar and the counts fit in 80 columns.
constexpr int32_t kBatchBarWidth = 12;
constexpr std::size_t kBatchNameWidth = 24;

int32_t Percent(int32_t done, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{done} * 100 / total, 0, 100));
}

std::string Bar(int32_t done, int32_t total, int32_t width = kBarWidth) {
  const int32_t filled = total <= 0 ? 0 : static_cast<int32_t>(int64_t{std::clamp(done, 0, total)} * width / total);
  return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(width - filled), '.') + "]";
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

std::string ShortName(const std::string& path, std::size_t limit) {
  const auto slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() <= limit) return name;
  constexpr std::string_view kCut = "...";
  std::size_t keep = limit > kCut.size() ? limit - kCut.size() : 0;
  // Never end inside a UTF-8 character: step back over continuation bytes.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return name.substr(0, keep) + std::string(kCut);
}

void BatchProgressDisplay::Add(int32_t id, const std::string& source) {
  jobs_.push_back({id, ShortName(source, kBatchNameWidth), 0, 0, ProgressDisplay(false)});
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
  if (terminal_) return {};
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
  if (!terminal_) return {};
  std::string text = FormatText("%d of %d sources done, %d running\x1b[K\n", finished_, sources_,
                                static_cast<int32_t>(jobs_.size()));
  for (const Job& job : jobs_) {
    std::string name = job.name;
    if (name.size() < kBatchNameWidth) name.resize(kBatchNameWidth, ' ');
    text += name + " " + Bar(job.done, job.total, kBatchBarWidth) + " " + ProgressCountText(job.done, job.total) +
            FormatText("  %d%%\x1b[K\n", Percent(job.done, job.total));
  }
  linesDrawn_ = static_cast<int32_t>(jobs_.size()) + 1;
  return text;
}

}  // namespace reel
