// The signals that stop a conversion program (reelforge-cli and the dialog): SIGINT (Ctrl-C),
// SIGTERM and SIGHUP.
//
// They are blocked on every thread from start-up and taken only where the program waits for its
// jobs (the terminal program's wait, the dialog's event loop), so a signal never cuts into the
// middle of anything: it becomes a stop request to the running jobs, which remove their
// unfinished files. A job's outputs are stored only after its
// last stop check, so a run ends with each job's files complete or absent.
//
// Writes must fail rather than kill the process, or a temporary file would be left behind: SIGPIPE
// (a reader of the progress went away) and SIGXFSZ (a file-size limit was reached) are ignored,
// so such a write fails with EPIPE or EFBIG and the job reports it.
#pragma once

#include <signal.h>

namespace reel {

sigset_t StopSignals();

// Blocks the stop signals on the calling thread (threads started later inherit it) and ignores
// SIGPIPE and SIGXFSZ. Call before any thread is started.
void TakeOverSignals();

// A descriptor that becomes readable when a stop signal is pending (a signalfd; read one
// signalfd_siginfo from it to take the signal), or -1 when none can be made. The signals must be
// blocked, or they are delivered as usual instead. The caller closes it.
int OpenStopSignalDescriptor();

// Waits up to `milliseconds` for a stop signal; its number, or 0 when none came.
int WaitForStopSignal(long milliseconds);

// The conventional exit status of a run stopped by `signal`: 128 + its number.
constexpr int ExitStatusForSignal(int signal) { return 128 + signal; }

}  // namespace reel
