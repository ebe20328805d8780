// Files in a TempTree with their folders made first.
#pragma once

#include <string>

#include "tests/support/TempTree.h"

namespace pelmora::test {

inline std::string fileAt(const TempTree& t, const std::string& relative, long long size = 0) {
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string::npos) t.dir(relative.substr(0, slash));
    return t.file(relative, size);
}

inline std::string writeAt(const TempTree& t, const std::string& relative,
                           const std::string& content) {
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string::npos) t.dir(relative.substr(0, slash));
    return t.write(relative, content);
}

}  // namespace pelmora::test
