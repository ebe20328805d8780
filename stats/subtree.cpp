#include "stats/subtree.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/walker.h"

namespace pelmora::stats::detail {

// ---- the plan ----------------------------------------------------------------------------

void WalkPlan::add(Target target) {
    if (m_nodes.empty()) m_nodes.emplace_back();
    std::int32_t at = 0;
    std::string_view rest = target.relative;
    while (!rest.empty()) {
        const std::size_t end = rest.find('/');
        const std::string_view name = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const auto it = m_nodes[static_cast<std::size_t>(at)].names.find(name);
        if (it != m_nodes[static_cast<std::size_t>(at)].names.end()) {
            at = it->second;
            continue;
        }
        const auto next = static_cast<std::int32_t>(m_nodes.size());
        m_nodes[static_cast<std::size_t>(at)].names.emplace(std::string(name), next);
        m_nodes.emplace_back();
        at = next;
    }
    m_nodes[static_cast<std::size_t>(at)].targets.push_back(targets.size());
    targets.push_back(std::move(target));
}

std::int32_t WalkPlan::below(std::int32_t at, std::string_view name) const {
    if (at == kNone) return kNone;
    const auto& names = m_nodes[static_cast<std::size_t>(at)].names;
    const auto it = names.find(name);
    return it == names.end() ? kNone : it->second;
}

const std::vector<std::size_t>& WalkPlan::targetsAt(std::int32_t at) const {
    static const std::vector<std::size_t> none;
    return at == kNone ? none : m_nodes[static_cast<std::size_t>(at)].targets;
}

// ---- subtrees ----------------------------------------------------------------------------

void sortAndTrim(std::vector<PlacedError>& errors) {
    std::sort(errors.begin(), errors.end(),
              [](const PlacedError& a, const PlacedError& b) { return a.place < b.place; });
    if (errors.size() > CountResult::kErrorsKept) errors.resize(CountResult::kErrorsKept);
}

void Subtree::addErrorInOrder(std::string_view relativePath, int err) {
    ++errorCount;
    if (errors.size() < CountResult::kErrorsKept)
        errors.push_back({{}, std::string(relativePath), err});
}

void Subtree::addPlacedError(PlacedError error) {
    ++errorCount;
    errors.push_back(std::move(error));
    if (errors.size() > 4 * CountResult::kErrorsKept) sortAndTrim(errors);
}

void Subtree::absorb(const Subtree& child) {
    dirs += child.dirs;
    files += child.files;
    bytes += child.bytes;
    allocation.merge(child.allocation);
    errorCount += child.errorCount;
    hidden += child.hidden;
    errors.insert(errors.end(), child.errors.begin(), child.errors.end());
    sortAndTrim(errors);
}

SubtreeSet::SubtreeSet(const WalkPlan& plan, std::string_view startPrefix)
    : m_plan(plan), m_prefix(startPrefix) {
    auto start = std::make_unique<Subtree>();
    start->keep = plan.depth;
    m_all.push_back(std::move(start));
}

void SubtreeSet::begin(const platform::DirIdentity& start) {
    m_startId = start;
    Subtree& s = *m_all.front();
    s.id = start;
    s.targets = m_plan.targetsAt(m_plan.start());
}

Subtree* SubtreeSet::open(Subtree& above, const Subtree* parentOwn, std::int32_t at,
                          std::uint64_t inode, std::string_view path, std::uint32_t depth) {
    const std::uint32_t inherited = parentOwn != nullptr ? parentOwn->keep : 0;
    std::vector<std::size_t> targets = m_plan.targetsAt(at);
    auto s = std::make_unique<Subtree>();
    s->id = m_startId;
    s->id.inode = inode;
    s->parent = &above;
    s->depth = depth;
    s->kept = inherited > 0;
    // A watched directory keeps its own levels, whatever the directories above it keep.
    const std::uint32_t fromAbove = inherited > 0 ? inherited - 1 : 0;
    s->keep = targets.empty() ? fromAbove : std::max(m_plan.depth, fromAbove);
    s->targets = std::move(targets);
    s->relative.assign(path.substr(std::min(path.size(), m_prefix.size())));
    Subtree* const made = s.get();
    std::lock_guard<std::mutex> g(m_lock);
    m_all.push_back(std::move(s));
    return made;
}

std::string SubtreeSet::nameBelow(const Subtree& s, const std::string& relative,
                                  std::string_view prefix) const {
    if (relative.size() <= s.relative.size()) return std::string(pathOfPrefix(prefix));
    std::string name(prefix);
    name.append(relative, s.relative.size() + (s.relative.empty() ? 0 : 1));
    return name;
}

namespace {

// Whether `below` lies inside `s` (both subtrees of one walk).
bool inside(const Subtree& below, const Subtree& s) {
    if (s.relative.empty()) return true;
    return below.relative.size() > s.relative.size() &&
           below.relative.compare(0, s.relative.size(), s.relative) == 0 &&
           below.relative[s.relative.size()] == '/';
}

}  // namespace

CountResult SubtreeSet::resultOf(std::size_t index, std::string_view prefix, bool inOrder) const {
    const Subtree& s = *m_all[index];
    CountResult r;
    r.directories = s.dirs;
    r.files = s.files;
    r.exactBytes = s.bytes;
    r.byteTotal = inOrder ? s.total.total() : Real48::fromInt(static_cast<std::int64_t>(s.bytes));
    r.allocatedBytes = s.allocation.total();
    r.errorCount = s.errorCount;
    r.hiddenLeftOut = s.hidden;
    for (const PlacedError& e : s.errors)
        r.errors.push_back(
            {nameBelow(s, e.relative, prefix), e.error, platform::ioCodeFromErrno(e.error)});
    for (std::size_t j = index + 1; j < m_all.size() && inside(*m_all[j], s); ++j) {
        const Subtree& k = *m_all[j];
        const std::uint32_t depth = k.depth - s.depth;
        if (!k.kept || depth > m_plan.depth) continue;
        DirFigures f;
        f.path = nameBelow(s, k.relative, prefix);
        f.depth = depth;
        f.directories = k.dirs;
        f.files = k.files;
        f.exactBytes = k.bytes;
        f.byteTotal =
            inOrder ? k.total.total() : Real48::fromInt(static_cast<std::int64_t>(k.bytes));
        f.allocatedBytes = k.allocation.total();
        f.errorCount = k.errorCount;
        r.below.push_back(std::move(f));
    }
    return r;
}

void SubtreeSet::sumUp() {
    // Made in walk order or not, every subtree comes after the one above it.
    for (std::size_t i = m_all.size(); i-- > 1;) {
        Subtree& s = *m_all[i];
        sortAndTrim(s.errors);
        if (s.parent != m_all.front().get()) s.parent->absorb(s);
    }
}

WalkAnswers SubtreeSet::answers(bool byPlace) {
    if (byPlace)
        std::sort(m_all.begin() + 1, m_all.end(),
                  [](const std::unique_ptr<Subtree>& a, const std::unique_ptr<Subtree>& b) {
                      return a->place < b->place;
                  });
    WalkAnswers a;
    a.start = resultOf(0, m_prefix, !byPlace);
    a.targets.resize(m_plan.targets.size());
    a.reached.resize(m_plan.targets.size());
    for (std::size_t i = 0; i < m_all.size(); ++i) {
        for (const std::size_t t : m_all[i]->targets) {
            a.targets[t] = resultOf(i, m_plan.targets[t].prefix, !byPlace);
            a.reached[t] = m_all[i]->id;
        }
    }
    return a;
}

std::string startPrefix(std::string_view dir) {
    return dir.empty() ? std::string() : platform::joinPattern(dir, "");
}

// ---- the one-thread walk -----------------------------------------------------------------

namespace {

// Follows the walk into and out of directories: the subtrees the entries and errors at hand
// lie in.
class SubtreeTracker : public WalkObserver {
  public:
    explicit SubtreeTracker(SubtreeSet& set) : m_set(set) {
        m_chain.push_back(&set.start());
        m_own.push_back(&set.start());
        m_at.push_back(set.plan().start());
    }

    void started(const platform::DirIdentity& start) override { m_set.begin(start); }
    void enter(std::uint64_t inode, std::string_view path, std::size_t depth) override {
        const std::int32_t at =
            m_set.plan().below(m_at.back(), path.substr(platform::lastDelimiter(path) + 1));
        Subtree* s = m_set.opens(m_own.back(), at)
                         ? m_set.open(*m_chain.back(), m_own.back(), at, inode, path,
                                      static_cast<std::uint32_t>(depth))
                         : nullptr;
        m_at.push_back(at);
        m_own.push_back(s);
        if (s != nullptr) m_chain.push_back(s);
    }
    void leave() override {
        if (m_own.back() != nullptr) m_chain.pop_back();
        m_own.pop_back();
        m_at.pop_back();
    }

    // The subtrees the walk is in now, the start's first.
    const std::vector<Subtree*>& chain() const { return m_chain; }

  private:
    SubtreeSet& m_set;
    std::vector<Subtree*> m_chain;
    std::vector<Subtree*> m_own;     // per directory open in the walk: its own subtree, or null
    std::vector<std::int32_t> m_at;  // and its place among the targets' paths
};

}  // namespace

WalkAnswers walkSequential(std::string_view dir, const CountOptions& options,
                           const WalkPlan& plan) {
    const std::string prefix = startPrefix(dir);
    SubtreeSet set(plan, prefix);
    SubtreeTracker tracker(set);
    // The progress figures not handed over yet.
    std::int64_t batchEntries = 0;
    std::uint64_t batchBytes = 0;
    auto entry = [&](const TSearchRec& rec, std::string_view at) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed))
            throw Cancelled();
        if (platform::isHiddenName(rec.Name)) {
            if (rec.Name == "." || rec.Name == "..") return;
            if (!options.hidden) {
                if (options.noteHidden && ((rec.Attr & faDirectory) != 0 || rec.Size > 0)) {
                    for (Subtree* s : tracker.chain()) ++s->hidden;
                }
                return;
            }
        }
        if (options.progress != nullptr) {
            batchBytes += static_cast<std::uint64_t>(rec.Size);
            if (++batchEntries == 256) {
                options.progress->add(batchEntries, batchBytes,
                                      at.substr(0, at.empty() ? 0 : at.size() - 1));
                batchEntries = 0;
                batchBytes = 0;
            }
        }
        const bool directory = (rec.Attr & faDirectory) != 0;
        for (Subtree* s : tracker.chain()) {
            s->total.add(rec.Size);
            s->bytes += static_cast<std::uint64_t>(rec.Size);
            ++(directory ? s->dirs : s->files);
            if (options.allocated && rec.Stat != nullptr) s->allocation.add(*rec.Stat);
        }
    };
    auto error = [&](std::string_view path, int err) {
        const std::string_view relative =
            path.size() > prefix.size() ? path.substr(prefix.size()) : std::string_view();
        for (Subtree* s : tracker.chain()) s->addErrorInOrder(relative, err);
    };
    WalkOptions walk;
    walk.statDotNames = options.hidden || options.noteHidden;
    walk.enterHidden = options.hidden;
    walk.exclude =
        options.exclude != nullptr && !options.exclude->empty() ? options.exclude : nullptr;
    walk.fillTime = false;
    walk.allocation = options.allocated;
    if (options.descriptorBudget) walk.descriptorBudget = *options.descriptorBudget;
    walk.onError = error;
    walk.observer = &tracker;
    walkDirectory(dir, "*.*", AttrAll, entry, walk);
    if (options.progress != nullptr) options.progress->add(batchEntries, batchBytes, dir);
    return set.answers(false);
}

WalkAnswers walk(std::string_view dir, const CountOptions& options, const WalkPlan& plan) {
    const unsigned jobs = options.jobs != 0 ? options.jobs : defaultJobs();
    if (jobs <= 1) return walkSequential(dir, options, plan);
    bool exceeded = false;
    WalkAnswers answers = walkThreaded(dir, options, jobs, plan, exceeded);
    // Above 2^40 bytes the byte totals depend on the order of the additions: only the walk in
    // its order gives them.
    if (exceeded) return walkSequential(dir, options, plan);
    return answers;
}

}  // namespace pelmora::stats::detail
