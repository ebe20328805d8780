// The program's entries in the machine-wide store, written at every start and never read.
//
// On Linux the store is a set of files below a root (the system's: "/", or PELMORA_SYSTEM_ROOT
// when that is set):
//   etc/xdg/<maker>/<product>.conf    a key file holding the group [<version>]
//   usr/local/share/applications/<program>.desktop
//                                     the application path: Exec= the program's full path,
//                                     Path= its directory
//
// The desktop entry must never outlive the program or hide an installed one, so it is written
// only for a program outside temporary folders (tmp, var/tmp, $TMPDIR below the root) and
// outside CMake build trees, when no other entry in the application folders below the root
// (usr/local/share, usr/share, $XDG_DATA_DIRS) starts the same program, by its path or by a
// name that PATH leads to it; a file there that this program did not write is never touched,
// and one it wrote that points to this program, to none, or to one in a temporary folder or a
// build tree is removed when it is not written.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace pelmora::app {

// The store as files below one root.
class FileRegistry final : public platform::Registry {
  public:
    // `root` is the folder the paths above start from; a '/' is added when it has none.
    explicit FileRegistry(std::string root);

    const std::string& root() const { return m_root; }

    bool WriteRegistryEntries(std::string_view program, std::string_view maker,
                              std::string_view product, std::string_view version) override;

  private:
    std::string m_root;
};

// The system's root: PELMORA_SYSTEM_ROOT when it is set and not empty, else "/"; ends in '/'.
std::string systemRoot();

// The desktop entry's text for a program at `programPath` in `directory`.
std::string desktopEntryText(std::string_view programPath, std::string_view directory);

}  // namespace pelmora::app
