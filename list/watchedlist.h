// The watched list: directory texts kept sorted by the locale's case-insensitive collation,
// plus the process-wide list-file state.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::list {

class WatchedList {
public:
    int count() const { return static_cast<int>(m_entries.size()); }
    // The entry at `index`; raises PelmoraError("List index out of bounds") outside the list.
    const std::string& get(int index) const;
    // First entry equal to `text` under the case-insensitive locale comparison, or -1.
    int indexOf(std::string_view text) const;
    // Inserts `text` at its sorted place and returns its index. Raises
    // PelmoraError("Unable to insert a line") when the list cannot take another entry.
    int add(std::string text);
    void remove(int index);
    void clear();
    const std::vector<std::string>& entries() const { return m_entries; }

    // Observers, for the view that shows the list (called after the change).
    std::function<void(int index)> onInserted;
    std::function<void(int index)> onRemoved;
    std::function<void()> onReset;

private:
    std::vector<std::string> m_entries;
};

// The current list file's full path and whether the list changed since it was last cleared,
// loaded or saved.
extern std::string ListFileName;
extern bool ListModified;

}  // namespace pelmora::list
