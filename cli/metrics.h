// The Prometheus metrics of an export (pelmora-cli export --metrics FILE): the text exposition
// format 0.0.4, which node_exporter's textfile collector reads, one gauge family after the
// other, each with its "# HELP" and "# TYPE" once, the text ending with a line feed.
//
// Per watched directory, labelled `path` (the entry) and `list` (the list file's full path):
// pelmora_directory_directories, _files, _bytes (the exact sum, not the data file's 40-bit
// figure), _overhead_bytes, _allocated_bytes (only when the space on disk was counted),
// _complete (1 or 0) and _unreadable_directories. Per list, labelled `list`:
// pelmora_list_last_success_timestamp_seconds, pelmora_list_count_duration_seconds and
// pelmora_list_entries. Values carry no timestamps (the collector refuses them).
//
// Label values are UTF-8 with backslash, double quote and line feed escaped. A path that is not
// valid UTF-8 gets U+FFFD for each invalid byte, and its exact bytes in base64 in a second
// label (`path_bytes`, `list_bytes`), so two names never share a label set. Every series is
// unique: an entry that stands in the list more than once gets, from its second time on, the
// label `occurrence` ("2", "3", ...), the first keeping the label set it has alone. A blank
// entry names no directory: it has no directory series, only its place in
// pelmora_list_entries.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replacefile.h"
#include "stats/engine.h"

namespace pelmora::cli {

// `name="VALUE"`, and `,name_bytes="BASE64"` when `bytes` is not valid UTF-8.
std::string pathLabels(std::string_view name, std::string_view bytes);

// The figures an export hands over per entry, kept until the text is made.
class ListMetrics {
  public:
    // `list` is the list file's full path; `allocated` says whether the space on disk was
    // counted; `entryOverhead` is the cluster overhead per entry of the export.
    ListMetrics(std::string_view list, bool allocated, std::int32_t entryOverhead);

    // Keeps the figures of the next entry in list order (a blank one too).
    void add(std::string_view entry, const stats::CountResult& counted);

    // The whole text, handed to `sink` in pieces. `finishedNs` is when the export succeeded,
    // in nanoseconds since the epoch; `durationNs` how long its count took.
    void write(const std::function<void(std::string_view)>& sink, std::int64_t finishedNs,
               std::int64_t durationNs) const;
    // The same in one string.
    std::string text(std::int64_t finishedNs, std::int64_t durationNs) const;

  private:
    struct Row {
        std::uint64_t labelsAt;  // `path="..."` and `path_bytes`, in m_labels
        std::uint32_t labelsSize;
        std::int64_t directories;
        std::int64_t files;
        unsigned __int128 bytes;
        std::int64_t overhead;
        std::uint64_t allocated;
        std::int64_t unreadable;
    };

    std::string m_listLabels;  // the list's labels without braces
    bool m_allocated;
    std::int32_t m_entryOverhead;
    std::size_t m_entries = 0;
    std::string m_labels;  // the rows' path labels, one after the other
    std::vector<Row> m_rows;
};

// The --metrics of one export: a file replaced in one step, as the data file is, or standard
// output for "-".
class ExportMetrics {
  public:
    // `listFile` as given, and the figures as for ListMetrics.
    ExportMetrics(std::string path, const std::string& listFile, bool allocated,
                  std::int32_t entryOverhead);

    // Prepares the file, before the count, so that a file that would be refused is refused
    // first. Raises PelmoraError("Cannot create file " + path + ...) for a file that
    // platform::ReplacementFile refuses (a link to nothing, a device, a fifo, a socket, a
    // folder, a file that cannot be written), and for the list file, the data file or the
    // list's history (": it is the list file itself", ": it is the data file itself", ": it is
    // the list's history"). `dataFile` is null when no data file is written to disk.
    void open(const std::string* dataFile, const std::string& historyFile);
    // The count begins now.
    void start();
    // Keeps the figures of the next entry; its count ended now.
    void add(std::string_view entry, const stats::CountResult& counted);
    // Puts the text in place of the file (or on standard output), stamped with the time now.
    // Returns false, having said "Cannot write file PATH: REASON." (the previous file stays
    // whole), when it cannot.
    bool write();

  private:
    std::string m_path;
    std::string m_listFile;
    ListMetrics m_metrics;
    std::optional<platform::ReplacementFile> m_file;  // none for standard output
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_counted;
};

}  // namespace pelmora::cli
