// Helpers shared by the watched-list and list-file tests.
#pragma once

#include <string>
#include <vector>

#include "list/watchedlist.h"

namespace pelmora::list::helpers {

// A list holding `lines`, each added at its sorted place.
inline WatchedList listOf(const std::vector<std::string>& lines) {
    WatchedList list;
    for (const std::string& s : lines) list.add(s);
    return list;
}

}  // namespace pelmora::list::helpers
