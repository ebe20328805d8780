#include "cli/metrics.h"

#include <charconv>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/stdout.h"
#include "output/DataFile.h"
#include "platform/ioerror.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "stats/counting.h"

namespace pelmora::cli {

namespace {

// One gauge family: its name and its help text.
struct Family {
    const char* name;
    const char* help;
};

constexpr Family kDirectories = {
    "pelmora_directory_directories",
    "Directories below the watched directory (the directory itself not counted)."};
constexpr Family kFiles = {
    "pelmora_directory_files",
    "Files below the watched directory: every entry that is no directory, symbolic "
    "links included."};
constexpr Family kBytes = {
    "pelmora_directory_bytes",
    "Exact sum of the sizes of everything below the watched directory, in bytes. The data "
    "file's byte total is the 40-bit figure, rounded to nearest above 2^40."};
constexpr Family kOverhead = {
    "pelmora_directory_overhead_bytes",
    "Estimated cluster overhead: the entries below the watched directory times half the "
    "cluster size, in bytes."};
constexpr Family kAllocated = {
    "pelmora_directory_allocated_bytes",
    "Space on disk of everything below the watched directory (st_blocks x 512, an inode with "
    "several links once), in bytes."};
constexpr Family kComplete = {
    "pelmora_directory_complete",
    "1 when every directory below the watched directory could be read, else 0."};
constexpr Family kUnreadable = {
    "pelmora_directory_unreadable_directories",
    "Directories that could not be read: below the watched directory, or the "
    "watched directory itself."};
constexpr Family kLastSuccess = {
    "pelmora_list_last_success_timestamp_seconds",
    "When the list's last export succeeded, in seconds since the epoch."};
constexpr Family kDuration = {"pelmora_list_count_duration_seconds",
                              "How long the last export took to count the list, in seconds."};
constexpr Family kEntries = {
    "pelmora_list_entries",
    "Entries of the list, one per line of its data file, blank and repeated ones included."};

void header(std::string& out, const Family& f) {
    out += "# HELP ";
    out += f.name;
    out += ' ';
    out += f.help;
    out += "\n# TYPE ";
    out += f.name;
    out += " gauge\n";
}

template <typename T>
void appendNumber(std::string& out, T value) {
    char buf[48];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, end);
}

void appendNumber(std::string& out, unsigned __int128 value) {
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    out.append(p, buf + sizeof buf);
}

void sample(std::string& out, const Family& f, std::string_view labels) {
    out += f.name;
    out += labels;
    out += ' ';
}

}  // namespace

std::string labelValue(std::string_view bytes) {
    std::string s;
    s.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        if (c == '\\' || c == '"') {
            s += '\\';
            s += c;
        } else if (c == '\n') {
            s += "\\n";
        } else {
            s += c;
        }
    }
    return s;
}

std::string pathLabels(std::string_view name, std::string_view bytes) {
    const bool valid = platform::validUtf8(bytes);
    std::string s(name);
    s += "=\"";
    s += labelValue(valid ? std::string(bytes) : replaceInvalidUtf8(bytes));
    s += '"';
    if (!valid) {
        s += ',';
        s += name;
        s += "_bytes=\"";
        s += base64(bytes);
        s += '"';
    }
    return s;
}

std::string decimalSeconds(std::int64_t ns, int digits) {
    const bool negative = ns < 0;
    const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(ns) : ns;
    std::string s = negative ? "-" : "";
    appendNumber(s, mag / 1000000000u);
    if (digits > 0) {
        std::string fraction = std::to_string(1000000000u + mag % 1000000000u).substr(1);
        s += '.';
        s += fraction.substr(0, static_cast<std::size_t>(digits));
    }
    return s;
}

ListMetrics::ListMetrics(std::string_view list, bool allocated, std::int32_t entryOverhead)
    : m_listLabels(pathLabels("list", list)),
      m_allocated(allocated),
      m_entryOverhead(entryOverhead) {}

void ListMetrics::add(std::string_view entry, const stats::CountResult& counted) {
    ++m_entries;
    if (entry.empty()) return;
    const unsigned times = ++m_seen[std::string(entry)];
    std::string labels = "{" + pathLabels("path", entry);
    if (times > 1) labels += ",occurrence=\"" + std::to_string(times) + "\"";
    labels += "," + m_listLabels + "}";
    m_rows.push_back({std::move(labels), counted.directories, counted.files, counted.exactBytes,
                      stats::overheadFor(counted.directories, counted.files, m_entryOverhead),
                      counted.allocatedBytes, counted.errorCount});
}

std::string ListMetrics::text(std::int64_t finishedNs, std::int64_t durationNs) const {
    std::string out;
    std::size_t perRow = 0;
    if (!m_rows.empty()) perRow = m_rows.front().labels.size() + 64;
    out.reserve(4096 + 7 * perRow * m_rows.size());
    const auto family = [&](const Family& f, auto value) {
        if (m_rows.empty()) return;
        header(out, f);
        for (const Row& r : m_rows) {
            sample(out, f, r.labels);
            appendNumber(out, value(r));
            out += '\n';
        }
    };
    family(kDirectories, [](const Row& r) { return r.directories; });
    family(kFiles, [](const Row& r) { return r.files; });
    family(kBytes, [](const Row& r) { return r.bytes; });
    family(kOverhead, [](const Row& r) { return r.overhead; });
    if (m_allocated) family(kAllocated, [](const Row& r) { return r.allocated; });
    family(kComplete, [](const Row& r) { return r.unreadable == 0 ? 1 : 0; });
    family(kUnreadable, [](const Row& r) { return r.unreadable; });

    const std::string list = "{" + m_listLabels + "} ";
    header(out, kLastSuccess);
    out += kLastSuccess.name + list + decimalSeconds(finishedNs, 3) + '\n';
    header(out, kDuration);
    out += kDuration.name + list + decimalSeconds(durationNs, 6) + '\n';
    header(out, kEntries);
    out += kEntries.name + list;
    appendNumber(out, m_entries);
    out += '\n';
    return out;
}

ExportMetrics::ExportMetrics(std::string path, const std::string& listFile, bool allocated,
                             std::int32_t entryOverhead)
    : m_path(std::move(path)),
      m_listFile(listFile),
      m_metrics(platform::expandFileName(listFile), allocated, entryOverhead),
      m_started(std::chrono::steady_clock::now()),
      m_counted(m_started) {}

void ExportMetrics::open(const std::string* dataFile) {
    if (m_path == "-") return;
    if (output::sameFile(m_path, m_listFile))
        throw platform::PelmoraError("Cannot create file " + m_path +
                                     ": it is the list file itself");
    if (dataFile != nullptr && output::sameFile(m_path, *dataFile))
        throw platform::PelmoraError("Cannot create file " + m_path +
                                     ": it is the data file itself");
    m_file.emplace(m_path);
}

void ExportMetrics::start() {
    m_started = m_counted = std::chrono::steady_clock::now();
}

void ExportMetrics::add(std::string_view entry, const stats::CountResult& counted) {
    m_metrics.add(entry, counted);
    m_counted = std::chrono::steady_clock::now();
}

bool ExportMetrics::write() {
    const auto ns = [](auto d) {
        return static_cast<std::int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(d).count());
    };
    const std::string text = m_metrics.text(ns(std::chrono::system_clock::now().time_since_epoch()),
                                            ns(m_counted - m_started));
    if (!m_file) {
        out().write(text);
        return true;
    }
    try {
        m_file->write(text);
        m_file->commit();
        return true;
    } catch (const platform::ReplaceError& e) {
        message("Cannot write file " + m_path + ": " + e.what() + ".");
        return false;
    }
}

}  // namespace pelmora::cli
