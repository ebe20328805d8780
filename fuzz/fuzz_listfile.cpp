// The list-file reader: any bytes load without a crash, and a list written back loads to the
// same entries.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "list/listfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = pelmora::list::parseListText(bytes);
    for (const std::string& l : lines) {
        if (l.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    }
    const std::string written = pelmora::list::formatListText(lines);
    if (pelmora::list::parseListText(written) != lines) std::abort();
    return 0;
}
