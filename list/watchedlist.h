// The watched list: directory texts kept sorted by the locale's case-insensitive collation,
// plus the process-wide list-file state.
#pragma once

#include <climits>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::list {

// Entries are bytes. The order is platform::compareTextIgnoreCase; an entry is inserted after
// the entries that compare equal to it, so a loaded file keeps its own order among them.
// The binary searches cost O(log n) comparisons; equality means that comparison returns 0.
class WatchedList {
  public:
    // The most entries a list holds; one more fails with "Unable to insert a line".
    static constexpr int kMaxEntries = INT_MAX - 1;

    int count() const { return static_cast<int>(m_entries.size()); }
    // The entry at `index`; raises PelmoraError("List index out of bounds") outside the list.
    const std::string& get(int index) const;
    // First entry equal to `text` under the case-insensitive locale comparison, or -1: always
    // the index a scan from 0 upward would find, also when the list holds equal entries.
    int indexOf(std::string_view text) const;
    // Inserts `text` at its sorted place (after the entries equal to it) and returns its index.
    // Raises PelmoraError("Unable to insert a line") when the list cannot take another entry.
    int add(std::string text);
    // Removes the entry at `index`; raises "List index out of bounds" outside the list.
    void remove(int index);
    void clear();
    // Empties the list, then inserts `lines` in their order, each as add() would place it.
    // When the list fills up, the lines taken so far stay and "Unable to insert a line" is
    // raised. One onReset at the end instead of one onInserted per line.
    void replaceAll(std::vector<std::string> lines);
    const std::vector<std::string>& entries() const { return m_entries; }

    // Lowers the entry limit (tests use a small one); clamped to 0..kMaxEntries.
    void setMaxCount(int max);
    int maxCount() const { return m_maxCount; }

    // Observers, for the view that shows the list (called after the change).
    std::function<void(int index)> onInserted;
    std::function<void(int index)> onRemoved;
    std::function<void()> onReset;

  private:
    int upperBound(std::string_view text) const;
    void insertAt(int index, std::string text);

    std::vector<std::string> m_entries;
    int m_maxCount = kMaxEntries;
    // Entries that are not valid UTF-8: with none, the comparison is a strict order and the
    // binary search is exact; with some, indexOf scans (see watchedlist.cpp).
    int m_nonUtf8 = 0;
};

// The current list file's full path and whether the list changed since it was last cleared,
// loaded or saved.
extern std::string ListFileName;
extern bool ListModified;

}  // namespace pelmora::list
