#include "stats/walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/ioerror.h"
#include "platform/paths.h"

// How a walk reads the disk: each directory is read once with getdents64 into one reused
// buffer, and each entry is looked at with one statx relative to the directory's descriptor.
// The entries that match the mask go to the callback as they come; the subdirectories to enter
// are kept (names only) and entered after the directory has been read, in enumeration order.
// The walk keeps its own stack, so neither the call stack nor the descriptor limit bounds the
// depth: at most kOpenBudget directories stay open, and a directory whose descriptor was given
// up is opened again from its nearest open ancestor when its next subdirectory is due.

namespace pelmora::stats {

TWalkState WalkState;

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr std::size_t kOpenBudget = 48;
constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& o) noexcept : m_fd(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }
    explicit operator bool() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

bool isDotName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool isDotOrDotDot(std::string_view name) {
    return name == "." || name == "..";
}

std::uint32_t attributesOf(std::string_view name, std::uint16_t mode) {
    std::uint32_t attr = 0;
    if (S_ISDIR(mode))
        attr |= faDirectory;
    else if (S_ISREG(mode))
        attr |= faArchive;
    else if (!S_ISLNK(mode))
        attr |= faSysFile;
    if ((mode & S_IWUSR) == 0) attr |= faReadOnly;
    if (isDotName(name) && !isDotOrDotDot(name)) attr |= faHidden;
    return attr;
}

// What the directory entry alone tells, for entries that are not looked at.
std::uint32_t attributesFromType(std::string_view name, unsigned char type) {
    std::uint32_t attr = 0;
    if (type == DT_DIR)
        attr |= faDirectory;
    else if (type == DT_REG)
        attr |= faArchive;
    else if (type != DT_LNK && type != DT_UNKNOWN)
        attr |= faSysFile;
    if (isDotName(name) && !isDotOrDotDot(name)) attr |= faHidden;
    return attr;
}

std::uint32_t excludedBits(std::uint16_t attrs) {
    return (faHidden | faSysFile | faVolumeID | faDirectory) & ~static_cast<std::uint32_t>(attrs);
}

std::int32_t packedLocalTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return 0;
    const int year = tm.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    const std::uint32_t date =
        static_cast<std::uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const std::uint32_t time =
        static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return static_cast<std::int32_t>((date << 16) | time);
}

int errnoCode() {
    return platform::ioCodeFromErrno(errno);
}

// Opens a directory given by a path of any length: a path the kernel refuses as too long is
// opened component by component. Only the start of a walk, or a walk short of descriptors,
// opens by path.
int openDirectoryPath(const std::string& path) {
    const std::string& p = path.empty() ? std::string(".") : path;
    int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != ENAMETOOLONG) return fd;
    Fd current(::open(p.front() == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::size_t pos = 0;
    while (current && pos < p.size()) {
        std::size_t end = p.find('/', pos);
        if (end == std::string::npos) end = p.size();
        if (end > pos) {
            const std::string part = p.substr(pos, end - pos);
            current = Fd(::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        pos = end + 1;
    }
    return current.release();
}

// One directory being read: delivers matching entries to the callback and, when asked,
// collects the subdirectories to enter.
class DirectoryReader {
  public:
    explicit DirectoryReader(std::vector<char>& buffer) : m_buffer(buffer) {}

    struct Request {
        int fd;
        std::string_view prefix;
        std::string_view mask;
        std::uint16_t attrs;
        WalkCallback callback;
        WalkOptions options;
        bool collect;        // gather subdirectories to enter
        dev_t device;        // the walk's file system
        std::string* names;  // where collected names go, each followed by '\0'
    };

    struct Result {
        int status = kNoMoreEntries;
        bool matchedAny = false;
    };

    Result read(const Request& rq) {
        Result result;
        const bool maskAll = rq.mask == "*.*" || rq.mask == "*";
        const std::uint32_t excluded = excludedBits(rq.attrs);
        unsigned statMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_INO;
        if (rq.options.fillTime) statMask |= STATX_MTIME;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, rq.fd, m_buffer.data(), m_buffer.size());
            if (n == 0) break;
            if (n < 0) {
                result.status = errnoCode();
                break;
            }
            for (long off = 0; off < n;) {
                const auto* d = reinterpret_cast<const LinuxDirent64*>(m_buffer.data() + off);
                off += d->d_reclen;
                const std::string_view name(d->d_name);
                const bool dot = isDotName(name);
                const bool matches = maskAll || MatchesMask(name, rq.mask);
                const bool candidate =
                    rq.collect && !dot && (d->d_type == DT_DIR || d->d_type == DT_UNKNOWN);
                if (!matches && !candidate) continue;
                if (matches) result.matchedAny = true;

                TSearchRec rec;
                rec.Name = name;
                std::uint16_t mode = 0;
                bool looked = false;
                struct statx stx {};
                if (candidate || !dot || rq.options.statDotNames) {
                    if (::statx(rq.fd, d->d_name,
                                AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT,
                                statMask, &stx) != 0)
                        continue;  // gone since it was listed
                    looked = true;
                    mode = stx.stx_mode;
                    rec.Size = static_cast<std::int64_t>(stx.stx_size);
                    rec.Attr = attributesOf(name, mode);
                    if (rq.options.fillTime) rec.Time = packedLocalTime(stx.stx_mtime.tv_sec);
                } else {
                    rec.Attr = attributesFromType(name, d->d_type);
                }

                if (matches && (rec.Attr & excluded) == 0) rq.callback(rec, rq.prefix);

                if (candidate && looked && S_ISDIR(mode) &&
                    makedev(stx.stx_dev_major, stx.stx_dev_minor) == rq.device) {
                    // Each kept name is stored after its inode, and ends with a 0 byte.
                    const std::uint64_t ino = stx.stx_ino;
                    rq.names->append(reinterpret_cast<const char*>(&ino), sizeof ino);
                    rq.names->append(name);
                    rq.names->push_back('\0');
                }
            }
        }
        return result;
    }

  private:
    std::vector<char>& m_buffer;
};

// One level of the walk's own stack.
struct Frame {
    Fd fd;                   // may be given up to stay within the budget
    std::size_t pathLength;  // length of the walk's path text up to and including its '/'
    std::size_t namesBegin;  // its subdirectories' names in the shared name store
    std::size_t namesEnd;
    std::size_t next;        // offset of the next subdirectory's name
    std::size_t nameOffset;  // its own name in the parent's part of the store
    std::size_t nameLength;
    ino_t inode = 0;
    dev_t device = 0;
};

class TreeWalk {
  public:
    explicit TreeWalk(std::vector<char>& buffer) : m_reader(buffer) {}

    int run(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
            WalkOptions options) {
        const std::string_view dir = platform::directoryPart(pattern);
        const std::string_view mask = pattern.substr(dir.size());

        WalkState.Mask = std::string(mask.substr(0, 12));
        WalkState.Attrs = attrs;
        WalkState.Callback = callback;
        WalkState.Options = options;

        Fd start(openDirectoryPath(std::string(dir)));
        if (!start) return errnoCode();
        struct stat st {};
        if (::fstat(start.get(), &st) != 0) return errnoCode();

        m_path.assign(dir);
        Frame root;
        root.pathLength = m_path.size();
        root.namesBegin = 0;
        root.inode = st.st_ino;
        root.device = st.st_dev;
        root.nameOffset = root.nameLength = 0;
        const DirectoryReader::Result r = m_reader.read(
            {start.get(), m_path, mask, attrs, callback, options, true, st.st_dev, &m_names});
        if (!r.matchedAny && r.status == kNoMoreEntries) return platform::kFileNotFound;
        if (!scanSucceeded(r.status)) return r.status;
        root.namesEnd = m_names.size();
        root.next = root.namesBegin;
        root.fd = std::move(start);
        m_stack.push_back(std::move(root));
        m_open = 1;

        while (!m_stack.empty()) {
            Frame& top = m_stack.back();
            if (top.next >= top.namesEnd) {
                m_names.resize(top.namesBegin);
                if (top.fd) --m_open;
                m_stack.pop_back();
                continue;
            }
            std::uint64_t inode = 0;
            std::memcpy(&inode, m_names.data() + top.next, sizeof inode);
            const std::size_t nameOffset = top.next + sizeof inode;
            const std::size_t nameLength = std::strlen(m_names.data() + nameOffset);
            top.next = nameOffset + nameLength + 1;
            DescendInto(nameOffset, nameLength, inode);
        }
        return kNoMoreEntries;
    }

  private:
    // Enters one subdirectory of the top frame: reads it with the walk's mask, attribute set
    // and callback, and pushes it so that its own subdirectories are entered next.
    void DescendInto(std::size_t nameOffset, std::size_t nameLength, std::uint64_t inode) {
        const std::size_t parentIndex = m_stack.size() - 1;
        const std::string name(m_names.data() + nameOffset, nameLength);
        const dev_t device = m_stack.front().device;

        Fd fd;
        if (ensureOpen(parentIndex))
            fd = Fd(::openat(m_stack[parentIndex].fd.get(), name.c_str(), kOpenFlags));
        if (!fd && (errno == EMFILE || errno == ENFILE)) {
            // Short of descriptors: give up every one the walk holds and enter the directory
            // by its path, which needs a single descriptor.
            releaseDescriptors(0, m_stack.size());
            m_path.resize(m_stack[parentIndex].pathLength);
            m_path.append(name);
            fd = openVerified(m_path, inode, device);
        }
        if (!fd) return;  // removed meanwhile, no access: nothing below it counts

        m_path.resize(m_stack[parentIndex].pathLength);
        m_path.append(name);
        m_path.push_back('/');

        Frame frame;
        frame.pathLength = m_path.size();
        frame.nameOffset = nameOffset;
        frame.nameLength = nameLength;
        frame.inode = inode;
        frame.device = device;
        frame.namesBegin = m_names.size();
        m_reader.read({fd.get(), m_path, WalkState.Mask, WalkState.Attrs, WalkState.Callback,
                       WalkState.Options, true, device, &m_names});
        frame.namesEnd = m_names.size();
        frame.next = frame.namesBegin;
        if (frame.namesEnd == frame.namesBegin) return;  // nothing to enter below it

        frame.fd = std::move(fd);
        ++m_open;
        m_stack.push_back(std::move(frame));
        if (m_open > kOpenBudget) releaseDescriptors(1, m_stack.size() - kOpenBudget / 2);
    }

    // Gives up the descriptors of the frames from `first` up to below `limit`.
    void releaseDescriptors(std::size_t first, std::size_t limit) {
        for (std::size_t i = first; i < limit && i < m_stack.size(); ++i) {
            if (m_stack[i].fd) {
                m_stack[i].fd.reset();
                --m_open;
            }
        }
    }

    // Opens the directory at `path` and checks that it is still the one the walk met.
    static Fd openVerified(const std::string& path, std::uint64_t inode, dev_t device) {
        Fd fd(openDirectoryPath(path));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_ino != inode || st.st_dev != device)
            return Fd();
        return fd;
    }

    // Makes sure frame `index` has a descriptor, opening it again from its nearest open
    // ancestor one name at a time, or by its path when no ancestor is open or descriptors
    // run short. False when that fails or leads somewhere else; the rest of the frame's
    // subdirectories are then skipped.
    bool ensureOpen(std::size_t index) {
        Frame& frame = m_stack[index];
        if (frame.fd) return true;
        std::size_t base = index;
        while (base > 0 && !m_stack[base].fd) --base;
        Fd current;
        if (m_stack[base].fd) {
            int at = m_stack[base].fd.get();
            for (std::size_t i = base + 1; i <= index; ++i) {
                const std::string name(m_names.data() + m_stack[i].nameOffset,
                                       m_stack[i].nameLength);
                current = Fd(::openat(at, name.c_str(), kOpenFlags));
                if (!current) break;
                at = current.get();
            }
        }
        struct stat st {};
        if (!current || ::fstat(current.get(), &st) != 0 || st.st_ino != frame.inode ||
            st.st_dev != frame.device) {
            // No open ancestor, too few descriptors for the chain, or something in between
            // changed: try the path.
            current.reset();
            releaseDescriptors(0, m_stack.size());
            current = openVerified(m_path.substr(0, frame.pathLength), frame.inode, frame.device);
        }
        if (!current) {
            frame.next = frame.namesEnd;
            return false;
        }
        frame.fd = std::move(current);
        ++m_open;
        if (m_open > kOpenBudget) releaseDescriptors(1, index);
        return true;
    }

    DirectoryReader m_reader;
    std::vector<Frame> m_stack;
    std::string m_names;
    std::string m_path;
    std::size_t m_open = 0;
};

std::vector<char>& sharedBuffer() {
    static std::vector<char> buffer(kBufferSize);
    return buffer;
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*" || mask == "*") return true;
    // Iterative glob with backtracking to the last '*'.
    std::size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

int ScanDirectory(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
                  WalkOptions options) {
    const std::string_view dir = platform::directoryPart(pattern);
    const std::string_view mask = pattern.substr(dir.size());
    Fd fd(openDirectoryPath(std::string(dir)));
    if (!fd) return errnoCode();
    // A scan may run inside a walk's callback, so it reads with a buffer of its own.
    std::vector<char> buffer(64 * 1024);
    DirectoryReader reader(buffer);
    const DirectoryReader::Result r =
        reader.read({fd.get(), dir, mask, attrs, callback, options, false, 0, nullptr});
    if (!r.matchedAny && r.status == kNoMoreEntries) return platform::kFileNotFound;
    return r.status;
}

int WalkTree(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
             WalkOptions options) {
    TreeWalk walk(sharedBuffer());
    return walk.run(pattern, attrs, callback, options);
}

}  // namespace pelmora::stats
