// Helpers shared by the watched-list and list-file tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "list/watchedlist.h"
#include "platform/ioerror.h"

namespace pelmora::list::helpers {

// A list holding `lines`, each added at its sorted place.
inline WatchedList listOf(const std::vector<std::string>& lines) {
    WatchedList list;
    for (const std::string& s : lines) list.add(s);
    return list;
}

// The text of the error `f` raises, or "(no error)".
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const platform::PelmoraError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace pelmora::list::helpers
