// Signals during a count, an export or a snapshot. Every signal whose default action would end
// the program (SIGINT, SIGTERM, SIGHUP when the terminal or ssh session closes, SIGPIPE when a
// reader of standard output or error goes away, SIGUSR1/2, SIGALRM, SIGVTALRM, SIGXCPU,
// SIGXFSZ and the others of platform::terminatingSignals) only raises a flag, which the counting
// engine reads before each directory (stats::CountOptions::cancel); the count then raises
// stats::Cancelled, unwinding removes any temporary file, and the subcommand exits with 128 + the
// signal (129, 130, 141, 143, ...). The previous data file is never touched.
//
// A signal that comes once the counting is over and the results are being put in place (the
// data file renamed, the snapshot recorded: workCommitted()) no longer stops anything and changes
// nothing: the status is that of the work, so a script that retries on failure never records a
// snapshot twice.
#pragma once

#include <atomic>

namespace pelmora::cli {

// Installs the handlers (once; later calls do nothing).
void catchInterrupts();
// Set once a signal arrived.
const std::atomic<bool>& interrupted();
// 128 + the signal that arrived before the work was committed, or 0.
int interruptStatus();
// Raises stats::Cancelled when a signal arrived.
void stopIfInterrupted();
// The work is being put in place: a signal from here on no longer counts.
void workCommitted();
// Standard output is a pipe nobody reads any more (EPIPE): the same as SIGPIPE, also where
// SIGPIPE is ignored.
void outputPipeClosed();

}  // namespace pelmora::cli
