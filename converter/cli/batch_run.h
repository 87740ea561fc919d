// Several sources converted at once, each job in a process of its own: reelforge-cli started
// again for that one source with the same settings, reporting its progress on a pipe. Separate
// processes keep the jobs as independent as when each is converted alone (the MP3 encoder keeps
// process-wide state), so every job's files are the same as a lone conversion's.
//
// This process takes the stop signals: a signal is passed on to the running jobs, which remove
// their unfinished files, no further job is started, and the run ends when they have. A job
// process that dies on its own (killed, or crashed) is reported and its temporary files are
// removed here; a job process whose parent dies is stopped by the system (SIGTERM).
//
// Jobs whose outputs have the same names run one after the other, in the order given, so the last
// one's files are kept, as when the sources are converted one after another.
#pragma once

#include "converter/cli/cli_options.h"

namespace reel {

// Converts options.sources with up to `jobs` processes at once; the program's exit status.
int RunBatch(const CliOptions& options, int32_t jobs);

}  // namespace reel
