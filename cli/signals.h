// SIGINT and SIGTERM during a count or an export: the handler only raises a flag, which the
// counting engine reads before each directory (stats::CountOptions::cancel); the count then
// raises stats::Cancelled, unwinding removes any temporary file, and the subcommand exits with
// 128 + the signal (130, 143). The previous data file is never touched.
#pragma once

#include <atomic>

namespace pelmora::cli {

// Installs the handlers (once; later calls do nothing).
void catchInterrupts();
// Set once SIGINT or SIGTERM arrived.
const std::atomic<bool>& interrupted();
// 128 + the signal that arrived, or 0.
int interruptStatus();
// Raises stats::Cancelled when a signal arrived.
void stopIfInterrupted();

}  // namespace pelmora::cli
