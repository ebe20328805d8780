#include "cli/metrics.h"

#include <charconv>
#include <unordered_map>

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

constexpr std::size_t kBlock = 64 * 1024;

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

void appendLabelValue(std::string& out, std::string_view utf8) {
    for (std::size_t at = utf8.find_first_of("\\\"\n"); at != std::string_view::npos;
         at = utf8.find_first_of("\\\"\n")) {
        out.append(utf8.substr(0, at));
        out += '\\';
        out += utf8[at] == '\n' ? 'n' : utf8[at];
        utf8.remove_prefix(at + 1);
    }
    out.append(utf8);
}

// `name="VALUE"`, and `,name_bytes="BASE64"` when `bytes` is not valid UTF-8, appended to `out`.
void appendPathLabels(std::string& out, std::string_view name, std::string_view bytes) {
    const bool valid = platform::validUtf8(bytes);
    const std::string repaired = valid ? std::string() : replaceInvalidUtf8(bytes);
    out.append(name);
    out += "=\"";
    appendLabelValue(out, valid ? bytes : std::string_view(repaired));
    out += '"';
    if (!valid) {
        out += ',';
        out.append(name);
        out += "_bytes=\"";
        out += base64(bytes);
        out += '"';
    }
}

// `ns` nanoseconds as seconds in decimal with `digits` digits after the point (0 to 9).
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

}  // namespace

std::string pathLabels(std::string_view name, std::string_view bytes) {
    std::string s;
    appendPathLabels(s, name, bytes);
    return s;
}

ListMetrics::ListMetrics(std::string_view list, bool allocated, std::int32_t entryOverhead)
    : m_listLabels(pathLabels("list", list)),
      m_allocated(allocated),
      m_entryOverhead(entryOverhead) {}

void ListMetrics::add(std::string_view entry, const stats::CountResult& counted) {
    ++m_entries;
    if (entry.empty()) return;
    const std::size_t at = m_labels.size();
    appendPathLabels(m_labels, "path", entry);
    m_rows.push_back({at, static_cast<std::uint32_t>(m_labels.size() - at), counted.directories,
                      counted.files, counted.exactBytes,
                      stats::overheadFor(counted.directories, counted.files, m_entryOverhead),
                      counted.allocatedBytes, counted.errorCount});
}

std::string ListMetrics::text(std::int64_t finishedNs, std::int64_t durationNs) const {
    std::string all;
    write([&all](std::string_view bytes) { all.append(bytes); }, finishedNs, durationNs);
    return all;
}

void ListMetrics::write(const std::function<void(std::string_view)>& sink, std::int64_t finishedNs,
                        std::int64_t durationNs) const {
    // Each row's labels in braces, made once for all the families. Two rows with the same path
    // labels name the same bytes: the second and later get their occurrence.
    std::vector<std::string_view> paths;
    paths.reserve(m_rows.size());
    for (const Row& r : m_rows)
        paths.push_back(std::string_view(m_labels).substr(r.labelsAt, r.labelsSize));
    std::unordered_map<std::string_view, unsigned> seen(m_rows.size());
    std::string braced;
    braced.reserve(m_labels.size() + m_rows.size() * (m_listLabels.size() + 4));
    std::vector<std::size_t> ends;
    ends.reserve(m_rows.size());
    for (const std::string_view path : paths) {
        const unsigned times = ++seen[path];
        braced += '{';
        braced.append(path);
        if (times > 1) {
            braced += ",occurrence=\"";
            appendNumber(braced, times);
            braced += '"';
        }
        braced += ',';
        braced += m_listLabels;
        braced += "} ";
        ends.push_back(braced.size());
    }

    // Handed on in blocks of about 64 KiB, which stay in the cache.
    std::string out;
    out.reserve(kBlock + 64 * 1024);
    const auto family = [&](const Family& f, auto value) {
        if (m_rows.empty()) return;
        header(out, f);
        std::size_t begin = 0;
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            out += f.name;
            out.append(braced, begin, ends[i] - begin);
            begin = ends[i];
            appendNumber(out, value(m_rows[i]));
            out += '\n';
            if (out.size() >= kBlock) {
                sink(out);
                out.clear();
            }
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
    sink(out);
}

ExportMetrics::ExportMetrics(std::string path, const std::string& listFile, bool allocated,
                             std::int32_t entryOverhead)
    : m_path(std::move(path)),
      m_listFile(listFile),
      m_metrics(platform::expandFileName(listFile), allocated, entryOverhead),
      m_started(std::chrono::steady_clock::now()),
      m_counted(m_started) {}

void ExportMetrics::open(const std::string* dataFile, const std::string& historyFile) {
    if (m_path == "-") return;
    if (output::sameFile(m_path, m_listFile))
        throw platform::PelmoraError("Cannot create file " + m_path +
                                     ": it is the list file itself");
    if (dataFile != nullptr && output::sameFile(m_path, *dataFile))
        throw platform::PelmoraError("Cannot create file " + m_path +
                                     ": it is the data file itself");
    if (output::sameFile(m_path, historyFile))
        throw platform::PelmoraError("Cannot create file " + m_path + ": it is the list's history");
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
    const std::int64_t finished = ns(std::chrono::system_clock::now().time_since_epoch());
    const std::int64_t duration = ns(m_counted - m_started);
    if (!m_file) {
        m_metrics.write([](std::string_view bytes) { out().write(bytes); }, finished, duration);
        return true;
    }
    try {
        m_metrics.write([this](std::string_view bytes) { m_file->write(bytes); }, finished,
                        duration);
        m_file->commit();
        return true;
    } catch (const platform::ReplaceError& e) {
        message("Cannot write file " + m_path + ": " + e.what() + ".");
        return false;
    }
}

}  // namespace pelmora::cli
