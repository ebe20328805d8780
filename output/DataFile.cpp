#include "output/DataFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/ioerror.h"
#include "platform/paths.h"

namespace pelmora::output {

std::string dataFileName(std::string_view listFileName) {
    return platform::replaceExtension(listFileName, ".TXT");
}

// ---- the lock and the self-check ---------------------------------------------------------

ExportLock::ExportLock(const std::string& listFile, const std::string& dataFile) {
    // The list file itself when it is on disk (opened without blocking, and only kept when it
    // is a regular file); for a list not saved yet, the folder its data file goes to.
    platform::UniqueFd fd(::open(listFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd && errno == ENOENT) {
        const std::string dir(platform::directoryPart(dataFile));
        fd.reset(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd) return;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return;
    int r;
    do {
        r = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r == 0) {
        m_fd = std::move(fd);
        return;
    }
    const int err = errno;
    fd.reset();
    if (err == EWOULDBLOCK)
        throw platform::PelmoraError("Cannot create file " + dataFile +
                                     ": it is being written by another export");
    // No locks here (ENOLCK, or a network file system that wants a writable file): go on.
}

ExportLock::~ExportLock() = default;  // closing the descriptor releases the lock
ExportLock::ExportLock(ExportLock&& other) noexcept = default;
ExportLock& ExportLock::operator=(ExportLock&& other) noexcept = default;

namespace {

// The folder resolved (realpath) and the bare name, after a final link where there is one.
std::string resolvedPath(const std::string& path) {
    std::string p = path;
    std::string target;
    for (int hops = 0; hops < 40 && platform::linkTarget(p, target); ++hops) p = std::move(target);
    const std::string dir(platform::directoryPart(p));
    char* real = ::realpath(dir.empty() ? "." : dir.c_str(), nullptr);
    if (real == nullptr) return platform::expandFileName(p);
    std::string out = real;
    std::free(real);
    if (out.empty() || !platform::isPathDelimiter(out.back())) out += '/';
    return out + std::string(platform::bareName(p));
}

ExportLock lockExport(const std::string& dataFile, const std::string& listFile) {
    if (listFile.empty()) return {};
    // The data file's name is the list's with ".TXT": a list named X.TXT would be overwritten
    // by its own export.
    if (sameFile(dataFile, listFile))
        throw platform::PelmoraError("Cannot create file " + dataFile +
                                     ": it is the list file itself");
    return ExportLock(listFile, dataFile);
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return resolvedPath(a) == resolvedPath(b);
}

LineFigures figuresOf(const stats::CountResult& counted, std::int32_t entryOverhead) {
    LineFigures f;
    f.dirCount = counted.directories;
    f.fileCount = counted.files;
    f.byteTotal = counted.byteTotal;
    f.overhead = stats::overheadFor(counted.directories, counted.files, entryOverhead);
    return f;
}

// ---- FileSink ----------------------------------------------------------------------------

FileSink::FileSink(const std::string& path, const std::string& listFile,
                   const platform::FileOps& ops)
    : m_lock(lockExport(path, listFile)), m_file(path, ops) {
    m_buffer.reserve(kBlockSize);
}

FileSink::~FileSink() = default;  // m_file removes the temporary file unless it was committed

void FileSink::fail(const platform::InOutError& error) {
    m_file.abandon();
    m_buffer.clear();
    m_failure = std::make_unique<platform::InOutError>(error);
    throw error;
}

void FileSink::writeOut(std::size_t n) {
    try {
        m_file.write(std::string_view(m_buffer).substr(0, n));
    } catch (const platform::InOutError& e) {
        fail(e);
    }
    m_buffer.erase(0, n);
}

void FileSink::write(std::string_view bytes) {
    if (m_failure) throw *m_failure;
    if (m_closed) throw platform::InOutError::fromErrno(EBADF);
    if (m_buffer.size() + bytes.size() < kBlockSize) {
        m_buffer.append(bytes);
        return;
    }
    // A block is full: the buffered bytes with the first of `bytes`, then the whole blocks of
    // `bytes` straight from where they lie (a line may be as long as a list line), the rest
    // buffered.
    const std::size_t fill = kBlockSize - m_buffer.size();
    m_buffer.append(bytes.substr(0, fill));
    writeOut(kBlockSize);
    bytes.remove_prefix(fill);
    const std::size_t whole = bytes.size() - bytes.size() % kBlockSize;
    if (whole > 0) {
        try {
            m_file.write(bytes.substr(0, whole));
        } catch (const platform::InOutError& e) {
            fail(e);
        }
    }
    m_buffer.assign(bytes.substr(whole));
}

void FileSink::close() {
    if (m_failure) throw *m_failure;
    if (m_closed) return;
    writeOut(m_buffer.size());
    try {
        m_file.commit();
    } catch (const platform::InOutError& e) {
        fail(e);
    }
    m_closed = true;
}

// ---- lines -------------------------------------------------------------------------------

namespace {

// The entry between double quotes; a quote inside it is doubled so the line stays one record.
std::string quotedField(std::string_view entry) {
    std::string out;
    out.reserve(entry.size() + 4);
    out.push_back('"');
    for (char c : entry) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    out.append("\",");
    return out;
}

}  // namespace

void writeDataLine(DataSink& sink, std::string_view entry, const LineFigures& figures,
                   std::string_view extra) {
    sink.write(quotedField(entry));
    sink.write(std::to_string(figures.dirCount) + ",");
    sink.write(std::to_string(figures.fileCount) + ",");
    sink.write(figures.byteTotal.toFixed0() + ",");
    std::string last = std::to_string(figures.overhead);
    last.append(extra);
    last.append("\r\n");
    sink.write(last);
}

CountFunction countEach(stats::ListCount& counts) {
    return [&counts](std::size_t i, std::string_view) { return counts.take(i); };
}

void writeDataFile(const EntrySource& entries, DataSink& sink, const CountFunction& count,
                   std::int32_t entryOverhead, const EntryFunction& onEntry,
                   const ProgressFunction& progress) {
    const std::size_t n = entries.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view entry = entries[i];
        const stats::CountResult counted = entry.empty() ? stats::CountResult{} : count(i, entry);
        const std::string extra = onEntry ? onEntry(i, entry, counted) : std::string();
        writeDataLine(sink, entry, figuresOf(counted, entryOverhead), extra);
        if (progress) progress(static_cast<int>(i + 1));
    }
    sink.close();
}

}  // namespace pelmora::output
