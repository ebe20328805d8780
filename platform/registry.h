// The machine-wide store in which the program records itself at every start: who made it, its
// version, and where it lies. Start-up hands the windows the system's store; a test hands in
// one below a temporary folder, or a stand-in that records what was asked.
#pragma once

#include <string_view>

namespace pelmora::platform {

class Registry {
  public:
    virtual ~Registry() = default;

    // Records maker/product/version and the path of the program at `program`. Returns false,
    // silently, when a folder of the store cannot be opened or created (no rights to it);
    // raises PelmoraError("Failed to create key " + key) when an entry cannot be created and
    // PelmoraError("Failed to set data for '" + value + "'") when a value cannot be written.
    virtual bool WriteRegistryEntries(std::string_view program, std::string_view maker,
                                      std::string_view product, std::string_view version) = 0;
};

}  // namespace pelmora::platform
