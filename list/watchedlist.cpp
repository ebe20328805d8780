#include "list/watchedlist.h"

#include "platform/ioerror.h"

// Placeholder until the watched-list work lands: unsorted, no duplicate test.
namespace pelmora::list {
std::string ListFileName;
bool ListModified = false;
const std::string& WatchedList::get(int index) const {
    if (index < 0 || index >= count()) throw platform::PelmoraError("List index out of bounds");
    return m_entries[index];
}
int WatchedList::indexOf(std::string_view) const { return -1; }
int WatchedList::add(std::string text) {
    m_entries.push_back(std::move(text));
    if (onInserted) onInserted(count() - 1);
    return count() - 1;
}
void WatchedList::remove(int index) {
    m_entries.erase(m_entries.begin() + index);
    if (onRemoved) onRemoved(index);
}
void WatchedList::clear() {
    m_entries.clear();
    if (onReset) onReset();
}
}  // namespace pelmora::list
