// Reading directories: the one place where the program opens, reads and examines them.
//
// Three steps over descriptors and getdents64: open a directory (by a path of any length, or by
// name relative to its parent's descriptor), read its entries one by one (DirReader), close it
// (UniqueFd). Entries are examined with statEntry, which never follows a symlink, never
// triggers an automount and never waits for a network or FUSE server to refresh attributes.
//
// Errors: every function that can fail returns an errno value, 0 for success. The program's
// code for it is platform::ioCodeFromErrno (platform/ioerror.h): ENOENT 2 "File not found",
// ENOTDIR/ENAMETOOLONG 3, EMFILE/ENFILE 4 "Too many open files", EACCES/EPERM 5 "File access
// denied"; others keep their errno. EMFILE and ENFILE mean "try again with fewer descriptors
// open", not "this directory cannot be read".
//
// Nothing here is tied to a thread: readers and descriptors belong to their caller, and any
// number of threads may use the functions at once. No function keeps a process-wide state
// except changeDirectory, which changes the process's current directory.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uniquefd.h"

namespace pelmora::platform {

// Which directory a descriptor or an entry stands for: its device and inode, and the kernel's
// id of the mount it belongs to (0 when the kernel does not report mount ids).
struct DirIdentity {
    std::uint64_t inode = 0;
    std::uint32_t devMajor = 0;
    std::uint32_t devMinor = 0;
    std::uint64_t mountId = 0;
    // Same device and inode, and the same mount when both sides know theirs.
    bool sameAs(const DirIdentity& o) const {
        return inode == o.inode && devMajor == o.devMajor && devMinor == o.devMinor &&
               (mountId == 0 || o.mountId == 0 || mountId == o.mountId);
    }
};

// Opens the directory `path` for reading, following symlinks as open(2) does. A path the
// kernel refuses as too long (more than PATH_MAX bytes) is opened piece by piece, each piece
// a run of whole components of at most PATH_MAX - 1 bytes, which holds one more descriptor
// for a moment. An empty path is ENOENT, as for open(2); a path holding a 0 byte is EINVAL.
// On success `out` owns the descriptor; on failure `out` is left empty. ENOTDIR when the path
// names something other than a directory.
int openDirectory(std::string_view path, UniqueFd& out);

// Opens `name` (one component) in the directory `parentFd` for reading, without following a
// symlink in its place. With `expect`, the directory opened must be that one (sameAs):
// otherwise it is closed again and the result is ENOENT, since the name no longer stands for
// the directory that was listed. ENOTDIR or ELOOP when the name is no longer a directory.
int openSubdirectory(int parentFd, const char* name, const DirIdentity* expect, UniqueFd& out);

// Opens `path` as openDirectory does and checks that it is the directory `expect` (ENOENT
// otherwise). For reaching again, by its path, a directory whose descriptor was given up.
int reopenDirectory(std::string_view path, const DirIdentity& expect, UniqueFd& out);

// The identity of the directory (or any file) open as `fd`.
int identityOf(int fd, DirIdentity& out);

// One entry as getdents64 reports it. `name` and `cname` point into the reader's buffer and
// stay valid until the reader's next call to next() or reset().
struct DirEntry {
    std::string_view name;
    const char* cname = "";           // the same bytes, ending with a 0 byte, for the *at calls
    unsigned char type = DT_UNKNOWN;  // DT_DIR, DT_REG, DT_LNK, ...; DT_UNKNOWN when not told
    std::uint64_t inode = 0;
};

// Reads the entries of one open directory in the order the file system keeps them, "." and
// ".." included, with one getdents64 per buffer full. The buffer is the reader's own (of
// `bufferSize` bytes) or one the caller lends for the reader's lifetime.
class DirReader {
  public:
    static constexpr std::size_t kDefaultBufferSize = 32 * 1024;
    explicit DirReader(std::size_t bufferSize = kDefaultBufferSize);
    DirReader(char* buffer, std::size_t size);

    // Starts reading `fd` (not owned; it must stay open while it is read) from where its
    // position stands: for a freshly opened directory, the first entry.
    void reset(int fd);

    // The next entry: true and `entry` filled; false at the end of the directory, or when
    // reading failed, which error() then tells (0 after a complete read). After false, every
    // further call returns false.
    bool next(DirEntry& entry);
    int error() const { return m_error; }

  private:
    std::unique_ptr<char[]> m_owned;
    char* m_buffer;
    std::size_t m_size;
    int m_fd = -1;
    long m_filled = 0;
    long m_pos = 0;
    int m_error = 0;
    bool m_done = true;
};

// What statEntry reports of an entry. Fields beyond the type, mode, size and identity are
// filled only when asked for.
struct EntryStat {
    std::uint16_t mode = 0;    // type and permission bits, as st_mode
    std::uint64_t size = 0;    // st_size: for a symlink, the length of its target text
    std::int64_t mtime = 0;    // kStatTime: seconds since the epoch
    std::uint64_t blocks = 0;  // kStatAllocation: allocated 512-byte blocks (st_blocks)
    std::uint32_t links = 0;   // kStatAllocation: number of hard links
    DirIdentity id;
    // True when the kernel says the entry is the root of a mount (a mount point: another
    // file system, or a bind mount of part of this one).
    bool mountRoot = false;
};

constexpr unsigned kStatBasic = 0;
constexpr unsigned kStatTime = 1;
constexpr unsigned kStatAllocation = 2;

// Examines `name` in the directory `dirFd` (statx relative to the descriptor) without
// following a symlink, without triggering an automount and without asking a remote server for
// fresh attributes (AT_STATX_DONT_SYNC), so that a dead network mount point never blocks.
// `fields` is kStatBasic or'ed with kStatTime and kStatAllocation. ENOENT when the entry is
// gone since it was listed; EACCES when the directory may be listed but not searched.
int statEntry(int dirFd, const char* name, unsigned fields, EntryStat& out);

// Whether an entry must be examined with statEntry, from its type alone. Callers that need its
// size or times examine every entry they use. One that only has to find the directories to
// enter examines DT_DIR entries (to tell mount points and to know their identity) and
// DT_UNKNOWN ones (whose type only a stat tells); every other type is no directory.
constexpr bool mustStat(unsigned char type, bool needDetails) {
    return needDetails || type == DT_DIR || type == DT_UNKNOWN;
}

// True when `entry`, a directory met inside a walk that started on `start`, lies on another
// file system: it is the root of a mount (bind mounts included), or its mount id or its device
// differs from the start's. Where the kernel reports neither the mount-root attribute nor mount
// ids, the device alone decides.
bool isOtherFileSystem(const EntryStat& entry, const DirIdentity& start);

// The names of the subdirectories of `dir` that a user browses: names beginning with '.' (so
// also "." and "..") are left out, and so is every entry that is not a directory; symlinks are
// not followed. In the order the file system keeps them. An entry is examined only when its
// type is unknown. Returns 0, or the error that kept `dir` from being opened or read (the names
// read before a read error are kept).
int listSubdirectories(const std::string& dir, std::vector<std::string>& names);

// Makes `dir` the process's current directory (any length; needs only search permission, as
// chdir(2)). On failure the current directory is unchanged.
int changeDirectory(const std::string& dir);

}  // namespace pelmora::platform
