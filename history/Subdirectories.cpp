// Where a directory grew: the subdirectories a snapshot keeps of each list entry, and the
// explanation of one entry's growth by them.
#include <algorithm>
#include <limits>
#include <map>
#include <optional>
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
    // The rest summed before (a list kept so already) goes on as the rest.
    std::optional<ChildRow> other;
    for (const ChildRow& c : children)
        if (c.name.empty()) {
            if (!other) other.emplace();
            other->directories += c.directories;
            other->files += c.files;
            other->bytes += c.bytes;
            other->complete = other->complete && c.complete;
        }
    std::erase_if(children, [](const ChildRow& c) { return c.name.empty(); });
    // A directory holds at least the bytes of each one below it, and comes first on a tie: what
    // is kept always holds the directories above each one kept.
    std::sort(children.begin(), children.end(), [](const ChildRow& a, const ChildRow& b) {
        if (a.bytes != b.bytes) return a.bytes > b.bytes;
        const unsigned da = depthOf(a.name), db = depthOf(b.name);
        if (da != db) return da < db;
        return a.name < b.name;
    });
    if (children.size() > most) {
        if (!other) other.emplace();
        for (std::size_t i = most; i < children.size(); ++i) {
            const ChildRow& c = children[i];
            if (depthOf(c.name) != 1) continue;  // inside one of the first level, kept or not
            other->directories += c.directories + 1;
            other->files += c.files;
            other->bytes += c.bytes;
            other->complete = other->complete && c.complete;
        }
        children.resize(most);
    }
    if (other) children.push_back(std::move(*other));
    return children;
}

namespace detail {

namespace {

bool sameFigures(const ChildRow& a, const ChildRow& b) {
    return a.directories == b.directories && a.files == b.files && a.bytes == b.bytes &&
           a.complete == b.complete;
}

}  // namespace

// Each subdirectory's last row up to the snapshot is one seek.
ChildrenAsOf::ChildrenAsOf(sqlite3* db, const Target& target)
    : m_names(db, target, "SELECT id, name FROM subdirectory WHERE parent = ?1"),
      m_row(db, target,
            "SELECT directories, files, bytes, complete FROM subdirectory_figures WHERE parent = "
            "?1 AND subdirectory = ?2 AND snapshot <= ?3 ORDER BY snapshot DESC LIMIT 1") {}

void ChildrenAsOf::read(std::int64_t directory, std::int64_t snapshot,
                        const std::function<void(std::int64_t, ChildRow&&)>& each,
                        std::unordered_map<std::string, std::int64_t>* names) {
    m_names.reset();
    m_names.bind(1, directory);
    while (m_names.step()) {
        if (names != nullptr) names->emplace(m_names.bytes(1), m_names.integer(0));
        m_row.reset();
        m_row.bind(1, directory);
        m_row.bind(2, m_names.integer(0));
        m_row.bind(3, snapshot);
        if (!m_row.step() || m_row.isNull(2)) continue;  // not yet, or no longer there
        ChildRow c;
        c.name = m_names.view(1);
        c.directories = m_row.integer(0);
        c.files = m_row.integer(1);
        c.bytes = m_row.total(2);
        c.complete = m_row.integer(3) != 0;
        each(m_names.integer(0), std::move(c));
    }
}

void recordSubdirectories(sqlite3* db, const Target& target, std::int64_t snapshot, unsigned depth,
                          const std::vector<std::pair<const Row*, std::int64_t>>& rows) {
    if (depth == 0) return;
    depth = std::min(depth, kMaxChildDepth);
    {
        Statement s(db, target, "INSERT INTO snapshot_depth(snapshot, depth) VALUES (?1, ?2)");
        s.bind(1, snapshot);
        s.bind(2, depth);
        s.step();
    }
    ChildrenAsOf before(db, target);
    Statement insertName(db, target, "INSERT INTO subdirectory(parent, name) VALUES (?1, ?2)");
    // A row only where a subdirectory's figures changed since its last one, and one with NULL
    // bytes where it is no longer there: a tree that stays as it is costs nothing more a week.
    Statement insert(db, target,
                     "INSERT INTO subdirectory_figures(parent, subdirectory, snapshot, "
                     "directories, files, bytes, complete) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    const auto write = [&](std::int64_t parent, std::int64_t id, const ChildRow* c) {
        insert.reset();
        insert.bind(1, parent);
        insert.bind(2, id);
        insert.bind(3, snapshot);
        insert.bind(4, c ? c->directories : 0);
        insert.bind(5, c ? c->files : 0);
        if (c)
            insert.bindBytes(6, c->bytes);
        else
            insert.bindNull(6);
        insert.bind(7, c && !c->complete ? 0 : 1);
        insert.step();
    };
    std::unordered_map<std::string, std::int64_t> known;  // name -> id, of the entry at hand
    std::unordered_map<std::int64_t, ChildRow> last;      // id -> its figures so far
    std::unordered_set<std::int64_t> seen;                // ids in this snapshot
    for (const auto& [row, parent] : rows) {
        std::vector<ChildRow> children;
        for (const ChildRow& c : row->children)
            if (depthOf(c.name) <= depth) children.push_back(c);
        children = keepLargest(std::move(children));
        // Deeper rows of an earlier, deeper snapshot are neither compared nor ended: a snapshot
        // is read down to its own depth.
        last.clear();
        known.clear();
        before.read(
            parent, snapshot,
            [&](std::int64_t id, ChildRow&& c) {
                if (depthOf(c.name) <= depth) last.emplace(id, std::move(c));
            },
            &known);
        seen.clear();
        for (const ChildRow& c : children) {
            auto it = known.find(c.name);
            if (it == known.end()) {
                insertName.reset();
                insertName.bind(1, parent);
                insertName.bindBlob(2, c.name);
                insertName.step();
                it = known.emplace(c.name, sqlite3_last_insert_rowid(db)).first;
            }
            if (!seen.insert(it->second).second) continue;  // a name given twice: the first
            const auto was = last.find(it->second);
            if (was == last.end() || !sameFigures(was->second, c)) write(parent, it->second, &c);
        }
        for (const auto& [id, c] : last)  // there before, not now
            if (!seen.contains(id)) write(parent, id, nullptr);
    }
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

GrewMost::GrewMost(sqlite3* db, const Target& target) : m_children(db, target) {}

std::optional<std::string> GrewMost::of(std::int64_t directory, std::int64_t first,
                                        std::int64_t last) {
    if (first == last) return std::nullopt;
    struct Change {
        std::string name;
        __int128 bytes = 0;
    };
    std::unordered_map<std::int64_t, Change> changes;
    for (const std::int64_t at : {first, last})
        m_children.read(directory, at, [&](std::int64_t id, ChildRow&& c) {
            if (c.name.find('/') != std::string::npos) return;  // deeper
            Change& change = changes[id];
            change.name = std::move(c.name);
            change.bytes += at == last ? c.bytes : -c.bytes;
        });
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
        detail::ChildrenAsOf asOf(db, target);
        for (const Figures* at : {&first, &last})
            asOf.read(dir, at->snapshot, [&](std::int64_t id, ChildRow&& row) {
                const bool atLast = at == &last;
                if (row.name.empty()) (atLast ? lastCut : firstCut) = true;
                if (depthOf(row.name) > e.depth) return;
                Child& c = children[id];
                c.name = std::move(row.name);
                Figures f;
                f.snapshot = at->snapshot;
                f.time = at->time;
                f.directories = row.directories;
                f.files = row.files;
                f.bytes = row.bytes;
                f.complete = row.complete;
                (atLast ? c.last : c.first) = f;
            });
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
            // A row where a subdirectory changed: its bytes hold until its next row.
            Statement s(db, target,
                        "SELECT snapshot, bytes FROM subdirectory_figures WHERE parent = ?1 AND "
                        "subdirectory = ?2 AND snapshot <= ?3 ORDER BY snapshot");
            for (auto& [id, g] : kept) {
                s.reset();
                s.bind(1, dir);
                s.bind(2, id);
                s.bind(3, last.snapshot);
                std::optional<__int128> bytes;  // as of the snapshot at hand; unset: not there
                bool more = s.step();
                for (const auto& [snapshot, f] : held) {
                    for (; more && s.integer(0) <= snapshot; more = s.step())
                        bytes = s.isNull(1) ? std::nullopt : std::optional(s.total(1));
                    if (bytes) g.series.push_back({f.time, *bytes});
                }
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
