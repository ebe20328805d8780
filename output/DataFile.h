// The data file: one comma-separated line per watched directory, in list order.
//
// A line holds five fields: the entry text between double quotes (a '"' inside it doubled, every
// other byte unchanged), DirCount, FileCount, ByteTotal ("%.0f", no locale) and the tree's
// cluster overhead, and ends with CR LF. Nothing precedes the first line or follows the last.
//
// The export is the one loop of the main window and pelmora-cli: the entries are counted in one
// walk per list (stats::ListCount), the caller is told of each count before its line (to add a
// field, record a snapshot, name the directories that could not be read) and of each line
// written, and the bytes go through a DataSink, so that tests can put a failing writer in place
// of the file.
//
// On disk the data file is replaced in one step (platform::ReplacementFile): a failed or
// interrupted export leaves the previous data file whole and no temporary file; other programs
// see the old file or the new one. It is never written through a link to nothing, a device, a
// fifo or a socket, never onto its own list file, and two exports of one list never run at
// once.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "list/watchedlist.h"
#include "platform/replacefile.h"
#include "platform/uniquefd.h"
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
    std::int64_t overhead = 0;  // stats::overheadFor(dirCount, fileCount, entry overhead)
};

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

// One export of a list at a time: an advisory lock (flock) on the list file, or, for a list
// that is not on disk, on the data file's folder, held while the object lives. Nothing is
// created for it, so nothing is left behind. Where the file system has no such locks (some
// network file systems) the export goes on without one: the one-step replacement still keeps
// the data file whole.
class ExportLock {
  public:
    ExportLock() = default;  // holds nothing
    // Raises PelmoraError("Cannot create file " + dataFile + ": it is being written by another
    // export") at once, without waiting, when another export of `listFile` holds the lock.
    ExportLock(const std::string& listFile, const std::string& dataFile);
    ~ExportLock();
    ExportLock(ExportLock&& other) noexcept;
    ExportLock& operator=(ExportLock&& other) noexcept;

  private:
    platform::UniqueFd m_fd;
};

// True when `a` and `b` name one file: the same inode, or the same path once the folders and
// a final link are resolved (also when neither exists yet).
bool sameFile(const std::string& a, const std::string& b);

// The data file on disk: the bytes go to a temporary file beside it in blocks of kBlockSize
// through write(2), and close() puts it in place of the data file.
class FileSink : public DataSink {
  public:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    // Prepares to replace `path`; nothing is written to `path` before close(). With a
    // `listFile`, refuses a data file that is that list file itself ("Cannot create file " +
    // path + ": it is the list file itself") and holds the ExportLock of `listFile`. Raises
    // PelmoraError("Cannot create file " + path) when the file is refused or the temporary
    // file cannot be created (platform::ReplacementFile).
    explicit FileSink(const std::string& path, const std::string& listFile = {},
                      const platform::FileOps& ops = platform::systemFileOps());
    // Unless close() succeeded: removes the temporary file; the previous data file stays as it
    // was.
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Buffers `bytes`; whenever a block is full it goes to the file. A failed write(2) raises
    // InOutError (the text of its errno: "Disk full", "I/O error 5", ...) and ends the sink.
    void write(std::string_view bytes) override;
    // Writes the rest of the buffer, flushes the file to the disk and renames it over the data
    // file; errors as for write(), also from fsync and close (a write-back error is never a
    // success) and from the rename.
    void close() override;

    // The temporary file the bytes go to until close() (tests watch it fill up).
    const std::string& temporaryPath() const { return m_file.temporaryPath(); }

  private:
    void writeOut(std::size_t n);  // the first n buffered bytes
    [[noreturn]] void fail(const platform::InOutError& error);

    ExportLock m_lock;
    platform::ReplacementFile m_file;
    std::unique_ptr<platform::InOutError> m_failure;  // what ended the sink
    bool m_closed = false;
    std::string m_buffer;
};

// Writes one line in five write steps: the quoted entry text and its comma, DirCount and a
// comma, FileCount and a comma, ByteTotal and a comma, the overhead (then `extra`, more fields
// of pelmora-cli's own, when given) and CR LF.
void writeDataLine(DataSink& sink, std::string_view entry, const LineFigures& figures,
                   std::string_view extra = {});

// The entries an export goes through, in order, without copying them: the watched list
// itself, or texts (a vector, or a braced list in tests).
class EntrySource {
  public:
    EntrySource(const list::WatchedList& list) : m_list(&list) {}
    EntrySource(const std::vector<std::string>& entries) : m_vector(&entries) {}
    EntrySource(std::initializer_list<std::string> entries)
        : m_owned(entries), m_vector(&m_owned) {}
    EntrySource(const EntrySource&) = delete;
    EntrySource& operator=(const EntrySource&) = delete;

    std::size_t size() const {
        return m_list != nullptr ? static_cast<std::size_t>(m_list->count()) : m_vector->size();
    }
    std::string_view operator[](std::size_t i) const {
        return m_list != nullptr ? m_list->at(static_cast<int>(i)) : (*m_vector)[i];
    }

  private:
    const list::WatchedList* m_list = nullptr;
    std::vector<std::string> m_owned;
    const std::vector<std::string>* m_vector = nullptr;
};

// Counts entry `i` of an export, whose text is `entry` (never empty).
using CountFunction = std::function<stats::CountResult(std::size_t i, std::string_view entry)>;

// The entries' counts from `counts`, a ListCount of them, in one walk per list: each result is
// taken from it when its line is due (the entries answered by one walk wait there).
CountFunction countEach(stats::ListCount& counts);

// Told of each entry after it was counted and before its line is written (an empty entry comes
// with a result of zeros): may record the figures; returns what its line gets before CR LF
// ("" for nothing).
using EntryFunction = std::function<std::string(std::size_t i, std::string_view entry,
                                                const stats::CountResult& counted)>;

// Told after each written line with the number of lines written so far.
using ProgressFunction = std::function<void(int linesDone)>;

// The export: for each entry in order, counts it with `count` (an empty entry is not counted
// and gets four zeros, so it never stands for the current directory or the root), tells
// `onEntry`, writes its line with the overhead of `entryOverhead` per counted entry, reports
// progress; then closes the sink. The first error stops the export and propagates: the entries
// after it are neither counted nor written, and the sink is not closed.
void writeDataFile(const EntrySource& entries, DataSink& sink, const CountFunction& count,
                   std::int32_t entryOverhead, const EntryFunction& onEntry = {},
                   const ProgressFunction& progress = {});

}  // namespace pelmora::output
