// One conversion job run in this process on the job's own worker thread.
//
// The calling thread plays the part of the dialog's timer: every 100 ms it takes a waiting stop
// signal (which becomes the job's stop request), reads the job's progress fields and shows them,
// until the job reports it has finished; then it prints the job's summary.
#pragma once

#include <cstdint>
#include <string>

#include "converter/engine/conversion_job.h"

namespace reel {

enum class JobEnd { kSucceeded, kFailed, kStopped };

struct JobProgressTarget {
  int descriptor = -1;  // where "DONE TOTAL" lines go, -1 for the display on the error output
  // The terminal's width when the display is a bar redrawn in place; 0 for plain lines.
  int32_t columns = 0;
  bool json = false;  // progress and the summary as JSON lines on standard output
};

// `stopSignal` is the number of the stop signal taken during the job, left as it was when none
// came. A job that ran to its end in spite of a late signal is kSucceeded, its files complete.
JobEnd RunJobHere(JobSettings settings, const JobProgressTarget& progress, int& stopSignal);

}  // namespace reel
