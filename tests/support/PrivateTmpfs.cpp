#include "tests/support/PrivateTmpfs.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelmora::test {

PrivateTmpfs::PrivateTmpfs(const std::string& dir, const std::string& options) : m_dir(dir) {
    // Once per thread: a mount namespace of its own whose mounts do not travel back.
    static thread_local bool privateNamespace = false;
    if (!privateNamespace) {
        if (::unshare(CLONE_NEWNS) != 0) {
            m_why = "unshare: " + std::string(std::strerror(errno));
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            m_why = "private mounts: " + std::string(std::strerror(errno));
            return;
        }
        privateNamespace = true;
    }
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        m_why = "mount tmpfs: " + std::string(std::strerror(errno));
        return;
    }
    m_mounted = true;
}

PrivateTmpfs::~PrivateTmpfs() {
    if (m_mounted) ::umount2(m_dir.c_str(), MNT_DETACH);
}

bool fillUp(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno == ENOSPC;
    const std::string block(4096, 'f');
    int err = 0;
    for (;;) {
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n < 0) {
            err = errno;
            break;
        }
        if (n == 0) break;
    }
    ::close(fd);
    return err == ENOSPC;
}

}  // namespace pelmora::test
