#include "cli/progress.h"

#include "stats/formatcount.h"

namespace pelmora::cli {

namespace {

// Whether byte `c` begins a character (is no UTF-8 continuation byte).
bool startsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

}  // namespace

std::string progressText(std::int64_t entries, std::uint64_t bytes, std::string_view dir,
                         std::size_t width, char separator) {
    std::string line = stats::FormatCount(entries, separator) +
                       (entries == 1 ? " entry, " : " entries, ") +
                       stats::FormatCount(static_cast<std::int64_t>(bytes), separator) + " bytes  ";
    // The directory's end tells most; control bytes would move the cursor.
    std::string name;
    for (char c : dir) name.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
    // One column stays free, so that the cursor never wraps to the next line.
    const std::size_t room = width > line.size() + 1 ? width - line.size() - 1 : 0;
    std::size_t columns = 0;
    for (char c : name) columns += startsCharacter(c) ? 1 : 0;
    if (columns <= room) return line + name;
    if (room < 4) return line.substr(0, width > 1 ? width - 1 : 0);
    std::size_t keep = room - 3, from = name.size();
    while (from > 0 && keep > 0) {
        --from;
        if (startsCharacter(name[from])) --keep;
    }
    while (from < name.size() && !startsCharacter(name[from])) ++from;
    return line + "..." + name.substr(from);
}

}  // namespace pelmora::cli
