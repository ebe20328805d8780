// Helpers for fault-injection tests: a forked child that may drop privileges or lower its
// limits without touching the test process, and pelmora-cli run as a separate process.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelmora::test {

// Runs `body` in a forked child and returns what it returned: "" for success, else a
// description of the failure. A child that crashes or dies by a signal gives a text naming
// the signal, so a crash is always a failure in the parent.
std::string inChild(const std::function<std::string()>& body);

// Gives up root for good: no supplementary groups, gid and uid 65534. Returns false when the
// switch did not happen (then the caller cannot test denied access).
bool dropToNobody();

// Sets RLIMIT_NOFILE so that exactly `spare` more descriptors can be opened (gaps below the
// highest open descriptor are filled with /dev/null first). Returns false on failure.
bool leaveSpareDescriptors(int spare);

struct CliRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Path of the pelmora-cli beside this test program's build tree.
std::string cliPath();
// A pelmora-cli built without the sanitizers (AddressSanitizer cannot start under a lowered
// address-space limit): pelmora-cli-plain beside it in a sanitized build, else pelmora-cli.
std::string plainCliPath();

// Runs pelmora-cli with `args` in `cwd`. `beforeExec` runs in the child after the fork (e.g.
// to drop privileges); returning false makes the child exit with status 125.
CliRun runCli(const std::vector<std::string>& args, const std::string& cwd,
              const std::function<bool()>& beforeExec = {});
// The same with the program at `exe`.
CliRun runProgram(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::function<bool()>& beforeExec = {});

}  // namespace pelmora::test
