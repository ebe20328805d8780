// The data file: one comma-separated line per watched directory, in list order.
//
// A line holds five fields: the entry text between double quotes (a '"' inside it doubled, every
// other byte unchanged), DirCount, FileCount, ByteTotal ("%.0f", no locale) and the tree's
// cluster overhead, and ends with CR LF. Nothing precedes the first line or follows the last.
//
// The export is shared by the main window and pelmora-cli: the caller chooses how a directory
// is counted and is told after each line, and the bytes go through a DataSink, so that tests
// can put a failing writer in place of the file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "stats/counting.h"
#include "stats/real48.h"

namespace pelmora::output {

// The data file's name: `listFileName` with its extension replaced by ".TXT" (the last '.'
// after the last '/' and everything after it dropped, then ".TXT" appended). Case is kept.
std::string dataFileName(std::string_view listFileName);

// The four number fields of one line.
struct LineFigures {
    std::int64_t dirCount = 0;
    std::int64_t fileCount = 0;
    stats::Real48 byteTotal;
    std::int64_t overhead = 0;  // (dirCount + fileCount) x EntryOverhead
};

// Figures for `counted` with the EntryOverhead in force: (DirCount + FileCount) x EntryOverhead
// in 64 bits.
LineFigures figuresOf(const stats::TDirStats& counted);

// Figures of a count's result with the overhead per entry `entryOverhead`.
LineFigures figuresOf(const stats::CountResult& counted, std::int32_t entryOverhead);

// Where the data file's bytes go. write() and close() raise platform::InOutError (or another
// PelmoraError) when the bytes cannot be stored; after an error the sink takes no more.
class DataSink {
  public:
    virtual ~DataSink() = default;
    virtual void write(std::string_view bytes) = 0;
    // Makes everything written so far durable as far as the sink can tell, and releases it.
    virtual void close() = 0;
};

// The data file on disk, written through write(2) in blocks of kBlockSize bytes.
class FileSink : public DataSink {
  public:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    // Creates `path`, or empties it when it exists (symlinks are followed). Raises
    // PelmoraError("Cannot create file " + path) when that is not possible.
    explicit FileSink(const std::string& path);
    // Releases the file without writing what is still buffered (close() was not reached, so
    // the export has already failed).
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Buffers `bytes`; whenever a block is full it goes to the file. A failed write(2) raises
    // InOutError(ioCodeFromErrno(errno)) and closes the file.
    void write(std::string_view bytes) override;
    // Writes the rest of the buffer and closes the file; errors as for write(), also from
    // close(2).
    void close() override;

  private:
    void writeOut(std::size_t n);  // the first n buffered bytes
    [[noreturn]] void fail(int err);

    int m_fd = -1;
    int m_failedCode = 0;  // the error that ended the sink, 0 while it works
    std::string m_buffer;
};

// Writes one line in five write steps: the quoted entry text and its comma, DirCount and a
// comma, FileCount and a comma, ByteTotal and a comma, the overhead and CR LF.
void writeDataLine(DataSink& sink, std::string_view entry, const LineFigures& figures);

// Counts one directory's tree and returns the line's figures.
using CountFunction = std::function<LineFigures(std::string_view dir)>;

// The window's count: stats::CountTree (DirStats keeps the last figures), with the
// EntryOverhead in force.
LineFigures countWithCountTree(std::string_view dir);

// Told after each written line with the number of lines written so far.
using ProgressFunction = std::function<void(int linesDone)>;

// For each entry in order: counts it with `count` (an empty entry is not counted and gets
// four zeros, so it never stands for the current directory or the root), writes its line,
// reports progress; then closes the sink. The first error stops the export and propagates:
// the entries after it are neither counted nor written.
void writeDataFile(const std::vector<std::string>& entries, DataSink& sink,
                   const CountFunction& count, const ProgressFunction& progress = {});

// Creates the data file for `listFileName` (by dataFileName) before the first line and writes
// it as above. Returns the data file's name. Raises PelmoraError("Cannot create file " + name)
// when it cannot be created, InOutError when writing or closing fails.
std::string exportDataFile(const std::vector<std::string>& entries, std::string_view listFileName,
                           const CountFunction& count, const ProgressFunction& progress = {});

}  // namespace pelmora::output
