#include "stats/engine.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "platform/dir.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/subtree.h"

namespace pelmora::stats {

unsigned defaultJobs() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(16 * cores, 16u, 64u);
}

namespace {

CountResult countOfNothing() {
    CountResult none;
    none.errorCount = 1;
    none.errors.push_back({"", ENOENT, platform::ioCodeFromErrno(ENOENT)});
    return none;
}

void stopIfCancelled(const CountOptions& options) {
    if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
        throw Cancelled();
}

// An entry's text with doubled '/' and "." components taken out and no '/' at its end (the
// root stays "/"): texts that are equal or one below the other this way may be one directory
// or one inside the other. Only a hint of where to look: what a walk reaches is matched by
// device and inode.
std::string normalised(std::string_view text) {
    std::string out;
    const bool absolute = !text.empty() && platform::isPathDelimiter(text.front());
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && platform::isPathDelimiter(text[i])) ++i;
        std::size_t j = i;
        while (j < text.size() && !platform::isPathDelimiter(text[j])) ++j;
        const std::string_view part = text.substr(i, j - i);
        if (!part.empty() && part != ".") {
            if (!out.empty() || absolute) out.push_back('/');
            out.append(part);
        }
        i = j;
    }
    if (out.empty()) out = absolute ? "/" : ".";
    return out;
}

}  // namespace

CountResult count(std::string_view dir, const CountOptions& options) {
    if (dir.empty()) return countOfNothing();
    stopIfCancelled(options);
    detail::WalkPlan plan;
    plan.depth = options.depth;
    return detail::walk(dir, options, plan).start;
}

// ---- ListCount ---------------------------------------------------------------------------

namespace {

// Path order: bytes compared as unsigned, '/' before every other byte, so that the texts below
// a text come right after it, each before the texts below it (an order of the tree).
int comparePaths(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const auto rank = [](char c) {
            return platform::isPathDelimiter(c) ? 0 : static_cast<unsigned char>(c) + 1;
        };
        return rank(a[i]) < rank(b[i]) ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Whether `below` names a directory inside `above` by their norms.
bool inside(std::string_view below, std::string_view above) {
    if (above == "/") return below.size() > 1 && below.front() == '/';
    return below.size() > above.size() && below.compare(0, above.size(), above) == 0 &&
           platform::isPathDelimiter(below[above.size()]);
}

}  // namespace

struct ListCount::State {
    CountOptions options;
    std::vector<std::string> owned;  // the entries, when the list count keeps a copy
    std::size_t count = 0;
    EntryAt entryAt;
    // Norms that differ from their entry's text (most entries are normalised already): the
    // length of the entry's text that is its norm (a '/' at its end taken off), or a text.
    std::unordered_map<std::uint32_t, std::size_t> shorter;
    std::unordered_map<std::uint32_t, std::string> norms;
    std::vector<std::uint32_t> order;  // entry indices in path order of their norms, equal ones
                                       // in list order
    std::vector<std::uint32_t> place;  // each entry's place in `order`
    // Each entry's nearest enclosing entry (the first of equal ones), for those that have one.
    std::unordered_map<std::uint32_t, std::uint32_t> nearest;
    std::unordered_map<std::uint32_t, CountResult> results;  // made and not handed over yet
    std::vector<char> answered;  // its result was made (and may have been handed over since)
    std::size_t walks = 0;

    static constexpr std::uint32_t kNone = static_cast<std::uint32_t>(-1);

    std::string_view entry(std::size_t i) const { return entryAt(i); }
    std::string_view norm(std::uint32_t i) const {
        if (!shorter.empty()) {
            if (const auto it = shorter.find(i); it != shorter.end())
                return entry(i).substr(0, it->second);
        }
        if (norms.empty()) return entry(i);
        const auto it = norms.find(i);
        return it != norms.end() ? std::string_view(it->second) : entry(i);
    }

    void plan() {
        if (count >= kNone) throw std::bad_alloc();  // beyond what the plan's places hold
        // The threaded walks' share of the descriptor limit, asked for once.
        if (!options.descriptorBudget && options.jobs != 1)
            options.descriptorBudget = detail::defaultDescriptorBudget();
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string n = normalised(entry(i));
            const std::string_view e = entry(i);
            if (n == e) continue;
            if (e.compare(0, n.size(), n) == 0)
                shorter.emplace(i, n.size());
            else
                norms.emplace(i, std::move(n));
        }
        order.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
        {
            // The norms at hand while they are sorted (16 bytes an entry, for the sort only).
            std::vector<std::string_view> views(count);
            for (std::uint32_t i = 0; i < count; ++i) views[i] = norm(i);
            std::sort(order.begin(), order.end(), [&views](std::uint32_t a, std::uint32_t b) {
                const int c = comparePaths(views[a], views[b]);
                return c != 0 ? c < 0 : a < b;
            });
        }
        place.resize(count);
        std::vector<std::uint32_t> chain;  // the entries enclosing the one at hand, outermost first
        std::uint32_t firstEqual = kNone;
        for (std::uint32_t p = 0; p < count; ++p) {
            const std::uint32_t i = order[p];
            place[i] = p;
            if (p > 0 && norm(order[p - 1]) == norm(i)) {
                if (const auto it = nearest.find(firstEqual); it != nearest.end())
                    nearest.emplace(i, it->second);
                continue;
            }
            firstEqual = i;
            while (!chain.empty() && !inside(norm(i), norm(chain.back()))) chain.pop_back();
            if (!chain.empty()) nearest.emplace(i, chain.back());
            chain.push_back(i);
        }
    }

    // The place in `order` of the first of the entries equal to the one at place `p`.
    std::uint32_t firstOfEqual(std::uint32_t p) const {
        while (p > 0 && norm(order[p - 1]) == norm(order[p])) --p;
        return p;
    }

    // The first entry without a result among those equal to the entry at place `p`.
    std::uint32_t unansweredEqual(std::uint32_t p) const {
        const std::string_view n = norm(order[p]);
        for (std::uint32_t q = firstOfEqual(p); q < count && norm(order[q]) == n; ++q) {
            if (!answered[order[q]]) return order[q];
        }
        return kNone;
    }

    // The entry to walk so that `i` is answered: the outermost entry without a result whose
    // text encloses i's (the first in the list among equal ones), or i itself.
    std::uint32_t enclosing(std::uint32_t i) const {
        std::uint32_t best = unansweredEqual(place[i]);
        for (auto it = nearest.find(i); it != nearest.end(); it = nearest.find(it->second)) {
            if (const std::uint32_t u = unansweredEqual(place[it->second]); u != kNone) best = u;
        }
        return best != kNone ? best : i;
    }

    void walkFrom(std::uint32_t root) {
        detail::WalkPlan plan;
        plan.depth = options.depth;
        std::vector<std::uint32_t> answers;  // the entry each target stands for
        const std::string_view n = norm(root);
        const std::size_t skip = n == "/" ? 1 : n.size() + 1;
        // The entries whose text names the start again or a directory below it, which come
        // right after it in path order: looked for on the way by their names, confirmed
        // afterwards by device and inode.
        for (std::uint32_t q = firstOfEqual(place[root]); q < count; ++q) {
            const std::uint32_t j = order[q];
            const std::string_view nj = norm(j);
            const bool equal = nj == n;
            if (!equal && !inside(nj, n)) break;
            if (j == root || answered[j] || entry(j).empty()) continue;
            plan.add({equal ? std::string() : std::string(nj.substr(skip)),
                      detail::startPrefix(entry(j))});
            answers.push_back(j);
        }
        stopIfCancelled(options);
        detail::WalkAnswers got = detail::walk(entry(root), options, plan);
        ++walks;
        for (std::size_t t = 0; t < answers.size(); ++t) {
            if (got.targets[t] && names(entry(answers[t]), got.reached[t])) {
                results.insert_or_assign(answers[t], std::move(*got.targets[t]));
                answered[answers[t]] = 1;
            }
        }
        results.insert_or_assign(root, std::move(got.start));
        answered[root] = 1;
    }

    // Whether `entry`, opened as its own count would open it, is the directory `reached`. One
    // that is not (a link on the way, a directory replaced meanwhile) or cannot be opened has
    // a walk of its own.
    static bool names(std::string_view entry, const platform::DirIdentity& reached) {
        platform::UniqueFd fd;
        platform::DirIdentity id;
        return platform::openDirectory(entry, fd) == 0 && platform::identityOf(fd.get(), id) == 0 &&
               id.sameAs(reached);
    }
};

ListCount::ListCount(std::size_t size, EntryAt entryAt, const CountOptions& options)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.options = options;
    s.count = size;
    s.entryAt = std::move(entryAt);
    s.plan();
    s.answered.resize(size);
}

ListCount::ListCount(std::vector<std::string> entries, const CountOptions& options)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.options = options;
    s.owned = std::move(entries);
    s.count = s.owned.size();
    s.entryAt = [&owned = s.owned](std::size_t i) { return std::string_view(owned[i]); };
    s.plan();
    s.answered.resize(s.count);
}

ListCount::~ListCount() = default;
ListCount::ListCount(ListCount&&) noexcept = default;
ListCount& ListCount::operator=(ListCount&&) noexcept = default;

std::size_t ListCount::size() const {
    return m_state->count;
}

std::string_view ListCount::entry(std::size_t i) const {
    if (i >= m_state->count) throw std::out_of_range("ListCount::entry");
    return m_state->entry(i);
}

const CountResult& ListCount::result(std::size_t i) {
    State& s = *m_state;
    if (i >= s.count) throw std::out_of_range("ListCount::result");
    const auto k = static_cast<std::uint32_t>(i);
    if (const auto it = s.results.find(k); it != s.results.end()) return it->second;
    if (s.entry(i).empty()) return s.results.emplace(k, countOfNothing()).first->second;
    // Handed over before: counted again, alone.
    s.walkFrom(s.answered[i] ? k : s.enclosing(k));
    // Not reached by the walk of the entry around it (another mount, below a hidden name, or
    // changed meanwhile): a walk of its own.
    if (s.results.count(k) == 0) s.walkFrom(k);
    return s.results.at(k);
}

CountResult ListCount::take(std::size_t i) {
    result(i);
    const auto it = m_state->results.find(static_cast<std::uint32_t>(i));
    CountResult taken = std::move(it->second);
    m_state->results.erase(it);
    return taken;
}

void ListCount::release(std::size_t i) {
    m_state->results.erase(static_cast<std::uint32_t>(i));
}

std::size_t ListCount::walks() const {
    return m_state->walks;
}

}  // namespace pelmora::stats
