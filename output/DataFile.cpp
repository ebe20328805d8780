#include "output/DataFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ioerror.h"
#include "platform/paths.h"

namespace pelmora::output {

std::string dataFileName(std::string_view listFileName) {
    return platform::replaceExtension(listFileName, ".TXT");
}

LineFigures figuresOf(const stats::TDirStats& counted) {
    LineFigures f;
    f.dirCount = counted.DirCount;
    f.fileCount = counted.FileCount;
    f.byteTotal = counted.ByteTotal;
    f.overhead =
        (counted.DirCount + counted.FileCount) * static_cast<std::int64_t>(stats::EntryOverhead);
    return f;
}

LineFigures figuresOf(const stats::CountResult& counted, std::int32_t entryOverhead) {
    LineFigures f;
    f.dirCount = counted.directories;
    f.fileCount = counted.files;
    f.byteTotal = counted.byteTotal;
    f.overhead = stats::overheadOf(counted, entryOverhead);
    return f;
}

// ---- FileSink ----------------------------------------------------------------------------

FileSink::FileSink(const std::string& path) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) throw platform::PelmoraError("Cannot create file " + path);
    m_buffer.reserve(kBlockSize);
}

FileSink::~FileSink() {
    if (m_fd >= 0) ::close(m_fd);
}

void FileSink::fail(int err) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
    m_failedCode = platform::ioCodeFromErrno(err);
    throw platform::InOutError(m_failedCode);
}

void FileSink::writeOut(std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(m_fd, m_buffer.data() + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<std::size_t>(w);
    }
    m_buffer.erase(0, n);
}

void FileSink::write(std::string_view bytes) {
    if (m_failedCode != 0) throw platform::InOutError(m_failedCode);
    if (m_fd < 0) throw platform::InOutError(platform::ioCodeFromErrno(EBADF));
    m_buffer.append(bytes);
    if (m_buffer.size() >= kBlockSize) writeOut(m_buffer.size() - m_buffer.size() % kBlockSize);
}

void FileSink::close() {
    if (m_failedCode != 0) throw platform::InOutError(m_failedCode);
    if (m_fd < 0) return;
    writeOut(m_buffer.size());
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close reports EINTR; only a real error counts.
    if (::close(fd) != 0 && errno != EINTR) {
        m_failedCode = platform::ioCodeFromErrno(errno);
        throw platform::InOutError(m_failedCode);
    }
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

void writeDataLine(DataSink& sink, std::string_view entry, const LineFigures& figures) {
    sink.write(quotedField(entry));
    sink.write(std::to_string(figures.dirCount) + ",");
    sink.write(std::to_string(figures.fileCount) + ",");
    sink.write(figures.byteTotal.toFixed0() + ",");
    sink.write(std::to_string(figures.overhead) + "\r\n");
}

LineFigures countWithCountTree(std::string_view dir) {
    return figuresOf(stats::CountTree(dir), stats::EntryOverhead);
}

void writeDataFile(const std::vector<std::string>& entries, DataSink& sink,
                   const CountFunction& count, const ProgressFunction& progress) {
    const std::size_t n = entries.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& entry = entries[i];
        const LineFigures figures = entry.empty() ? LineFigures{} : count(entry);
        writeDataLine(sink, entry, figures);
        if (progress) progress(static_cast<int>(i + 1));
    }
    sink.close();
}

std::string exportDataFile(const std::vector<std::string>& entries, std::string_view listFileName,
                           const CountFunction& count, const ProgressFunction& progress) {
    std::string name = dataFileName(listFileName);
    FileSink sink(name);
    writeDataFile(entries, sink, count, progress);
    return name;
}

}  // namespace pelmora::output
