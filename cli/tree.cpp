#include "cli/tree.h"

#include <algorithm>

namespace pelmora::cli {

namespace {

struct Node {
    TreeRow row;
    std::vector<std::size_t> children;
};

// Whether `a` comes before `b` by `key`, the largest first.
bool larger(const TreeRow& a, const TreeRow& b, SortKey key) {
    switch (key) {
        case SortKey::Files:
            if (a.files != b.files) return a.files > b.files;
            break;
        case SortKey::Dirs:
            if (a.directories != b.directories) return a.directories > b.directories;
            break;
        case SortKey::Bytes:
        case SortKey::Name:
            if (a.exactBytes != b.exactBytes) return a.exactBytes > b.exactBytes;
            break;
    }
    return a.path < b.path;
}

// The children of `at` in the order they are printed, at most `top` of them.
std::vector<std::size_t> ordered(std::vector<Node>& nodes, std::size_t at, SortKey key,
                                 std::size_t top) {
    std::vector<std::size_t> kids = std::move(nodes[at].children);
    std::stable_sort(kids.begin(), kids.end(), [&](std::size_t a, std::size_t b) {
        return larger(nodes[a].row, nodes[b].row, key);
    });
    if (top != 0 && kids.size() > top) kids.resize(top);
    if (key == SortKey::Name) {
        std::stable_sort(kids.begin(), kids.end(), [&](std::size_t a, std::size_t b) {
            return nodes[a].row.path < nodes[b].row.path;
        });
    }
    return kids;
}

}  // namespace

std::vector<TreeRow> sortedTree(std::string_view dir, const stats::CountResult& result, SortKey key,
                                std::size_t top) {
    std::vector<Node> nodes;
    nodes.reserve(result.below.size() + 1);
    Node start;
    start.row = {std::string(dir),      0,
                 result.directories,    result.files,
                 result.exactBytes,     result.byteTotal,
                 result.allocatedBytes, result.errorCount};
    nodes.push_back(std::move(start));
    // Walk order: each directory's parent is the last one before it a level higher.
    std::vector<std::size_t> open{0};
    for (const stats::DirFigures& f : result.below) {
        if (f.depth == 0 || f.depth > open.size()) continue;  // not below a kept directory
        open.resize(f.depth);
        nodes[open.back()].children.push_back(nodes.size());
        open.push_back(nodes.size());
        Node n;
        n.row = {f.path,       f.depth,     f.directories,    f.files,
                 f.exactBytes, f.byteTotal, f.allocatedBytes, f.errorCount};
        nodes.push_back(std::move(n));
    }
    // Depth first without recursion: a depth of thousands needs no deep call stack.
    std::vector<TreeRow> out;
    out.reserve(nodes.size());
    std::vector<std::size_t> pending{0};
    while (!pending.empty()) {
        const std::size_t at = pending.back();
        pending.pop_back();
        const std::vector<std::size_t> kids = ordered(nodes, at, key, top);
        pending.insert(pending.end(), kids.rbegin(), kids.rend());
        out.push_back(std::move(nodes[at].row));
    }
    return out;
}

}  // namespace pelmora::cli
