// Replacing a file as one step: the list save and the data file both write this way.
//
// The new contents go to a temporary file created beside the target (exclusive create, never
// through a link), are flushed to the disk, and are renamed over the target. Readers see the
// old file or the new one, never a half; a failure at any step, an exception or an abandoned
// writer leaves the old file as it was and removes the temporary file, also when its folder
// was renamed meanwhile.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ioerror.h"

namespace pelmora::platform {

// The system calls that move the bytes, so that a test can make one of them fail as a full or
// failing disk would.
struct FileOps {
    ssize_t (*write)(int fd, const void* bytes, std::size_t count);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
};

// The real ones.
const FileOps& systemFileOps();

// Writes all of `bytes` to `fd`: short writes continue where they stopped, EINTR is retried.
// Returns 0, or the errno of the write that failed (ENOSPC for a write that stores nothing).
int writeAll(int fd, std::string_view bytes, const FileOps& ops = systemFileOps());

// Reads what is left of the file open as `fd` to its end, appended to `out` (reads retried
// after EINTR; `sizeHint`, the size the caller expects, lets it read into room made once).
// Returns 0, or the errno of the read that failed (what was read stays in `out`).
int readAll(int fd, std::string& out, std::size_t sizeHint = 0);

// Eight letters and digits for a temporary file's name, different on every call.
std::string randomSuffix();

// Where the symlink `path` points: its target, a relative one taken from the link's folder.
// False when `path` is no symlink or cannot be read.
bool linkTarget(const std::string& path, std::string& target);

// A failed write, flush or rename of a ReplacementFile: the errno, the step, and the text of
// the errno by ioErrorTextForErrno ("Disk full", "I/O error 5", ...).
class ReplaceError : public InOutError {
  public:
    enum class Step { Write, Flush, Rename };
    ReplaceError(Step step, int err) : InOutError(err, Errno{}), m_step(step), m_errno(err) {}
    Step step() const { return m_step; }
    int error() const { return m_errno; }

  private:
    Step m_step;
    int m_errno;
};

// The file that replacing `path` writes: `path` itself when it is a regular file or does not
// exist, or the regular file at the end of its chain of symbolic links when every link in it,
// and that file, belong to the effective user. Raises PelmoraError("Cannot create file " +
// path) for anything else: an empty name or one ending in '/', a link to nothing (a save must
// never create a file wherever a planted link points), a link or its target owned by someone
// else, a directory, a device, a fifo or a socket (nothing is opened, so nothing can block),
// a regular file the user may not write, or a name that cannot be looked up.
std::string replacementTarget(const std::string& path);

class ReplacementFile {
  public:
    // Resolves `path` by replacementTarget and creates the temporary file beside the target,
    // with the target's permission bits (and owner and group where the user may give them) or,
    // for a new file, 0666 less the umask. Raises PelmoraError("Cannot create file " + path)
    // when the target is refused or the temporary file cannot be created.
    explicit ReplacementFile(const std::string& path, const FileOps& ops = systemFileOps());
    // Unless commit() succeeded: closes and removes the temporary file. The target stays as it
    // was. Safe during unwinding (an exception, or an interrupt turned into one).
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Appends `bytes` to the temporary file. Raises ReplaceError(Step::Write, errno); the
    // writer is abandoned then.
    void write(std::string_view bytes);
    // Flushes the temporary file to the disk (fsync) and closes it, renames it over the target
    // and flushes the folder. Raises ReplaceError: Step::Flush for an error of fsync or close
    // (EIO, ENOSPC, EDQUOT: the bytes did not all reach the disk), Step::Rename when the rename
    // fails; PelmoraError("Cannot create file " + path) when the folder the file was to go to
    // is no longer at its place (renamed or removed during the writing: the file would land
    // elsewhere, or nowhere). The writer is abandoned then and the target is untouched. A Flush
    // error from the folder comes after the rename: the new file is in place but may not
    // survive a crash.
    void commit();
    // Closes and removes the temporary file now, wherever its folder has moved meanwhile; later
    // calls do nothing.
    void abandon() noexcept;

    const std::string& target() const { return m_target; }
    const std::string& temporaryPath() const { return m_temp; }

  private:
    bool folderInPlace() const;

    const FileOps& m_ops;
    std::string m_path;  // as the caller named it, for the messages
    std::string m_target;
    std::string m_folder;  // made beforehand: nothing allocates once the rename is done
    dev_t m_folderDevice = 0;
    ino_t m_folderInode = 0;
    std::string m_temp;
    int m_fd = -1;
    bool m_tempExists = false;
};

// The signals whose default action ends the process without a core dump: SIGHUP, SIGINT,
// SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU, SIGXFSZ, SIGPROF, SIGIO,
// SIGPWR, SIGSTKFLT and the real-time signals. A program that writes a temporary file either
// catches them (pelmora-cli turns them into a cancellation) or holds them back below.
sigset_t terminatingSignals();

// Holds back the terminating signals in the calling thread while it lives (threads started
// meanwhile inherit the hold), so that a short replacement is never cut between creating its
// temporary file and renaming it. A signal that came meanwhile takes effect when the hold ends.
class HeldSignals {
  public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

    // True when one of the held signals has come (the work may stop before writing).
    static bool pending();

  private:
    sigset_t m_previous;
};

}  // namespace pelmora::platform
