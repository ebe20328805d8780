// The text of the progress line that count, export and snapshot show on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelmora::cli {

// The progress line's text (without the cursor moves) for `width` columns: the entries and bytes
// so far (grouped by `separator`) and the directory being read, its beginning cut off when the
// line would be too long.
std::string progressText(std::int64_t entries, std::uint64_t bytes, std::string_view dir,
                         std::size_t width, char separator);

}  // namespace pelmora::cli
