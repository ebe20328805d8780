#include "app/ListFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace pelmora::app {

std::string listFolderFor(std::string_view programDir, bool programDirWritable,
                          const char* xdgDataHome, const char* home) {
    if (programDirWritable) return std::string(programDir);
    std::string data;
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        data = xdgDataHome;
    else if (home != nullptr && home[0] == '/')
        data = std::string(home) + "/.local/share";
    else
        return std::string(programDir);
    if (data.back() != '/') data += '/';
    return data + "pelmora/";
}

std::string listFolder(const std::string& programDir) {
    // The effective user's right to add files there; a folder on a read-only mount counts as
    // not writable, also for root.
    const bool writable = !programDir.empty() &&
                          ::faccessat(AT_FDCWD, programDir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    return listFolderFor(programDir, writable, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

}  // namespace pelmora::app
