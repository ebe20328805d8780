#include "list/listfile.h"

// Placeholder until the list-file work lands.
namespace pelmora::list {
std::vector<std::string> parseListText(std::string_view) { return {}; }
std::string formatListText(const std::vector<std::string>&) { return {}; }
std::vector<std::string> readListFile(const std::string&) { return {}; }
void loadList(WatchedList& list, const std::string&) { list.clear(); }
void saveList(const WatchedList&, const std::string&) {}
}  // namespace pelmora::list
