// What the program takes from the user's locale.
#pragma once

#include <string_view>

namespace pelmora::platform {

// The digit-grouping symbol of LC_NUMERIC as set in the environment: its one character, or ','
// when the symbol is empty or longer than one byte.
char localeThousandsSeparator();

// Case-insensitive comparison in the collation of the user's LC_COLLATE locale (ICU).
// Returns <0, 0 or >0. Texts are bytes; invalid UTF-8 compares by its bytes after the
// collator finds the valid parts equal, so different names never compare equal by accident.
int compareTextIgnoreCase(std::string_view a, std::string_view b);

// Re-reads LC_COLLATE for compareTextIgnoreCase (after a locale change).
void resetCollation();

}  // namespace pelmora::platform
