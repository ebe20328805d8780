#include "stats/walker.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/dir.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/exclude.h"
#include "stats/tally.h"

// How a walk reads the disk: each directory is read once through the directory reader
// (platform/dir.h), and each entry is looked at with one statEntry relative to the directory's
// descriptor. The entries that match the mask go to the callback as they come; the
// subdirectories to enter are kept (inode and name) and entered after the directory has been
// read, in enumeration order. The walk keeps its own stack, so neither the call stack nor the
// descriptor limit bounds the depth: at most the budget's directories stay open, and a
// directory whose descriptor was given up is opened again from its nearest open ancestor (each
// step checked to reach the directory that was listed) when its next subdirectory is due.

namespace pelmora::stats {

TWalkState WalkState;

namespace {

using detail::pathOfPrefix;
using platform::DirIdentity;
using platform::UniqueFd;

constexpr std::size_t kBufferSize = 64 * 1024;

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
    if (platform::isHiddenName(name) && !isDotOrDotDot(name)) attr |= faHidden;
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
    if (platform::isHiddenName(name) && !isDotOrDotDot(name)) attr |= faHidden;
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

bool shortOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE;
}

// The directory a walk enters below its start: the listed inode on the start's device and mount.
DirIdentity belowStart(const DirIdentity& start, std::uint64_t inode) {
    DirIdentity id = start;
    id.inode = inode;
    return id;
}

// One directory being read: delivers matching entries to the callback and, when asked,
// collects the subdirectories to enter.
class EntryScanner {
  public:
    explicit EntryScanner(platform::DirReader& reader) : m_reader(reader) {}

    struct Request {
        int fd;
        std::string_view prefix;
        std::string_view mask;
        std::uint16_t attrs;
        WalkCallback callback;
        const WalkOptions* options;
        bool collect;              // gather subdirectories to enter
        const DirIdentity* start;  // the walk's start directory (with collect)
        std::string* names;        // where collected inodes and names go
    };

    struct Result {
        int status = kNoMoreEntries;
        bool matchedAny = false;
        int error = 0;  // the first errno that kept part of the directory from being read
    };

    Result read(const Request& rq) {
        Result result;
        const bool maskAll = rq.mask == "*.*" || rq.mask == "*";
        const std::uint32_t excluded = excludedBits(rq.attrs);
        unsigned fields = platform::kStatBasic;
        if (rq.options->fillTime) fields |= platform::kStatTime;
        if (rq.options->allocation) fields |= platform::kStatAllocation;
        m_reader.reset(rq.fd);
        platform::DirEntry e;
        while (m_reader.next(e)) {
            const std::string_view name = e.name;
            const bool dot =
                platform::isHiddenName(name) && !(rq.options->enterHidden && !isDotOrDotDot(name));
            const bool matches = maskAll || MatchesMask(name, rq.mask);
            const bool candidate = rq.collect && !dot && platform::mustStat(e.type, false);
            if (!matches && !candidate) continue;
            if (rq.options->exclude != nullptr && !isDotOrDotDot(name) &&
                rq.options->exclude->excludes(rq.prefix, name))
                continue;
            if (matches) result.matchedAny = true;

            TSearchRec rec;
            rec.Name = name;
            platform::EntryStat st;
            bool looked = false;
            if (candidate || (matches && (!dot || rq.options->statDotNames))) {
                const int err = platform::statEntry(rq.fd, e.cname, fields, st);
                if (err != 0) {
                    // Gone since it was listed: the tree changed, and there is nothing to count.
                    // Anything else (a directory that may be listed but not searched) is an
                    // error of this directory, unless only a name beginning with '.' was to be
                    // looked at, which the walk neither counts nor enters.
                    if (err != ENOENT && result.error == 0 && (candidate || !dot))
                        result.error = err;
                    continue;
                }
                looked = true;
                rec.Size = static_cast<std::int64_t>(st.size);
                rec.Attr = attributesOf(name, st.mode);
                rec.Stat = &st;
                if (rq.options->fillTime) rec.Time = packedLocalTime(st.mtime);
            } else {
                rec.Attr = attributesFromType(name, e.type);
            }

            if (matches && (rec.Attr & excluded) == 0) rq.callback(rec, rq.prefix);

            if (candidate && looked && S_ISDIR(st.mode) &&
                !platform::isOtherFileSystem(st, *rq.start)) {
                // Each kept name is stored after its inode, and ends with a 0 byte.
                const std::uint64_t ino = st.id.inode;
                rq.names->append(reinterpret_cast<const char*>(&ino), sizeof ino);
                rq.names->append(name);
                rq.names->push_back('\0');
            }
        }
        if (m_reader.error() != 0) {
            result.status = platform::ioCodeFromErrno(m_reader.error());
            if (result.error == 0) result.error = m_reader.error();
        }
        return result;
    }

  private:
    platform::DirReader& m_reader;
};

// One level of the walk's own stack.
struct Frame {
    UniqueFd fd;             // may be given up to stay within the budget
    std::size_t pathLength;  // length of the walk's path text up to and including its '/'
    std::size_t namesBegin;  // its subdirectories' names in the shared name store
    std::size_t namesEnd;
    std::size_t next;        // offset of the next subdirectory's name
    std::size_t nameOffset;  // its own name in the parent's part of the store
    std::size_t nameLength;
    DirIdentity id;
};

class TreeWalk {
  public:
    explicit TreeWalk(platform::DirReader& reader) : m_scanner(reader) {}

    // The walk of `dir` (the prefix of its entries is `prefix`) with the request it holds.
    int run(std::string_view dir, std::string prefix, std::string_view mask, std::uint16_t attrs,
            WalkCallback callback, const WalkOptions& options) {
        m_mask = std::string(mask.substr(0, 12));
        m_attrs = attrs;
        m_callback = callback;
        m_options = &options;
        m_budget = options.descriptorBudget;

        UniqueFd start;
        int err = platform::openDirectory(dir.empty() ? std::string_view(".") : dir, start);
        if (err == 0) err = platform::identityOf(start.get(), m_start);
        if (err != 0) {
            options.onError(pathOfPrefix(prefix), err);
            return platform::ioCodeFromErrno(err);
        }
        if (options.observer != nullptr) options.observer->started(m_start);

        m_path = std::move(prefix);
        Frame root;
        root.pathLength = m_path.size();
        root.namesBegin = 0;
        root.id = m_start;
        root.nameOffset = root.nameLength = 0;
        // The start directory is read with the whole mask, every level below with its first
        // 12 characters.
        const EntryScanner::Result r = m_scanner.read(
            {start.get(), m_path, mask, attrs, callback, m_options, true, &m_start, &m_names});
        if (r.error != 0) options.onError(pathOfPrefix(m_path), r.error);
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
                const bool below = m_stack.size() > 1;
                m_stack.pop_back();
                if (below && options.observer != nullptr) options.observer->leave();
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
        const DirIdentity expect = belowStart(m_start, inode);
        WalkObserver* const observer = m_options->observer;

        m_path.resize(m_stack[parentIndex].pathLength);
        m_path.append(name);
        if (observer != nullptr) observer->enter(inode, m_path, parentIndex + 1);
        UniqueFd fd;
        int err = ensureOpen(parentIndex);
        if (err == 0)
            err = platform::openSubdirectory(m_stack[parentIndex].fd.get(), name.c_str(), &expect,
                                             fd);
        if (shortOfDescriptors(err)) {
            // Short of descriptors: give up every one the walk holds and enter the directory
            // by its path, which needs a single descriptor.
            releaseDescriptors(0, m_stack.size());
            err = platform::reopenDirectory(m_path, expect, fd);
        }
        if (err != 0) {
            // Removed meanwhile, no access: nothing below it counts, and the walk says so.
            m_options->onError(m_path, err);
            if (observer != nullptr) observer->leave();
            return;
        }
        m_path.push_back('/');

        Frame frame;
        frame.pathLength = m_path.size();
        frame.nameOffset = nameOffset;
        frame.nameLength = nameLength;
        frame.id = expect;
        frame.namesBegin = m_names.size();
        const EntryScanner::Result r = m_scanner.read(
            {fd.get(), m_path, m_mask, m_attrs, m_callback, m_options, true, &m_start, &m_names});
        if (r.error != 0) m_options->onError(pathOfPrefix(m_path), r.error);
        frame.namesEnd = m_names.size();
        frame.next = frame.namesBegin;
        if (frame.namesEnd == frame.namesBegin) {  // nothing to enter below it
            if (observer != nullptr) observer->leave();
            return;
        }

        frame.fd = std::move(fd);
        ++m_open;
        m_stack.push_back(std::move(frame));
        if (m_open > m_budget) {
            // Keep the start directory, the newest frame and half the budget below it.
            const std::size_t keep = m_budget / 2 + 1;
            releaseDescriptors(1, m_stack.size() > keep ? m_stack.size() - keep : 0);
        }
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

    // Makes sure frame `index` has a descriptor, opening it again from its nearest open
    // ancestor one name at a time, or by its path when no ancestor is open or descriptors
    // run short. Every step must reach the directory that was listed. Returns 0, or the
    // error that kept it closed.
    int ensureOpen(std::size_t index) {
        Frame& frame = m_stack[index];
        if (frame.fd) return 0;
        std::size_t base = index;
        while (base > 0 && !m_stack[base].fd) --base;
        UniqueFd current;
        int err = 0;
        if (m_stack[base].fd) {
            int at = m_stack[base].fd.get();
            for (std::size_t i = base + 1; i <= index && err == 0; ++i) {
                const std::string name(m_names.data() + m_stack[i].nameOffset,
                                       m_stack[i].nameLength);
                UniqueFd next;
                err = platform::openSubdirectory(at, name.c_str(), &m_stack[i].id, next);
                if (err == 0) {
                    current = std::move(next);
                    at = current.get();
                }
            }
        }
        if (!current && (!m_stack[base].fd || shortOfDescriptors(err))) {
            // No open ancestor, or too few descriptors for the chain: try the path.
            releaseDescriptors(0, m_stack.size());
            const std::string_view path = std::string_view(m_path).substr(0, frame.pathLength);
            err = platform::reopenDirectory(path.empty() ? std::string_view(".") : path, frame.id,
                                            current);
        }
        if (!current) return err != 0 ? err : ENOENT;
        frame.fd = std::move(current);
        ++m_open;
        if (m_open > m_budget) releaseDescriptors(1, index);
        return 0;
    }

    EntryScanner m_scanner;
    std::string m_mask;  // of the levels below the start
    std::uint16_t m_attrs = 0;
    WalkCallback m_callback;
    const WalkOptions* m_options = nullptr;
    std::vector<Frame> m_stack;
    std::string m_names;
    std::string m_path;
    DirIdentity m_start;
    std::size_t m_open = 0;
    std::size_t m_budget = 48;
};

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
    UniqueFd fd;
    if (const int err = platform::openDirectory(dir.empty() ? std::string_view(".") : dir, fd);
        err != 0) {
        options.onError(pathOfPrefix(dir), err);
        return platform::ioCodeFromErrno(err);
    }
    // A scan may run inside a walk's callback, so it reads with a buffer of its own.
    platform::DirReader reader(kBufferSize);
    EntryScanner scanner(reader);
    const EntryScanner::Result r =
        scanner.read({fd.get(), dir, mask, attrs, callback, &options, false, nullptr, nullptr});
    if (r.error != 0) options.onError(pathOfPrefix(dir), r.error);
    if (!r.matchedAny && r.status == kNoMoreEntries) return platform::kFileNotFound;
    return r.status;
}

int WalkTree(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
             WalkOptions options) {
    const std::string_view dir = platform::directoryPart(pattern);
    const std::string_view mask = pattern.substr(dir.size());
    WalkState.Mask = std::string(mask.substr(0, 12));
    WalkState.Attrs = attrs;
    WalkState.Callback = callback;
    WalkState.Options = options;
    platform::DirReader reader(kBufferSize);
    TreeWalk walk(reader);
    return walk.run(dir.empty() ? std::string_view(".") : dir, std::string(dir), mask, attrs,
                    callback, options);
}

int walkDirectory(std::string_view dir, std::string_view mask, std::uint16_t attrs,
                  WalkCallback callback, const WalkOptions& options) {
    platform::DirReader reader(kBufferSize);
    TreeWalk walk(reader);
    return walk.run(dir.empty() ? std::string_view(".") : dir,
                    dir.empty() ? std::string() : platform::joinPattern(dir, ""), mask, attrs,
                    callback, options);
}

}  // namespace pelmora::stats
