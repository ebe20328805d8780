#include "history/History.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "history/Database.h"
#include "history/Growth.h"
#include "platform/paths.h"

namespace pelmora::history {

using detail::Connection;
using detail::Mode;
using detail::SqliteError;
using detail::Statement;
using detail::Target;

std::string historyFileName(std::string_view listFileName) {
    return platform::replaceExtension(listFileName, ".history.sqlite");
}

std::int64_t nowUtc() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

namespace {

using detail::retrying;

std::int64_t recordOnce(const Target& target, const Snapshot& snapshot) {
    const std::unique_ptr<detail::Session> session = detail::openToWrite(target);
    sqlite3* const db = session->handle();
    // Taken now that this recorder holds the write lock: a later snapshot gets a later id and,
    // unless the clock is set back, a time no earlier.
    const std::int64_t time = snapshot.time.value_or(nowUtc());

    // The snapshot recorded last before this one, and its directories: their runs of presence
    // go on where they stay, end where they left; a run starts for each directory that came.
    const std::int64_t previousId =
        session->connection().integer("SELECT coalesce(max(id), 0) FROM snapshot");
    std::unordered_set<std::int64_t> previous;
    {
        Statement s(db, target, "SELECT directory FROM figures WHERE snapshot = ?1");
        s.bind(1, previousId);
        while (s.step()) previous.insert(s.integer(0));
    }

    Statement insertSnapshot(db, target,
                             "INSERT INTO snapshot(time, host, list_path) VALUES (?1, ?2, ?3)");
    insertSnapshot.bind(1, time);
    insertSnapshot.bindText(2, snapshot.host);
    insertSnapshot.bindBlob(3, snapshot.listPath);
    insertSnapshot.step();
    const std::int64_t id = sqlite3_last_insert_rowid(db);

    // This snapshot's entries (the first of each), matched with the directories on record.
    struct Entry {
        std::int64_t id = 0;  // 0: not on record yet
        bool written = false;
    };
    std::unordered_map<std::string_view, Entry> entries;
    entries.reserve(snapshot.rows.size());
    for (const Row& row : snapshot.rows) entries.emplace(row.entry, Entry{});
    {
        Statement all(db, target, "SELECT id, path FROM directory");
        while (all.step()) {
            const auto it = entries.find(all.view(1));
            if (it != entries.end()) it->second.id = all.integer(0);
        }
    }
    Statement insertDirectory(db, target, "INSERT INTO directory(path) VALUES (?1)");
    Statement startRun(db, target,
                       "INSERT INTO presence(directory, first_snapshot) VALUES (?1, ?2)");
    // Figures go in kBatch rows to a statement (far fewer statement runs), the rest one by one.
    constexpr int kBatch = 64;
    const auto insertFiguresOf = [&](int rows) {
        std::string sql =
            "INSERT INTO figures(snapshot, directory, directories, files, bytes, overhead, "
            "allocated, complete) VALUES ";
        for (int i = 0; i < rows; ++i) sql += i == 0 ? "(?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?)";
        return std::make_unique<Statement>(db, target, sql.c_str());
    };
    const std::unique_ptr<Statement> batch = insertFiguresOf(kBatch);
    const std::unique_ptr<Statement> single = insertFiguresOf(1);
    std::vector<std::pair<const Row*, std::int64_t>> pending;  // row, directory id
    std::vector<std::pair<const Row*, std::int64_t>> withChildren;
    const auto flush = [&](Statement& s, std::size_t from, std::size_t count) {
        s.reset();
        int p = 1;
        for (std::size_t i = from; i < from + count; ++i) {
            const auto& [row, dir] = pending[i];
            s.bind(p++, id);
            s.bind(p++, dir);
            s.bind(p++, row->directories);
            s.bind(p++, row->files);
            s.bindBytes(p++, row->bytes);
            s.bind(p++, row->overhead);
            if (row->allocated)
                s.bind(p++, *row->allocated);
            else
                s.bindNull(p++);
            s.bind(p++, row->complete ? 1 : 0);
        }
        s.step();
    };
    for (const Row& row : snapshot.rows) {
        Entry& e = entries.at(row.entry);
        if (e.written) continue;  // the same entry twice: the first counts
        e.written = true;
        if (e.id == 0) {
            insertDirectory.reset();
            insertDirectory.bindBlob(1, row.entry);
            insertDirectory.step();
            e.id = sqlite3_last_insert_rowid(db);
        }
        pending.emplace_back(&row, e.id);
        if (snapshot.depth > 0) withChildren.emplace_back(&row, e.id);
        if (pending.size() == kBatch) {
            flush(*batch, 0, kBatch);
            pending.clear();
        }
        if (previous.erase(e.id) == 0) {  // not in the last snapshot: a run starts
            startRun.reset();
            startRun.bind(1, e.id);
            startRun.bind(2, id);
            startRun.step();
        }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) flush(*single, i, 1);
    Statement endRun(db, target,
                     "UPDATE presence SET last_snapshot = ?1 WHERE directory = ?2 AND "
                     "last_snapshot IS NULL");
    for (const std::int64_t dir : previous) {  // those that left: their runs end
        endRun.reset();
        endRun.bind(1, previousId);
        endRun.bind(2, dir);
        endRun.step();
    }
    detail::recordSubdirectories(db, target, id, snapshot.depth, withChildren);
    session->finish();
    return id;
}

}  // namespace

std::int64_t recordSnapshot(std::string_view listFileName, const Snapshot& snapshot) {
    const Target target{std::string(listFileName), historyFileName(listFileName), Mode::Write};
    return retrying([&] { return recordOnce(target, snapshot); });
}

namespace detail {

Figures readFigures(const Statement& s, std::int64_t snapshot, std::int64_t time) {
    Figures f;
    f.snapshot = snapshot;
    f.time = time;
    f.directories = s.integer(1);
    f.files = s.integer(2);
    f.bytes = s.total(3);
    f.overhead = s.integer(4);
    if (!s.isNull(5)) f.allocated = s.integer(5);
    f.complete = s.integer(6) != 0;
    return f;
}

RangeSnapshots snapshotsInRange(sqlite3* db, const Target& target, const Range& range) {
    RangeSnapshots r;
    bool anySnapshot = false;
    // A history shared by lists of one name but for the extension holds snapshots of each;
    // this list's are those recorded under its own name.
    const std::string_view ownName = platform::bareName(target.listFileName);
    Statement s(db, target, "SELECT id, time, host, list_path FROM snapshot ORDER BY id");
    while (s.step()) {
        if (platform::bareName(s.view(3)) != ownName) continue;
        anySnapshot = true;
        const std::int64_t time = s.integer(1);
        if ((range.since && time < *range.since) || (range.until && time > *range.until)) continue;
        if (!r.snapshots.empty() && time < r.snapshots.back().time) r.clockWentBackwards = true;
        r.snapshots.push_back({s.integer(0), time, s.bytes(2), s.bytes(3)});
        r.ids.push_back(s.integer(0));
    }
    if (!anySnapshot) target.noHistory();
    return r;
}

namespace {

std::optional<double> percentOf(__int128 change, __int128 first) {
    if (first == 0) return std::nullopt;
    return static_cast<double>(change) * 100.0 / static_cast<double>(first);
}

}  // namespace

DirectoryGrowth growthBetween(std::string path, const Figures& first, const Figures& last) {
    DirectoryGrowth g;
    g.path = std::move(path);
    g.first = first;
    g.last = last;
    g.bytesChange = last.bytes - first.bytes;
    g.filesChange = last.files - first.files;
    g.bytesPercent = percentOf(g.bytesChange, first.bytes);
    g.filesPercent = percentOf(g.filesChange, first.files);
    const std::int64_t seconds = last.time - first.time;
    if (seconds >= kSecondsPerDay)
        g.bytesPerDay = static_cast<double>(g.bytesChange) * static_cast<double>(kSecondsPerDay) /
                        static_cast<double>(seconds);
    return g;
}

}  // namespace detail

namespace {

using detail::readFigures;

constexpr const char* kFiguresOfSnapshot =
    "SELECT directory, directories, files, bytes, overhead, allocated, complete FROM figures "
    "WHERE snapshot = ?1 ORDER BY directory";

// One snapshot's figures in the order of their directories, for a walk that asks for the
// directories in rising order.
class FiguresCursor {
  public:
    FiguresCursor(sqlite3* db, const Target& target, std::int64_t snapshot, std::int64_t time)
        : m_s(db, target, kFiguresOfSnapshot), m_snapshot(snapshot), m_time(time) {
        m_s.bind(1, snapshot);
        m_more = m_s.step();
    }
    std::optional<Figures> at(std::int64_t directory) {
        while (m_more && m_s.integer(0) < directory) m_more = m_s.step();
        if (!m_more || m_s.integer(0) != directory) return std::nullopt;
        return readFigures(m_s, m_snapshot, m_time);
    }

  private:
    Statement m_s;
    std::int64_t m_snapshot, m_time;
    bool m_more = false;
};

// The order of the report: largest growth in bytes first, ties by the path's bytes.
bool grewMore(__int128 change, std::string_view path, const DirectoryGrowth& other) {
    if (change != other.bytesChange) return change > other.bytesChange;
    return path < std::string_view(other.path);
}

using Kept = std::pair<std::int64_t, DirectoryGrowth>;  // directory id, growth

bool keptBefore(const Kept& a, const Kept& b) {
    return grewMore(a.second.bytesChange, a.second.path, b.second);
}

HistoryReport readReport(detail::Session& session, const Target& target, const Query& query);

HistoryReport queryOnce(const Target& target, const Query& query) {
    const std::unique_ptr<detail::Session> session = detail::openToRead(target);
    try {
        return readReport(*session, target, query);
    } catch (const HistoryError&) {
        session->rethrowUnlessChanged();
    }
}

HistoryReport readReport(detail::Session& session, const Target& target, const Query& query) {
    sqlite3* const db = session.handle();

    HistoryReport report;
    detail::RangeSnapshots range = detail::snapshotsInRange(db, target, query.range);
    report.clockWentBackwards = range.clockWentBackwards;
    report.snapshots = std::move(range.snapshots);
    const std::vector<std::int64_t>& ids = range.ids;
    if (ids.empty()) {
        report.emptyRange = true;
        session.finish();
        return report;
    }
    const auto timeOf = [&](std::int64_t id) {
        return report
            .snapshots[static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), id) -
                                                ids.begin())]
            .time;
    };
    // Where each directory grew most, from the snapshots that hold subdirectories.
    const std::unordered_map<std::int64_t, unsigned> depths =
        detail::snapshotDepths(db, target, session.version());
    std::optional<detail::GrewMost> grewMost;
    if (!depths.empty()) grewMost.emplace(db, target);
    const auto findGrewMost = [&](std::int64_t dir, DirectoryGrowth& g) {
        if (grewMost && depths.contains(g.first.snapshot) && depths.contains(g.last.snapshot))
            g.grewMost = grewMost->of(dir, g.first.snapshot, g.last.snapshot);
    };
    const std::int64_t firstId = ids.front();
    const std::int64_t lastId = ids.back();
    FiguresCursor atFirst(db, target, firstId, timeOf(firstId));
    FiguresCursor atLast(db, target, lastId, timeOf(lastId));
    Statement one(db, target,
                  "SELECT directory, directories, files, bytes, overhead, allocated, complete "
                  "FROM figures WHERE snapshot = ?1 AND directory = ?2");
    const auto at = [&](std::int64_t snapshot, std::int64_t directory) -> std::optional<Figures> {
        if (snapshot == firstId) return atFirst.at(directory);
        if (snapshot == lastId) return atLast.at(directory);
        one.reset();
        one.bind(1, snapshot);
        one.bind(2, directory);
        if (!one.step()) return std::nullopt;
        return readFigures(one, snapshot, timeOf(snapshot));
    };

    // The directories one by one, in the order of their ids: each one's runs of presence, cut to
    // the range, give the first snapshot of the range that holds it and the last. Only what is
    // kept stays in memory: with a top, the best so far in a heap (with the directories' ids, for
    // their series); without one, every directory, straight in the report.
    std::vector<Kept> kept;
    const bool keepAll = query.top == 0 && !query.series;
    if (keepAll)
        report.directories.reserve(static_cast<std::size_t>(
            session.connection().integer("SELECT coalesce(max(id), 0) FROM directory")));
    std::string path;  // of the directory at hand
    const auto consider = [&](std::int64_t dir, std::int64_t earliest, std::int64_t latest) {
        const std::optional<Figures> first = at(earliest, dir);
        const std::optional<Figures> last = at(latest, dir);
        if (!first || !last) return;  // runs without figures: nothing to show
        ++report.directoryCount;
        const __int128 change = last->bytes - first->bytes;
        const bool full = query.top != 0 && kept.size() == query.top;
        if (full && !grewMore(change, path, kept.front().second)) return;
        DirectoryGrowth g = detail::growthBetween(path, *first, *last);
        g.appeared = earliest != firstId;
        g.disappeared = latest != lastId;
        if (keepAll) {
            findGrewMost(dir, g);
            report.directories.push_back(std::move(g));
            return;
        }
        if (query.top == 0) {
            kept.emplace_back(dir, std::move(g));
            return;
        }
        if (full) {
            std::pop_heap(kept.begin(), kept.end(), keptBefore);
            kept.back() = {dir, std::move(g)};
        } else {
            kept.emplace_back(dir, std::move(g));
        }
        std::push_heap(kept.begin(), kept.end(), keptBefore);
    };
    {
        Statement s(db, target,
                    "SELECT p.directory, p.first_snapshot, coalesce(p.last_snapshot, ?1), d.path "
                    "FROM presence p JOIN directory d ON d.id = p.directory ORDER BY "
                    "p.directory, p.first_snapshot");
        s.bind(1, std::numeric_limits<std::int64_t>::max());
        std::int64_t dir = 0;
        std::int64_t earliest = 0, latest = 0;  // 0: none yet
        while (s.step()) {
            if (s.integer(0) != dir) {
                if (earliest != 0) consider(dir, earliest, latest);
                dir = s.integer(0);
                path.assign(s.view(3));
                earliest = latest = 0;
            }
            const std::int64_t lo = std::max(firstId, s.integer(1));
            const std::int64_t hi = std::min(lastId, s.integer(2));
            const auto from = std::lower_bound(ids.begin(), ids.end(), lo);
            if (lo > hi || from == ids.end() || *from > hi) continue;  // none in the range
            if (earliest == 0) earliest = *from;
            latest = *(std::upper_bound(ids.begin(), ids.end(), hi) - 1);
        }
        if (earliest != 0) consider(dir, earliest, latest);
    }
    std::sort(kept.begin(), kept.end(), keptBefore);
    for (auto& [dir, g] : kept) findGrewMost(dir, g);
    std::sort(report.directories.begin(), report.directories.end(),
              [](const DirectoryGrowth& a, const DirectoryGrowth& b) {
                  return grewMore(a.bytesChange, a.path, b);
              });

    if (query.series) {
        Statement runs(db, target,
                       "SELECT first_snapshot, coalesce(last_snapshot, ?2) FROM presence WHERE "
                       "directory = ?1 ORDER BY first_snapshot");
        Statement bytes(db, target,
                        "SELECT bytes FROM figures WHERE snapshot = ?1 AND directory = ?2");
        for (auto& [dir, g] : kept) {
            runs.reset();
            runs.bind(1, dir);
            runs.bind(2, std::numeric_limits<std::int64_t>::max());
            while (runs.step()) {
                const std::int64_t hi = runs.integer(1);
                for (auto i = std::lower_bound(ids.begin(), ids.end(), runs.integer(0));
                     i != ids.end() && *i <= hi; ++i) {
                    bytes.reset();
                    bytes.bind(1, *i);
                    bytes.bind(2, dir);
                    if (bytes.step()) g.series.push_back({timeOf(*i), bytes.total(0)});
                }
            }
        }
    }
    session.finish();
    if (!keepAll) {
        report.directories.reserve(kept.size());
        for (Kept& k : kept) report.directories.push_back(std::move(k.second));
    }
    return report;
}

}  // namespace

HistoryReport queryHistory(std::string_view listFileName, const Query& query) {
    const Target target{std::string(listFileName), historyFileName(listFileName), Mode::Read};
    return retrying([&] { return queryOnce(target, query); });
}

std::optional<std::size_t> parseTop(std::string_view text, std::size_t most) {
    std::size_t n = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || n == 0 || n > most)
        return std::nullopt;
    return n;
}

std::string toDecimal(__int128 v) {
    const bool negative = v < 0;
    unsigned __int128 mag =
        negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(mag % 10)));
        mag /= 10;
    } while (mag != 0);
    if (negative) digits.push_back('-');
    std::reverse(digits.begin(), digits.end());
    return digits;
}

}  // namespace pelmora::history
