#include "cli/stdout.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/commands.h"
#include "cli/signals.h"
#include "platform/replacefile.h"

namespace pelmora::cli {

void StdOut::write(std::string_view bytes) {
    m_buffer.append(bytes);
    if (m_buffer.size() >= 64 * 1024) flush();
}

void StdOut::flush() {
    if (m_error == 0 && !m_buffer.empty()) m_error = platform::writeAll(1, m_buffer);
    if (m_error == EPIPE) outputPipeClosed();
    m_buffer.clear();
}

bool StdOut::finish() {
    flush();
    if (m_error == 0 && ::close(1) != 0 && errno != EBADF && errno != EINTR) m_error = errno;
    if (m_error == 0) return true;
    if (m_error == EPIPE) m_said = true;  // nobody reads: nothing to say
    if (!m_said) message(std::string("cannot write to standard output: ") + std::strerror(m_error));
    m_said = true;
    return false;
}

StdOut& out() {
    static StdOut instance;
    return instance;
}

}  // namespace pelmora::cli
