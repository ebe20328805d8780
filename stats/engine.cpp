#include "stats/engine.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

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

// What texts below `norm` begin with.
std::string belowPrefix(const std::string& norm) {
    return norm == "/" ? norm : norm + "/";
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

struct ListCount::State {
    CountOptions options;
    std::vector<std::string> entries;
    std::vector<std::string> norms;
    std::vector<std::size_t> byNorm;  // entry indices, their norms in byte order
    std::vector<std::optional<CountResult>> results;
    std::vector<char> answered;  // its result was made (and may have been handed over since)
    std::size_t walks = 0;

    // Calls f for each entry without a result whose norm lies in [low, high), in the order
    // of byNorm (entries with equal norms in list order).
    template <typename F>
    void forUnansweredIn(const std::string& low, const std::string& high, F f) const {
        const auto less = [this](std::size_t i, const std::string& t) { return norms[i] < t; };
        auto it = std::lower_bound(byNorm.begin(), byNorm.end(), low, less);
        for (; it != byNorm.end() && norms[*it] < high; ++it) {
            if (!answered[*it] && !entries[*it].empty()) f(*it);
        }
    }
    template <typename F>
    void forUnansweredEqual(const std::string& norm, F f) const {
        forUnansweredIn(norm, norm + '\0', [&](std::size_t k) {
            if (norms[k] == norm) f(k);
        });
    }

    // The entry to walk so that `i` is answered: the outermost entry without a result whose
    // text encloses i's (the first in the list among equal ones), or i itself.
    std::size_t enclosing(std::size_t i) const {
        const std::string& n = norms[i];
        std::vector<std::size_t> ends;
        if (platform::isPathDelimiter(n.front())) ends.push_back(1);
        for (std::size_t p = 1; p < n.size(); ++p) {
            if (platform::isPathDelimiter(n[p])) ends.push_back(p);
        }
        ends.push_back(n.size());
        for (const std::size_t end : ends) {
            std::optional<std::size_t> first;
            forUnansweredEqual(n.substr(0, end), [&](std::size_t k) {
                if (!first) first = k;
            });
            if (first) return *first;
        }
        return i;
    }

    void walkFrom(std::size_t root) {
        detail::WalkPlan plan;
        plan.depth = options.depth;
        std::vector<std::size_t> answers;  // the entry each target stands for
        const std::string& n = norms[root];
        const std::string below = belowPrefix(n);
        // The entries whose text names the start again or a directory below it: looked for on
        // the way by their names, confirmed afterwards by device and inode.
        auto add = [&](std::size_t j, std::string relative) {
            if (j == root) return;
            plan.add({std::move(relative), detail::startPrefix(entries[j])});
            answers.push_back(j);
        };
        forUnansweredEqual(n, [&](std::size_t j) { add(j, {}); });
        std::string high = below;
        high.back() = static_cast<char>(high.back() + 1);
        forUnansweredIn(below, high, [&](std::size_t j) {
            if (norms[j] != n) add(j, norms[j].substr(below.size()));
        });
        stopIfCancelled(options);
        detail::WalkAnswers got = detail::walk(entries[root], options, plan);
        ++walks;
        for (std::size_t t = 0; t < answers.size(); ++t) {
            if (got.targets[t] && names(entries[answers[t]], got.reached[t])) {
                results[answers[t]] = std::move(*got.targets[t]);
                answered[answers[t]] = 1;
            }
        }
        results[root] = std::move(got.start);
        answered[root] = 1;
    }

    // Whether `entry`, opened as its own count would open it, is the directory `reached`. One
    // that is not (a link on the way, a directory replaced meanwhile) or cannot be opened has
    // a walk of its own.
    static bool names(const std::string& entry, const platform::DirIdentity& reached) {
        platform::UniqueFd fd;
        platform::DirIdentity id;
        return platform::openDirectory(entry, fd) == 0 && platform::identityOf(fd.get(), id) == 0 &&
               id.sameAs(reached);
    }
};

ListCount::ListCount(std::vector<std::string> entries, const CountOptions& options)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.options = options;
    s.entries = std::move(entries);
    s.norms.reserve(s.entries.size());
    for (const std::string& e : s.entries) s.norms.push_back(normalised(e));
    s.byNorm.resize(s.entries.size());
    for (std::size_t i = 0; i < s.byNorm.size(); ++i) s.byNorm[i] = i;
    std::sort(s.byNorm.begin(), s.byNorm.end(), [&s](std::size_t a, std::size_t b) {
        const int c = s.norms[a].compare(s.norms[b]);
        return c != 0 ? c < 0 : a < b;
    });
    s.results.resize(s.entries.size());
    s.answered.resize(s.entries.size());
}

ListCount::~ListCount() = default;

std::size_t ListCount::size() const {
    return m_state->entries.size();
}

const std::string& ListCount::entry(std::size_t i) const {
    return m_state->entries.at(i);
}

const CountResult& ListCount::result(std::size_t i) {
    State& s = *m_state;
    if (s.results.at(i)) return *s.results[i];
    if (s.entries[i].empty()) {
        s.results[i] = countOfNothing();
        return *s.results[i];
    }
    // Handed over before: counted again, alone.
    const std::size_t root = s.answered[i] ? i : s.enclosing(i);
    s.walkFrom(root);
    // Not reached by the walk of the entry around it (another mount, below a hidden name, or
    // changed meanwhile): a walk of its own.
    if (!s.results[i]) s.walkFrom(i);
    return *s.results[i];
}

CountResult ListCount::take(std::size_t i) {
    result(i);
    CountResult taken = std::move(*m_state->results[i]);
    m_state->results[i].reset();
    return taken;
}

void ListCount::release(std::size_t i) {
    m_state->results.at(i).reset();
}

std::size_t ListCount::walks() const {
    return m_state->walks;
}

}  // namespace pelmora::stats
