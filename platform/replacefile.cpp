#include "platform/replacefile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/paths.h"

namespace pelmora::platform {

namespace {

ssize_t systemWrite(int fd, const void* bytes, std::size_t count) {
    return ::write(fd, bytes, count);
}
int systemFsync(int fd) {
    return ::fsync(fd);
}
int systemClose(int fd) {
    return ::close(fd);
}
int systemRename(const char* from, const char* to) {
    return ::rename(from, to);
}

constexpr FileOps kSystemFileOps{systemWrite, systemFsync, systemClose, systemRename};

[[noreturn]] void cannotCreate(const std::string& path) {
    throw PelmoraError("Cannot create file " + path);
}

// fsync, retried after EINTR; EINVAL (a file system that cannot flush) counts as done.
int flush(int fd, const FileOps& ops) {
    for (;;) {
        if (ops.fsync(fd) == 0) return 0;
        if (errno == EINTR) continue;
        return errno == EINVAL ? 0 : errno;
    }
}

// The folder a file lies in, "." for a bare name.
std::string folderOf(std::string_view path) {
    const std::string_view dir = directoryPart(path);
    return dir.empty() ? std::string(".") : std::string(dir);
}

}  // namespace

std::string randomSuffix() {
    static std::atomic<unsigned> counter{0};
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits))
        bits = static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<std::uint64_t>(::getpid()) << 40);
    bits += ++counter;
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(8, 'a');
    for (char& c : s) {
        c = kLetters[bits % 36];
        bits /= 36;
    }
    return s;
}

const FileOps& systemFileOps() {
    return kSystemFileOps;
}

int writeAll(int fd, std::string_view bytes, const FileOps& ops) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ops.write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::string replacementTarget(const std::string& path) {
    if (path.empty() || isPathDelimiter(path.back())) cannotCreate(path);
    const uid_t user = ::geteuid();
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            // A new file is fine; a link that leads nowhere is not followed to create one.
            if (errno == ENOENT && hops == 0) return current;
            cannotCreate(path);
        }
        if (S_ISREG(st.st_mode)) {
            if (hops > 0 && st.st_uid != user) cannotCreate(path);
            // Only a file that could have been opened for writing is replaced.
            if (::faccessat(AT_FDCWD, current.c_str(), W_OK, AT_EACCESS) != 0) cannotCreate(path);
            return current;
        }
        if (!S_ISLNK(st.st_mode) || st.st_uid != user) cannotCreate(path);
        std::string link;
        if (!linkTarget(current, link)) cannotCreate(path);
        current = std::move(link);
    }
    cannotCreate(path);  // a loop, or a chain too long to be meant
}

ReplacementFile::ReplacementFile(const std::string& path, const FileOps& ops)
    : m_ops(ops), m_path(path), m_target(replacementTarget(path)), m_folder(folderOf(m_target)) {
    struct stat folder {};
    if (::stat(m_folder.c_str(), &folder) != 0) cannotCreate(path);
    m_folderDevice = folder.st_dev;
    m_folderInode = folder.st_ino;
    struct stat old {};
    const bool exists = ::stat(m_target.c_str(), &old) == 0;

    std::string name(bareName(m_target));
    if (name.size() > 200) name.resize(200);
    const std::string prefix = std::string(directoryPart(m_target)) + ".~" + name + ".";
    // A new file gets 0666 less the umask (or the folder's default ACL) from the kernel; a
    // replaced one gets the old bits below, so the temporary file starts private.
    const mode_t mode = exists ? 0600 : 0666;
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temp = prefix + randomSuffix();
        m_fd = ::open(m_temp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) cannotCreate(path);
    m_tempExists = true;

    if (exists) {
        // Owner and group where allowed (root); otherwise the file becomes the writer's, as a
        // new one would. The permission bits afterwards, since a change of owner clears set-id.
        if (::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
        }
        if (::fchmod(m_fd, old.st_mode & 07777) != 0) {
            // A file system without permission bits (vfat) keeps its own.
        }
    }
}

ReplacementFile::~ReplacementFile() {
    abandon();
}

void ReplacementFile::abandon() noexcept {
    // Where the temporary file is now: its folder may have been renamed since it was made.
    char where[PATH_MAX + 1];
    ssize_t n = -1;
    if (m_fd >= 0) {
        char self[32];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
        n = ::readlink(self, where, PATH_MAX);
        m_ops.close(m_fd);
        m_fd = -1;
    }
    if (!m_tempExists) return;
    m_tempExists = false;
    if (::unlink(m_temp.c_str()) == 0 || errno != ENOENT || n <= 0) return;
    where[n] = '\0';
    // Only a file of the temporary file's own name, never something else at a moved place.
    if (bareName(where) == bareName(m_temp)) ::unlink(where);
}

bool ReplacementFile::folderInPlace() const {
    struct stat now {};
    return ::stat(m_folder.c_str(), &now) == 0 && now.st_dev == m_folderDevice &&
           now.st_ino == m_folderInode;
}

void ReplacementFile::write(std::string_view bytes) {
    if (m_fd < 0) throw ReplaceError(ReplaceError::Step::Write, EBADF);
    if (const int err = writeAll(m_fd, bytes, m_ops)) {
        abandon();
        throw ReplaceError(ReplaceError::Step::Write, err);
    }
}

void ReplacementFile::commit() {
    if (m_fd < 0) throw ReplaceError(ReplaceError::Step::Flush, EBADF);
    // A write-back error (EIO, ENOSPC, EDQUOT) shows at fsync or at close, after every write
    // succeeded: it is the export's error, never a success.
    if (const int err = flush(m_fd, m_ops)) {
        abandon();
        throw ReplaceError(ReplaceError::Step::Flush, err);
    }
    // A folder renamed or removed during the writing: the rename would put the file elsewhere
    // or fail for want of the folder, and the temporary file would stay behind where the folder
    // went. Checked while the file is open, so that abandon() still finds it.
    if (!folderInPlace()) {
        abandon();
        cannotCreate(m_path);
    }
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close reports EINTR, and the bytes are on the
    // disk already; only a real error counts.
    if (m_ops.close(fd) != 0 && errno != EINTR) {
        const int err = errno;
        abandon();
        throw ReplaceError(ReplaceError::Step::Flush, err);
    }
    if (m_ops.rename(m_temp.c_str(), m_target.c_str()) != 0) {
        const int err = errno;
        abandon();
        if (err == ENOENT) cannotCreate(m_path);  // the folder went between the check and here
        throw ReplaceError(ReplaceError::Step::Rename, err);
    }
    // Nothing that can throw lies between the rename and this line: once the temporary name is
    // gone, nothing may remove a file of that name any more.
    m_tempExists = false;

    // Makes the rename itself durable.
    const int dirFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;  // a folder the user may write but not read: nothing more to do
    const int err = flush(dirFd, m_ops);
    ::close(dirFd);
    if (err != 0) throw ReplaceError(ReplaceError::Step::Flush, err);
}

sigset_t terminatingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGHUP, SIGINT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM,
                          SIGXCPU, SIGXFSZ, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT})
        sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
    return set;
}

HeldSignals::HeldSignals() {
    const sigset_t set = terminatingSignals();
    pthread_sigmask(SIG_BLOCK, &set, &m_previous);
}

HeldSignals::~HeldSignals() {
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

bool HeldSignals::pending() {
    sigset_t came;
    if (sigpending(&came) != 0) return false;
    const sigset_t set = terminatingSignals();
    for (int sig = 1; sig < NSIG; ++sig)
        if (sigismember(&set, sig) == 1 && sigismember(&came, sig) == 1) return true;
    return false;
}

int readAll(int fd, std::string& out, std::size_t sizeHint) {
    std::size_t filled = out.size();
    out.resize(filled + sizeHint + 1);
    for (;;) {
        if (filled == out.size()) out.resize(out.size() + out.size() / 2 + 65536);
        const ssize_t n = ::read(fd, out.data() + filled, out.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : 0;
            out.resize(filled);
            return err;
        }
        filled += static_cast<std::size_t>(n);
    }
}

bool linkTarget(const std::string& path, std::string& target) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return false;
    link.resize(static_cast<std::size_t>(n));
    target =
        isPathDelimiter(link.front()) ? std::move(link) : std::string(directoryPart(path)) + link;
    return true;
}

}  // namespace pelmora::platform
