// Progress of a running job on the terminal: a bar redrawn in place (frames done / total,
// percent, frames per second, time left) when the output is a terminal, and a plain line at every
// tenth of the way otherwise. The counts use the converter's own progress text.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace reel
