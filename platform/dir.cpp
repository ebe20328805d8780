#include "platform/dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>

#include "platform/paths.h"

namespace pelmora::platform {

namespace {

constexpr int kReadFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
constexpr int kSearchFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int kStatFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

struct LinuxDirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// The kernel's struct statx, which names the mount id that older C libraries keep as padding.
struct KernelStatx {
    std::uint32_t mask;
    std::uint32_t blksize;
    std::uint64_t attributes;
    std::uint32_t nlink;
    std::uint32_t uid;
    std::uint32_t gid;
    std::uint16_t mode;
    std::uint16_t pad1;
    std::uint64_t ino;
    std::uint64_t size;
    std::uint64_t blocks;
    std::uint64_t attributesMask;
    struct statx_timestamp atime, btime, ctime, mtime;
    std::uint32_t rdevMajor, rdevMinor;
    std::uint32_t devMajor, devMinor;
    std::uint64_t mntId;
    std::uint64_t spare[13];
};
static_assert(sizeof(KernelStatx) == sizeof(struct statx));
static_assert(offsetof(KernelStatx, devMinor) == offsetof(struct statx, stx_dev_minor));

int kernelStatx(int dirFd, const char* name, int flags, unsigned mask, KernelStatx& out) {
    if (::statx(dirFd, name, flags, mask, reinterpret_cast<struct statx*>(&out)) != 0) return errno;
    return 0;
}

DirIdentity identityFrom(const KernelStatx& sx) {
    DirIdentity id;
    id.inode = sx.ino;
    id.devMajor = sx.devMajor;
    id.devMinor = sx.devMinor;
    id.mountId = (sx.mask & STATX_MNT_ID) != 0 ? sx.mntId : 0;
    return id;
}

// Opens `path` (longer than the kernel takes at once) one run of components after another:
// every run but the last only to search it, the last with `finalFlags`.
int openInPieces(std::string_view path, int finalFlags, UniqueFd& out) {
    constexpr std::size_t kPiece = PATH_MAX - 1;
    UniqueFd current;
    int at = AT_FDCWD;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.size();
        if (end - pos > kPiece) {
            // The longest run of whole components that fits; a leading '/' belongs to it.
            end = path.rfind('/', pos + kPiece);
            if (end == std::string_view::npos || end <= pos) return ENAMETOOLONG;
        }
        std::size_t next = end;
        while (next < path.size() && path[next] == '/') ++next;
        const bool last = next >= path.size();
        const std::string piece(path.substr(pos, (last ? path.size() : end) - pos));
        const int fd = ::openat(at, piece.c_str(), last ? finalFlags : kSearchFlags);
        if (fd < 0) return errno;
        current.reset(fd);  // the previous piece's descriptor is no longer needed
        at = fd;
        pos = next;
    }
    if (!current) return ENOENT;
    out = std::move(current);
    return 0;
}

int openPath(std::string_view path, int flags, UniqueFd& out) {
    out.reset();
    if (path.empty()) return ENOENT;
    if (path.find('\0') != std::string_view::npos) return EINVAL;
    if (path.size() < PATH_MAX) {
        const std::string p(path);
        const int fd = ::open(p.c_str(), flags);
        if (fd >= 0) {
            out.reset(fd);
            return 0;
        }
        if (errno != ENAMETOOLONG) return errno;
    }
    return openInPieces(path, flags, out);
}

}  // namespace

int openDirectory(std::string_view path, UniqueFd& out) {
    return openPath(path, kReadFlags, out);
}

int identityOf(int fd, DirIdentity& out) {
    KernelStatx sx{};
    const int err =
        kernelStatx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO | STATX_MNT_ID, sx);
    if (err == 0) out = identityFrom(sx);
    return err;
}

int openSubdirectory(int parentFd, const char* name, const DirIdentity* expect, UniqueFd& out) {
    out.reset();
    UniqueFd fd(::openat(parentFd, name, kReadFlags | O_NOFOLLOW));
    if (!fd) return errno;
    if (expect != nullptr) {
        DirIdentity got;
        const int err = identityOf(fd.get(), got);
        if (err != 0) return err;
        if (!got.sameAs(*expect)) return ENOENT;
    }
    out = std::move(fd);
    return 0;
}

int reopenDirectory(std::string_view path, const DirIdentity& expect, UniqueFd& out) {
    UniqueFd fd;
    int err = openDirectory(path, fd);
    if (err != 0) return err;
    DirIdentity got;
    err = identityOf(fd.get(), got);
    if (err != 0) return err;
    if (!got.sameAs(expect)) return ENOENT;
    out = std::move(fd);
    return 0;
}

DirReader::DirReader(std::size_t bufferSize)
    : m_owned(new char[bufferSize]), m_buffer(m_owned.get()), m_size(bufferSize) {}

DirReader::DirReader(char* buffer, std::size_t size) : m_buffer(buffer), m_size(size) {}

void DirReader::reset(int fd) {
    m_fd = fd;
    m_filled = m_pos = 0;
    m_error = 0;
    m_done = false;
}

bool DirReader::next(DirEntry& entry) {
    while (!m_done) {
        if (m_pos >= m_filled) {
            const long n = ::syscall(SYS_getdents64, m_fd, m_buffer, m_size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_error = n < 0 ? errno : 0;
                m_done = true;
                return false;
            }
            m_filled = n;
            m_pos = 0;
        }
        const auto* d = reinterpret_cast<const LinuxDirent64*>(m_buffer + m_pos);
        m_pos += d->d_reclen;
        entry.cname = d->d_name;
        entry.name = std::string_view(d->d_name);
        entry.type = d->d_type;
        entry.inode = d->d_ino;
        return true;
    }
    return false;
}

int statEntry(int dirFd, const char* name, unsigned fields, EntryStat& out) {
    unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_INO | STATX_MNT_ID;
    if (fields & kStatTime) mask |= STATX_MTIME;
    if (fields & kStatAllocation) mask |= STATX_BLOCKS | STATX_NLINK;
    KernelStatx sx{};
    const int err = kernelStatx(dirFd, name, kStatFlags, mask, sx);
    if (err != 0) return err;
    out.mode = sx.mode;
    out.size = sx.size;
    out.mtime = (fields & kStatTime) ? sx.mtime.tv_sec : 0;
    out.blocks = (fields & kStatAllocation) ? sx.blocks : 0;
    out.links = (fields & kStatAllocation) ? sx.nlink : 0;
    out.id = identityFrom(sx);
    out.mountRoot = (sx.attributesMask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                    (sx.attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return 0;
}

bool isOtherFileSystem(const EntryStat& entry, const DirIdentity& start) {
    if (entry.mountRoot) return true;
    if (entry.id.mountId != 0 && start.mountId != 0 && entry.id.mountId != start.mountId)
        return true;
    return entry.id.devMajor != start.devMajor || entry.id.devMinor != start.devMinor;
}

int listSubdirectories(const std::string& dir, std::vector<std::string>& names) {
    UniqueFd fd;
    if (const int err = openDirectory(dir, fd); err != 0) return err;
    DirReader reader;
    reader.reset(fd.get());
    DirEntry e;
    while (reader.next(e)) {
        if (isHiddenName(e.name)) continue;
        bool isDir = e.type == DT_DIR;
        if (e.type == DT_UNKNOWN) {
            EntryStat st;
            isDir = statEntry(fd.get(), e.cname, kStatBasic, st) == 0 && S_ISDIR(st.mode);
        }
        if (isDir) names.emplace_back(e.name);
    }
    return reader.error();
}

int changeDirectory(const std::string& dir) {
    if (dir.empty()) return ENOENT;
    if (dir.find('\0') != std::string::npos) return EINVAL;
    if (::chdir(dir.c_str()) == 0) return 0;
    if (errno != ENAMETOOLONG) return errno;
    UniqueFd fd;
    if (const int err = openInPieces(dir, kSearchFlags, fd); err != 0) return err;
    return ::fchdir(fd.get()) == 0 ? 0 : errno;
}

}  // namespace pelmora::platform
