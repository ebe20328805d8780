// The tree walker: ScanDirectory and WalkTree over the directory reader of platform/dir.h.
//
// ScanDirectory enumerates one directory for a pattern ("dir/mask") and an attribute set, and
// calls a callback once per delivered entry with the entry record and the pattern's directory
// part (the prefix). WalkTree does the same for a start directory and every directory below
// it that the descent rule admits, depth first: all matching entries of a directory, then its
// subdirectories one by one, each to the bottom before the next. WalkTree is also the
// one-thread walk of the counting engine (stats/engine.h), which counts with several threads
// through the same reader.
//
// Linux mapping: directory = S_ISDIR of lstat; hidden = name begins with '.' (not "." and
// ".."); system = not a regular file, directory or symlink; read-only = no owner write bit;
// archive = regular file; volume label never. Symlinks are never followed, and a walk never
// leaves the start directory's mount (a mount point, bind mounts included, is delivered as an
// entry of its parent but not entered).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/ioerror.h"

namespace pelmora::platform {
struct EntryStat;
struct DirIdentity;
}  // namespace pelmora::platform

namespace pelmora::stats {

class Exclusion;

constexpr std::uint16_t faReadOnly = 0x01;
constexpr std::uint16_t faHidden = 0x02;
constexpr std::uint16_t faSysFile = 0x04;
constexpr std::uint16_t faVolumeID = 0x08;
constexpr std::uint16_t faDirectory = 0x10;
constexpr std::uint16_t faArchive = 0x20;

constexpr std::uint16_t AttrAll = 63;      // nothing excluded
constexpr std::uint16_t AttrDescend = 48;  // hidden, system and volume label excluded

// Scan status: 0 or kNoMoreEntries for a complete run, else the failing query's error code.
constexpr int kNoMoreEntries = platform::kNoMoreFiles;
constexpr bool scanSucceeded(int status) {
    return status == 0 || status == kNoMoreEntries;
}

struct TSearchRec {
    std::int32_t Time = 0;  // last write, packed FAT local date (high 16) and time (low 16)
    std::int64_t Size = 0;  // the entry's full length (never cut to 32 bits)
    std::uint32_t Attr = 0;
    std::string_view Name;  // the entry's own name; valid during the callback only
    // The entry as statEntry examined it (allocation fields only with WalkOptions::allocation);
    // null when it was not examined. Valid during the callback only.
    const platform::EntryStat* Stat = nullptr;
};

// A non-owning reference to a callable `void(const TSearchRec&, std::string_view prefix)`.
class WalkCallback {
  public:
    WalkCallback() = default;
    using Function = void (*)(const TSearchRec&, std::string_view);
    WalkCallback(Function fn)  // NOLINT(google-explicit-constructor)
        : m_object(reinterpret_cast<void*>(fn)),
          m_call([](void* o, const TSearchRec& r, std::string_view p) {
              reinterpret_cast<Function>(o)(r, p);
          }) {}
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, WalkCallback> &&
                                          !std::is_function_v<std::remove_reference_t<F>> &&
                                          !std::is_pointer_v<std::decay_t<F>>>>
    WalkCallback(F&& f)  // NOLINT(google-explicit-constructor)
        : m_object(const_cast<void*>(static_cast<const void*>(&f))),
          m_call([](void* o, const TSearchRec& r, std::string_view p) {
              (*static_cast<std::remove_reference_t<F>*>(o))(r, p);
          }) {}
    void operator()(const TSearchRec& r, std::string_view prefix) const {
        m_call(m_object, r, prefix);
    }
    explicit operator bool() const { return m_call != nullptr; }

  private:
    void* m_object = nullptr;
    void (*m_call)(void*, const TSearchRec&, std::string_view) = nullptr;
};

// A non-owning reference to a callable `void(std::string_view path, int err)`: told of each
// directory the walk could not read (path without a trailing '/', errno value).
class WalkErrorCallback {
  public:
    WalkErrorCallback() = default;
    template <typename F,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, WalkErrorCallback>>>
    WalkErrorCallback(F&& f)  // NOLINT(google-explicit-constructor)
        : m_object(const_cast<void*>(static_cast<const void*>(&f))),
          m_call([](void* o, std::string_view path, int err) {
              (*static_cast<std::remove_reference_t<F>*>(o))(path, err);
          }) {}
    void operator()(std::string_view path, int err) const {
        if (m_call != nullptr) m_call(m_object, path, err);
    }

  private:
    void* m_object = nullptr;
    void (*m_call)(void*, std::string_view, int) = nullptr;
};

// Told as the walk enters and leaves the directories below its start, for callers that keep
// figures per directory. Calls come on the walking thread, in walk order.
class WalkObserver {
  public:
    virtual ~WalkObserver() = default;
    // The start directory has been opened; `start` is what it is.
    virtual void started(const platform::DirIdentity& start) = 0;
    // Before a directory below the start is opened: its inode (on the start's device and
    // mount), its path (the prefix of its parent and its name) and its depth (1 for a
    // subdirectory of the start). Its entries, and its errors, come after this call.
    virtual void enter(std::uint64_t inode, std::string_view path, std::size_t depth) = 0;
    // After the directory and everything below it, also when it could not be opened.
    virtual void leave() = 0;
};

struct WalkOptions {
    // When false, entries whose name begins with '.' are delivered without a stat: Size 0,
    // Time 0, and only the attribute bits the directory entry itself tells. For callbacks that
    // ignore such names (counting).
    bool statDotNames = true;
    // When false, Time stays 0 (saves the local-time conversion per entry).
    bool fillTime = true;
    // When true, Stat carries the allocated blocks and the link count.
    bool allocation = false;
    // How many directories may keep their descriptor while their subdirectories are walked;
    // beyond it the walk gives some up and opens those directories again when it comes back.
    std::size_t descriptorBudget = 48;
    // Told of every directory that could not be read, the start directory included: one that
    // cannot be opened, whose reading failed, or whose entries could not be examined (each
    // directory at most once). The walk goes on; nothing else reports these.
    WalkErrorCallback onError;
    // When set, told of every directory below the start that the walk enters.
    WalkObserver* observer = nullptr;
    // The counting engine's own choices, for pelmora-cli count: enter directories whose name
    // begins with '.' too (walkDirectory only), and leave out the entries `exclude` names
    // (neither delivered nor entered).
    bool enterHidden = false;
    const Exclusion* exclude = nullptr;
};

// The process-wide slot WalkTree fills at its start: the mask (at most its first 12
// characters), attribute set, callback and options of the last walk begun. Not cleared when a
// walk ends. A mirror for whoever wants to know: no walk reads it back, each holds its own.
struct TWalkState {
    std::string Mask;  // the start pattern's mask, at most its first 12 characters
    std::uint16_t Attrs = 0;
    WalkCallback Callback;
    WalkOptions Options;
};
extern TWalkState WalkState;

// True when `name` matches `mask` ('*' any run, '?' any one character; "*.*" matches every
// name, dotted or not). Case-sensitive, as the file system is.
bool MatchesMask(std::string_view name, std::string_view mask);

// Enumerates the directory part of `pattern` for entries matching its mask and passing the
// attribute filter for `attrs`; calls `callback` for each, in enumeration order. Returns
// kNoMoreEntries after a complete run; 2 (file not found) when no entry matches at all or the
// directory does not exist; the mapped error code of another failure. Exceptions from the
// callback pass through after the directory has been closed.
int ScanDirectory(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
                  WalkOptions options = {});

// Walks the start directory of `pattern` and every directory below it that is neither
// hidden nor system, does not begin with '.', is no symlink and lies on the same mount.
// Returns the status of the start directory's scan if that failed, else kNoMoreEntries.
// Depth is limited by neither the call stack nor the descriptor limit: short of descriptors
// (EMFILE), the walk gives up those it holds and goes on with one. A subdirectory that cannot
// be read is told to options.onError and contributes nothing below itself. Sets WalkState.
int WalkTree(std::string_view pattern, std::uint16_t attrs, WalkCallback callback,
             WalkOptions options = {});

// WalkTree of the start directory `dir` with `mask`, without a pattern to split and without
// touching WalkState, so that walks may run on several threads at once. The prefix of the
// start's entries is `dir` with a '/' appended unless it ends in one; an empty `dir` is the
// current directory, with an empty prefix.
int walkDirectory(std::string_view dir, std::string_view mask, std::uint16_t attrs,
                  WalkCallback callback, const WalkOptions& options);

}  // namespace pelmora::stats
