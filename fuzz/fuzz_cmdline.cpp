// The command-line token rules and the batch list name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> tokens = pelmora::app::splitCommandLine(line);
    for (const std::string& t : tokens) {
        // Tokens are never empty (the count stops at the first empty one) and never hold a
        // quote: quotes only open and close stretches.
        if (t.empty() || t.find('"') != std::string::npos) std::abort();
    }
    const std::string name = pelmora::app::batchListName("/opt/pelmora/", line);
    if (name.rfind("/opt/pelmora/", 0) != 0) std::abort();
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".PML") != 0) std::abort();
    for (std::size_t i = std::string_view("/opt/pelmora/").size(); i < name.size(); ++i)
        if (name[i] >= 'a' && name[i] <= 'z') std::abort();
    return 0;
}
