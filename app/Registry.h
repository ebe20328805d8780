// The program's entries in the machine-wide store, written at every start and never read.
//
// On Linux the store is a set of files below a machine-wide root ("/" unless
// PELMORA_SYSTEM_ROOT or setSystemRoot says otherwise):
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

namespace pelmora::app {

// Records maker/product/version and the path of the program at `program`. Returns false, silently,
// when a folder of the store cannot be opened or created (no rights to the machine-wide root);
// raises PelmoraError("Failed to create key " + file) when an entry cannot be created and
// PelmoraError("Failed to set data for '" + value + "'") when a value cannot be written.
bool WriteRegistryEntries(std::string_view program, std::string_view maker,
                          std::string_view product, std::string_view version);

// The machine-wide root; ends in '/'.
std::string systemRoot();
// Replaces the root (tests); an empty text goes back to PELMORA_SYSTEM_ROOT or "/".
void setSystemRoot(std::string root);

// The desktop entry's text for a program at `programPath` in `directory`.
std::string desktopEntryText(std::string_view programPath, std::string_view directory);

}  // namespace pelmora::app
