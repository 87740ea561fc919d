// Progress of a running job on the terminal: a bar redrawn in place (frames done / total,
// percent, frames per second, time left) when the output is a terminal, and a plain line at every
// tenth of the way otherwise. The counts use the converter's own progress text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reel {

// The converter's progress text: "変換データ数：done / total".
std::string ProgressCountText(int32_t done, int32_t total);

// One line of the bar for `elapsedSeconds` into the job (no line end).
std::string ProgressBarLine(int32_t done, int32_t total, double elapsedSeconds);

class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool terminal) : terminal_(terminal) {}

  // The text to print for the current counts (empty when nothing needs printing).
  std::string Update(int32_t done, int32_t total, double elapsedSeconds);
  // What ends the display (clears a bar's line).
  std::string Finish() const;

 private:
  bool terminal_;
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
  BatchProgressDisplay(bool terminal, int32_t sources) : terminal_(terminal), sources_(sources) {}

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
    std::string name;
    int32_t done;
    int32_t total;
    ProgressDisplay plain;
  };
  Job* Find(int32_t id);

  bool terminal_;
  int32_t sources_;
  int32_t finished_ = 0;
  int32_t linesDrawn_ = 0;
  std::vector<Job> jobs_;
};

// The last part of `path`, shortened to at most `limit` bytes (whole UTF-8 characters, "..." marks
// the cut).
std::string ShortName(const std::string& path, std::size_t limit);

}  // namespace reel
