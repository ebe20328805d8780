// Standard output, checked: every write and the final close. A full disk (`>/dev/full`) or
// any other failure is remembered and turns the exit status into kExitFailed with one message.
// A pipe whose reader went away (`| head`) ends the command quietly, as SIGPIPE does
// (cli/signals.h: status 141).
#pragma once

#include <string>
#include <string_view>

namespace pelmora::cli {

class StdOut {
  public:
    // Appends to the buffer; writes it out whenever it holds 64 KiB.
    void write(std::string_view bytes);
    // Writes the buffer out now (before a long count, so that a reader sees what is done).
    void flush();
    // Flushes and closes standard output. Returns true when every byte reached it; otherwise
    // says "pelmora-cli: cannot write to standard output: REASON" once (nothing for a pipe
    // whose reader went away) and returns false.
    bool finish();
    // False once a write failed.
    bool good() const { return m_error == 0; }

  private:
    std::string m_buffer;
    int m_error = 0;
    bool m_said = false;
};

// The one standard output of the process.
StdOut& out();

}  // namespace pelmora::cli
