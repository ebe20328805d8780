#include "cli/ncdu.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "output/DataFile.h"
#include "pelmora/version.h"
#include "platform/dir.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/exclude.h"

namespace pelmora::cli {

namespace {

using platform::DirIdentity;
using platform::EntryStat;
using platform::UniqueFd;

constexpr std::size_t kFlushSize = 64 * 1024;

bool shortOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE;
}

// The text a directory's errors are named by: its prefix without the trailing '/'.
std::string_view pathOfPrefix(std::string_view prefix) {
    if (prefix.size() > 1 && prefix.back() == '/') prefix.remove_suffix(1);
    return prefix;
}

// A directory to enter, as its parent's listing found it. Kept in the walk's name store as
// these bytes followed by the name and a 0 byte.
struct Pending {
    std::uint64_t inode;
    std::uint64_t size;
    std::uint64_t blocks;
};

// One directory on the walk's path.
struct Frame {
    UniqueFd fd;             // may be given up to stay within the budget
    DirIdentity id;          // what it must be when opened again
    std::size_t pathLength;  // of the walk's path, up to and including its '/'
    std::size_t begin;       // its subdirectories in the name store: from here
    std::size_t next;        // offset of its next subdirectory in the name store
    std::size_t end;         // end of its subdirectories there
    std::size_t nameOffset;  // its own name in the store (its parent's part)
    std::size_t nameLength;
};

class NcduWalk {
  public:
    NcduWalk(const NcduRules& rules, output::DataSink& sink) : m_rules(rules), m_sink(sink) {}

    stats::CountResult run(std::string_view dir, std::int64_t timestamp) {
        write("[1,2,{\"progname\":\"pelmora-cli\",\"progver\":" + ncduString(PELMORA_VERSION) +
              ",\"timestamp\":" + std::to_string(timestamp) + "},\n");
        const std::string name = dir.empty() ? std::string() : platform::expandFileName(dir);
        m_path = std::string(dir);
        if (!m_path.empty() && m_path.back() != '/') m_path += '/';

        UniqueFd root;
        EntryStat st;
        int err = dir.empty() ? ENOENT : platform::openDirectory(dir, root);
        if (err == 0) err = platform::identityOf(root.get(), m_start);
        if (err == 0) err = platform::statEntry(root.get(), ".", platform::kStatAllocation, st);
        if (err != 0) {
            error(pathOfPrefix(m_path), err);
            write("[{\"name\":" + ncduString(name.empty() ? std::string(dir) : name) +
                  ",\"read_error\":true}]]\n");
            flush();
            return std::move(m_result);
        }
        const std::uint64_t dev = makedev(m_start.devMajor, m_start.devMinor);
        Frame frame;
        frame.pathLength = m_path.size();
        frame.id = m_start;
        frame.nameOffset = frame.nameLength = 0;
        enter(std::move(root), frame, {st.id.inode, st.size, st.blocks},
              name.empty() ? std::string(dir) : name, ",\"dev\":" + std::to_string(dev));
        while (!m_stack.empty()) {
            Frame& top = m_stack.back();
            if (top.next >= top.end) {
                m_names.resize(top.begin);
                if (top.fd) --m_open;
                m_stack.pop_back();
                write("]");
                continue;
            }
            descend();
        }
        write("]\n");
        flush();
        return std::move(m_result);
    }

  private:
    // Enters the next subdirectory of the top frame.
    void descend() {
        const std::size_t parent = m_stack.size() - 1;
        Frame& top = m_stack[parent];
        Pending p;
        std::memcpy(&p, m_names.data() + top.next, sizeof p);
        Frame frame;
        frame.nameOffset = top.next + sizeof p;
        frame.nameLength = std::strlen(m_names.data() + frame.nameOffset);
        top.next = frame.nameOffset + frame.nameLength + 1;
        const std::string name(m_names.data() + frame.nameOffset, frame.nameLength);
        frame.id = m_start;
        frame.id.inode = p.inode;

        m_path.resize(top.pathLength);
        m_path += name;
        UniqueFd fd;
        int err = ensureOpen(parent);
        if (err == 0)
            err = platform::openSubdirectory(m_stack[parent].fd.get(), name.c_str(), &frame.id, fd);
        if (shortOfDescriptors(err)) {
            // Every descriptor of the walk given up, the directory is reached by its path.
            release(0, m_stack.size());
            err = platform::reopenDirectory(m_path, frame.id, fd);
        }
        if (err != 0) {
            error(m_path, err);
            write(",\n[{" + sizes(name, p.size, p.blocks) + ",\"read_error\":true}]");
            return;
        }
        m_path += '/';
        frame.pathLength = m_path.size();
        enter(std::move(fd), frame, p, name, {});
    }

    // Reads the directory open as `fd` and writes its info and its entries; its
    // subdirectories go on the stack to be entered next.
    void enter(UniqueFd fd, Frame& frame, const Pending& own, const std::string& name,
               const std::string& extra) {
        if (m_rules.cancel != nullptr && m_rules.cancel->load(std::memory_order_relaxed))
            throw stats::Cancelled();
        const std::size_t begin = m_names.size();
        m_listing.clear();
        const int err = list(fd.get());
        if (err != 0) error(pathOfPrefix(m_path), err);
        write((m_stack.empty() ? "[{" : ",\n[{") + sizes(name, own.size, own.blocks) + extra +
              (err != 0 ? ",\"read_error\":true}" : "}"));
        write(m_listing);
        if (m_names.size() == begin) {
            write("]");
            return;
        }
        frame.begin = frame.next = begin;
        frame.end = m_names.size();
        frame.fd = std::move(fd);
        ++m_open;
        m_stack.push_back(std::move(frame));
        if (m_open > m_rules.descriptorBudget) {
            // The start, the newest and half the budget above the newest stay open.
            const std::size_t keep = m_rules.descriptorBudget / 2 + 1;
            release(1, m_stack.size() > keep ? m_stack.size() - keep : 0);
        }
    }

    // Counts the entries of one directory, writes those it does not enter to the listing and
    // keeps its subdirectories. Returns the first error that kept part of it from being read.
    int list(int fd) {
        int failed = 0;
        std::int64_t entries = 0;
        std::uint64_t bytes = 0;
        m_reader.reset(fd);
        platform::DirEntry e;
        while (m_reader.next(e)) {
            if (e.name == "." || e.name == "..") continue;
            if (m_rules.exclude != nullptr && m_rules.exclude->excludes(m_path, e.name)) {
                excluded(e.name);
                continue;
            }
            if (!m_rules.hidden && platform::isHiddenName(e.name)) {
                if (holdsData(fd, e)) ++m_result.hiddenLeftOut;
                excluded(e.name);
                continue;
            }
            EntryStat st;
            const int err = platform::statEntry(fd, e.cname, platform::kStatAllocation, st);
            if (err != 0) {
                // Gone since it was listed: nothing to count. Anything else (a directory that
                // may be listed but not searched) is this directory's error.
                if (err != ENOENT && failed == 0) failed = err;
                continue;
            }
            ++entries;
            bytes += st.size;
            m_result.byteTotal += stats::Real48::fromInt(static_cast<std::int64_t>(st.size));
            m_result.exactBytes += st.size;
            if (!S_ISDIR(st.mode)) {
                ++m_result.files;
                file(e.name, st);
                continue;
            }
            ++m_result.directories;
            if (platform::isOtherFileSystem(st, m_start)) {
                m_listing +=
                    ",\n{" + sizes(e.name, st.size, st.blocks) + ",\"excluded\":\"otherfs\"}";
                continue;
            }
            const Pending p{st.id.inode, st.size, st.blocks};
            m_names.append(reinterpret_cast<const char*>(&p), sizeof p);
            m_names.append(e.name);
            m_names.push_back('\0');
        }
        if (m_reader.error() != 0 && failed == 0) failed = m_reader.error();
        if (m_rules.progress != nullptr)
            m_rules.progress->add(entries, bytes, pathOfPrefix(m_path));
        return failed;
    }

    void file(std::string_view name, const EntryStat& st) {
        m_listing += ",\n{" + sizes(name, st.size, st.blocks);
        if (st.links > 1)
            m_listing += ",\"ino\":" + std::to_string(st.id.inode) +
                         ",\"hlnkc\":true,\"nlink\":" + std::to_string(st.links);
        if (!S_ISREG(st.mode)) m_listing += ",\"notreg\":true";
        m_listing += '}';
    }

    void excluded(std::string_view name) {
        m_listing += ",\n{\"name\":" + ncduString(name) + ",\"excluded\":\"pattern\"}";
    }

    static std::string sizes(std::string_view name, std::uint64_t size, std::uint64_t blocks) {
        std::string s = "\"name\":" + ncduString(name);
        if (size != 0) s += ",\"asize\":" + std::to_string(size);
        if (blocks != 0) s += ",\"dsize\":" + std::to_string(blocks * 512);
        return s;
    }

    // Whether a hidden entry holds data: a directory, or a file of a byte or more.
    static bool holdsData(int fd, const platform::DirEntry& e) {
        if (e.type == DT_DIR) return true;
        EntryStat st;
        return platform::statEntry(fd, e.cname, platform::kStatBasic, st) == 0 &&
               (S_ISDIR(st.mode) || st.size > 0);
    }

    void error(std::string_view path, int err) {
        if (m_result.errors.size() < stats::CountResult::kErrorsKept)
            m_result.errors.push_back({std::string(path), err, platform::ioCodeFromErrno(err)});
        ++m_result.errorCount;
    }

    // Gives up the descriptors of the frames from `first` up to below `limit`.
    void release(std::size_t first, std::size_t limit) {
        for (std::size_t i = first; i < limit && i < m_stack.size(); ++i) {
            if (m_stack[i].fd) {
                m_stack[i].fd.reset();
                --m_open;
            }
        }
    }

    // Opens frame `index` again if it gave its descriptor up: from its nearest open ancestor
    // one name at a time, or by its path when none is open or descriptors run short. Each step
    // must reach the directory that was listed. Returns 0 or the error.
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
            release(0, m_stack.size());
            err = platform::reopenDirectory(std::string_view(m_path).substr(0, frame.pathLength),
                                            frame.id, current);
        }
        if (!current) return err != 0 ? err : ENOENT;
        frame.fd = std::move(current);
        ++m_open;
        if (m_open > m_rules.descriptorBudget) release(1, index);
        return 0;
    }

    void write(std::string_view bytes) {
        m_out.append(bytes);
        if (m_out.size() >= kFlushSize) flush();
    }
    void flush() {
        if (!m_out.empty()) m_sink.write(m_out);
        m_out.clear();
    }

    const NcduRules& m_rules;
    output::DataSink& m_sink;
    stats::CountResult m_result;
    platform::DirReader m_reader;
    DirIdentity m_start;
    std::vector<Frame> m_stack;
    std::string m_names;    // the subdirectories still to enter, level by level
    std::string m_path;     // of the directory being read, with a '/' at its end
    std::string m_listing;  // the entries of the directory being read, as they are written
    std::string m_out;
    std::size_t m_open = 0;
};

}  // namespace

stats::CountResult writeNcduExport(std::string_view dir, const NcduRules& rules,
                                   output::DataSink& sink, std::int64_t timestamp) {
    NcduWalk walk(rules, sink);
    return walk.run(dir, timestamp);
}

std::string ncduString(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                s += "\\\"";
                break;
            case '\\':
                s += "\\\\";
                break;
            case '\b':
                s += "\\b";
                break;
            case '\f':
                s += "\\f";
                break;
            case '\n':
                s += "\\n";
                break;
            case '\r':
                s += "\\r";
                break;
            case '\t':
                s += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    s += "\\u00";
                    s += kHex[c >> 4];
                    s += kHex[c & 15];
                } else {
                    s += ch;
                }
        }
    }
    return s + '"';
}

}  // namespace pelmora::cli
