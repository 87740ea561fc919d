// Progress of a running job on the terminal: a bar redrawn in place (frames done / total,
// percent, frames per second, time left) when the output is a terminal, and a plain line at every
// tenth of the way otherwise. The counts use the converter's own progress text.
//
// A drawn line never reaches the terminal's last column (so it never wraps, and a redraw climbs
// exactly the lines it drew): the bar narrows first, then the time left, the rate and the percent
// are left out; a terminal narrower than kNarrowestTerminal gets plain lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reel {

// Below this many columns progress is shown as plain lines.
inline constexpr int32_t kNarrowestTerminal = 40;

// The converter's progress text: "変換データ数：done / total".
std::string ProgressCountText(int32_t done, int32_t total);

// One line of the bar for `elapsedSeconds` into the job (no line end), at the full bar width.
std::string ProgressBarLine(int32_t done, int32_t total, double elapsedSeconds);

// The bar's line laid out to fit in `columns` - 1 screen columns (double-width characters count
// two); none when not even the counts and the narrowest bar fit.
std::optional<std::string> FitProgressLine(int32_t done, int32_t total, double elapsedSeconds, int32_t columns);

// One batch line: the file name, a short bar, the counts and the percent, fitted the same way
// (the name is cut first, then the bar narrows and goes, then the percent); none when it cannot.
std::optional<std::string> FitBatchLine(const std::string& source, int32_t done, int32_t total, int32_t columns);

class ProgressDisplay {
 public:
  // `columns` the terminal's width for a bar redrawn in place; 0 for plain lines.
  explicit ProgressDisplay(int32_t columns) : columns_(columns >= kNarrowestTerminal ? columns : 0) {}

  // The text to print for the current counts (empty when nothing needs printing).
  std::string Update(int32_t done, int32_t total, double elapsedSeconds);
  // What ends the display (clears a bar's line).
  std::string Finish() const;

 private:
  std::string PlainLine(int32_t done, int32_t total);

  int32_t columns_;
  bool drawn_ = false;
  int32_t lastTenth_ = -1;
  std::string lastLine_;
};

// Progress of several jobs at once. On a terminal: a heading ("2 of 7 sources done") and one line
// per running job (its file name, a short bar and the counts), redrawn in place; a finished job's
// summary is printed above them by clearing, printing and drawing again. Otherwise: a line
// "NAME: 変換データ数：done / total (percent%)" at every tenth of each job's way.
class BatchProgressDisplay {
 public:
  // `columns` as for ProgressDisplay.
  BatchProgressDisplay(int32_t columns, int32_t sources)
      : columns_(columns >= kNarrowestTerminal ? columns : 0), sources_(sources) {}

  void Add(int32_t id, const std::string& source);
  // The text to print for a job's new counts (empty on a terminal: Draw shows them).
  std::string Update(int32_t id, int32_t done, int32_t total);
  // Forgets a finished job and counts it as done.
  void Remove(int32_t id);
  // Removes the drawn lines from a terminal (empty text otherwise).
  std::string Clear();
  // The heading and the running jobs' lines, on a terminal (empty text otherwise).
  std::string Draw();

 private:
  struct Job {
    int32_t id;
    std::string source;
    std::string name;
    int32_t done;
    int32_t total;
    ProgressDisplay plain;
  };
  Job* Find(int32_t id);

  int32_t columns_;
  int32_t sources_;
  int32_t finished_ = 0;
  int32_t linesDrawn_ = 0;
  std::vector<Job> jobs_;
};

// The last part of `path`, shortened to at most `limit` screen columns (whole UTF-8 characters,
// double-width ones counted two; "..." marks the cut).
std::string ShortName(const std::string& path, std::size_t limit);

// The width of the terminal on `descriptor` for a progress bar: 0 when it is not a terminal or
// TERM is unset or "dumb"; otherwise its columns (COLUMNS, then 80, when the size is unknown).
int32_t ProgressColumns(int descriptor);

}  // namespace reel
