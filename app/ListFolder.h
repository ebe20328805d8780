// Where the user's lists live. A program run from a folder its user can write (a build tree, a
// copy in the home) keeps them beside itself. An installed program lies in a folder only root
// may write, so each user keeps DEFAULT.PML and the batch run's lists in the user's data folder
// instead; the program's own folder still offers a system-wide DEFAULT.PML and batch lists.
#pragma once

#include <string>
#include <string_view>

namespace pelmora::app {

// The folder for lists, ending in '/': `programDir` when `programDirWritable`, else
// $XDG_DATA_HOME/pelmora/ (an XDG_DATA_HOME that is empty or not absolute counts as unset), else
// $HOME/.local/share/pelmora/; `programDir` when neither is known. The values are the
// environment's (nullptr: unset).
std::string listFolderFor(std::string_view programDir, bool programDirWritable,
                          const char* xdgDataHome, const char* home);

// The same for this process: `programDir` is writable when this user may create files in it.
std::string listFolder(const std::string& programDir);

}  // namespace pelmora::app
