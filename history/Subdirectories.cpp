// Where a directory grew: the subdirectories a snapshot keeps of each list entry, and the
// explanation of one entry's growth by them.
#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <unordered_set>

#include "history/Growth.h"
#include "platform/paths.h"

namespace pelmora::history {

using detail::Statement;
using detail::Target;

namespace {

// 1 for "src", 2 for "src/lib"; 1 for "" ("(other)").
unsigned depthOf(std::string_view name) {
    return 1 + static_cast<unsigned>(std::count(name.begin(), name.end(), '/'));
}

}  // namespace

std::vector<ChildRow> keepLargest(std::vector<ChildRow> children, std::size_t most) {
    std::erase_if(children, [](const ChildRow& c) { return c.name.empty(); });
    // A directory holds at least the bytes of each one below it, and comes first on a tie: what
    // is kept always holds the directories above each one kept.
    std::sort(children.begin(), children.end(), [](const ChildRow& a, const ChildRow& b) {
        if (a.bytes != b.bytes) return a.bytes > b.bytes;
        const unsigned da = depthOf(a.name), db = depthOf(b.name);
        if (da != db) return da < db;
        return a.name < b.name;
    });
    if (children.size() <= most) return children;
    ChildRow other;
    for (std::size_t i = most; i < children.size(); ++i) {
        const ChildRow& c = children[i];
        if (depthOf(c.name) != 1) continue;  // inside one of the first level, kept or not
        other.directories += c.directories + 1;
        other.files += c.files;
        other.bytes += c.bytes;
        other.complete = other.complete && c.complete;
    }
    children.resize(most);
    children.push_back(std::move(other));
    return children;
}

namespace detail {

void recordSubdirectories(sqlite3* db, const Target& target, std::int64_t snapshot, unsigned depth,
                          const std::vector<std::pair<const Row*, std::int64_t>>& rows) {
    if (depth == 0) return;
    {
        Statement s(db, target, "INSERT INTO snapshot_depth(snapshot, depth) VALUES (?1, ?2)");
        s.bind(1, snapshot);
        s.bind(2, std::min(depth, kMaxChildDepth));
        s.step();
    }
    Statement names(db, target, "SELECT id, name FROM subdirectory WHERE parent = ?1");
    Statement insertName(db, target, "INSERT INTO subdirectory(parent, name) VALUES (?1, ?2)");
    // Figures go in kBatch rows to a statement, the rest one by one.
    constexpr int kBatch = 64;
    const auto insertFigures = [&](int count) {
        std::string sql =
            "INSERT INTO subdirectory_figures(subdirectory, snapshot, directories, files, bytes, "
            "complete) VALUES ";
        for (int i = 0; i < count; ++i) sql += i == 0 ? "(?,?,?,?,?,?)" : ",(?,?,?,?,?,?)";
        return std::make_unique<Statement>(db, target, sql.c_str());
    };
    const std::unique_ptr<Statement> batch = insertFigures(kBatch);
    const std::unique_ptr<Statement> single = insertFigures(1);
    std::vector<std::pair<std::int64_t, ChildRow>> pending;
    const auto flush = [&](Statement& s, std::size_t from, std::size_t count) {
        s.reset();
        int p = 1;
        for (std::size_t i = from; i < from + count; ++i) {
            const auto& [id, c] = pending[i];
            s.bind(p++, id);
            s.bind(p++, snapshot);
            s.bind(p++, c.directories);
            s.bind(p++, c.files);
            s.bindBytes(p++, c.bytes);
            s.bind(p++, c.complete ? 1 : 0);
        }
        s.step();
    };
    std::unordered_map<std::string, std::int64_t> known;  // name -> id, of the entry at hand
    std::unordered_set<std::int64_t> written;
    for (const auto& [row, parent] : rows) {
        std::vector<ChildRow> children;
        for (const ChildRow& c : row->children)
            if (depthOf(c.name) <= depth) children.push_back(c);
        children = keepLargest(std::move(children));
        known.clear();
        written.clear();
        names.reset();
        names.bind(1, parent);
        while (names.step()) known.emplace(names.bytes(1), names.integer(0));
        for (ChildRow& c : children) {
            auto it = known.find(c.name);
            if (it == known.end()) {
                insertName.reset();
                insertName.bind(1, parent);
                insertName.bindBlob(2, c.name);
                insertName.step();
                it = known.emplace(c.name, sqlite3_last_insert_rowid(db)).first;
            }
            if (!written.insert(it->second).second) continue;  // a name given twice: the first
            pending.emplace_back(it->second, std::move(c));
            if (pending.size() == kBatch) {
                flush(*batch, 0, kBatch);
                pending.clear();
            }
        }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) flush(*single, i, 1);
}

std::unordered_map<std::int64_t, unsigned> snapshotDepths(sqlite3* db, const Target& target,
                                                          int version) {
    std::unordered_map<std::int64_t, unsigned> depths;
    if (version < 2) return depths;
    Statement s(db, target, "SELECT snapshot, depth FROM snapshot_depth");
    while (s.step())
        depths.emplace(s.integer(0), static_cast<unsigned>(std::clamp<std::int64_t>(
                                         s.integer(1), 1, kMaxChildDepth)));
    return depths;
}

namespace {

// A directory's subdirectories in two snapshots.
constexpr const char* kChildrenAt =
    "SELECT s.id, s.name, f.snapshot, f.directories, f.files, f.bytes, f.complete "
    "FROM subdirectory s JOIN subdirectory_figures f ON f.subdirectory = s.id "
    "WHERE s.parent = ?1 AND f.snapshot IN (?2, ?3)";

}  // namespace

GrewMost::GrewMost(sqlite3* db, const Target& target) : m_children(db, target, kChildrenAt) {}

std::optional<std::string> GrewMost::of(std::int64_t directory, std::int64_t first,
                                        std::int64_t last) {
    if (first == last) return std::nullopt;
    struct Change {
        std::string name;
        __int128 bytes = 0;
    };
    std::unordered_map<std::int64_t, Change> changes;
    m_children.reset();
    m_children.bind(1, directory);
    m_children.bind(2, first);
    m_children.bind(3, last);
    while (m_children.step()) {
        if (m_children.view(1).find('/') != std::string_view::npos) continue;  // deeper
        Change& c = changes[m_children.integer(0)];
        c.name = m_children.view(1);
        c.bytes += m_children.integer(2) == last ? m_children.total(5) : -m_children.total(5);
    }
    const Change* best = nullptr;
    for (const auto& [id, c] : changes)
        if (c.bytes > 0 && (best == nullptr || c.bytes > best->bytes ||
                            (c.bytes == best->bytes && c.name < best->name)))
            best = &c;
    if (best == nullptr) return std::nullopt;
    return best->name;
}

}  // namespace detail

namespace {

// The order of an explanation: the largest change first, growth or shrinking, ties by path.
bool changedMore(const DirectoryGrowth& a, const DirectoryGrowth& b) {
    const __int128 x = a.bytesChange < 0 ? -a.bytesChange : a.bytesChange;
    const __int128 y = b.bytesChange < 0 ? -b.bytesChange : b.bytesChange;
    if (x != y) return x > y;
    return a.path < b.path;
}

Explanation explainOnce(const Target& target, std::string_view directory, const Query& query) {
    const std::unique_ptr<detail::Session> session = detail::openToRead(target);
    try {
        sqlite3* const db = session->handle();
        Explanation e;
        detail::RangeSnapshots range = detail::snapshotsInRange(db, target, query.range);
        e.clockWentBackwards = range.clockWentBackwards;
        std::int64_t dir = 0;
        {
            Statement s(db, target,
                        "SELECT d.id FROM directory d WHERE d.path = ?1 AND EXISTS (SELECT 1 "
                        "FROM presence p WHERE p.directory = d.id)");
            s.bindBlob(1, directory);
            if (s.step()) dir = s.integer(0);
        }
        if (dir == 0)
            target.raise(HistoryError::Kind::NotWatched, "no snapshot of " + target.listFileName +
                                                             " holds the directory " +
                                                             std::string(directory));
        if (range.ids.empty()) {
            e.emptyRange = true;
            session->finish();
            return e;
        }
        // The snapshots of the range that hold the directory and its subdirectories.
        const auto depths = detail::snapshotDepths(db, target, session->version());
        Statement figures(db, target,
                          "SELECT directory, directories, files, bytes, overhead, allocated, "
                          "complete FROM figures WHERE snapshot = ?1 AND directory = ?2");
        std::map<std::int64_t, Figures> held;  // by snapshot id
        for (const SnapshotInfo& info : range.snapshots) {
            if (!depths.contains(info.id)) continue;
            figures.reset();
            figures.bind(1, info.id);
            figures.bind(2, dir);
            if (!figures.step()) continue;
            held.emplace(info.id, detail::readFigures(figures, info.id, info.time));
            e.snapshots.push_back(info);
        }
        if (held.empty()) {
            session->finish();
            return e;
        }
        const Figures& first = held.begin()->second;
        const Figures& last = held.rbegin()->second;
        e.depth = std::min(depths.at(first.snapshot), depths.at(last.snapshot));
        e.directory = detail::growthBetween(std::string(directory), first, last);
        if (query.series)
            for (const auto& [id, f] : held) e.directory->series.push_back({f.time, f.bytes});

        struct Child {
            std::string name;
            std::optional<Figures> first, last;
        };
        std::unordered_map<std::int64_t, Child> children;
        bool firstCut = false, lastCut = false;  // the snapshot left some out, to "(other)"
        {
            Statement s(db, target, detail::kChildrenAt);
            s.bind(1, dir);
            s.bind(2, first.snapshot);
            s.bind(3, last.snapshot);
            while (s.step()) {
                const std::string_view name = s.view(1);
                const bool atLast = s.integer(2) == last.snapshot;
                if (name.empty()) (atLast ? lastCut : firstCut) = true;
                if (depthOf(name) > e.depth) continue;
                Child& c = children[s.integer(0)];
                c.name = name;
                // Columns 3..6 as readFigures reads 1..6 of the figures table: directories,
                // files, bytes, then complete.
                Figures f;
                f.snapshot = s.integer(2);
                f.time = atLast ? last.time : first.time;
                f.directories = s.integer(3);
                f.files = s.integer(4);
                f.bytes = s.total(5);
                f.complete = s.integer(6) != 0;
                // One snapshot asked for twice when first and last are the same.
                if (atLast) c.last = f;
                if (!atLast || first.snapshot == last.snapshot) c.first = f;
            }
        }
        const std::string prefix = platform::joinPattern(directory, "");
        std::vector<std::pair<std::int64_t, DirectoryGrowth>> kept;  // subdirectory id, growth
        const auto before = [](const auto& a, const auto& b) {
            return changedMore(a.second, b.second);
        };
        for (auto& [id, c] : children) {
            const auto none = [](const Figures& at) {
                Figures f;
                f.snapshot = at.snapshot;
                f.time = at.time;
                return f;
            };
            const bool other = c.name.empty();
            DirectoryGrowth g =
                detail::growthBetween(other ? "(other)" : prefix + c.name,
                                      c.first.value_or(none(first)), c.last.value_or(none(last)));
            g.other = other;
            g.inOtherFirst = !c.first && firstCut && !other;
            g.inOtherLast = !c.last && lastCut && !other;
            g.appeared = !c.first && !g.inOtherFirst;
            g.disappeared = !c.last && !g.inOtherLast;
            if (e.directory->bytesChange != 0)
                g.share = static_cast<double>(g.bytesChange) * 100.0 /
                          static_cast<double>(e.directory->bytesChange);
            ++e.subdirectoryCount;
            if (query.top != 0 && kept.size() == query.top) {
                if (!changedMore(g, kept.front().second)) continue;
                std::pop_heap(kept.begin(), kept.end(), before);
                kept.back() = {id, std::move(g)};
            } else {
                kept.emplace_back(id, std::move(g));
            }
            if (query.top != 0) std::push_heap(kept.begin(), kept.end(), before);
        }
        std::sort(kept.begin(), kept.end(), before);
        if (query.series) {
            Statement s(db, target,
                        "SELECT snapshot, bytes FROM subdirectory_figures WHERE subdirectory = ?1 "
                        "AND snapshot BETWEEN ?2 AND ?3 ORDER BY snapshot");
            for (auto& [id, g] : kept) {
                s.reset();
                s.bind(1, id);
                s.bind(2, first.snapshot);
                s.bind(3, last.snapshot);
                while (s.step())
                    if (const auto it = held.find(s.integer(0)); it != held.end())
                        g.series.push_back({it->second.time, s.total(1)});
            }
        }
        e.subdirectories.reserve(kept.size());
        for (auto& k : kept) e.subdirectories.push_back(std::move(k.second));
        session->finish();
        return e;
    } catch (const HistoryError&) {
        session->rethrowUnlessChanged();
    }
}

}  // namespace

Explanation explainHistory(std::string_view listFileName, std::string_view directory,
                           const Query& query) {
    const Target target{std::string(listFileName), historyFileName(listFileName),
                        detail::Mode::Read};
    return detail::retrying([&] { return explainOnce(target, directory, query); });
}

}  // namespace pelmora::history
