// What the program takes from the user's locale.
#pragma once

#include <string>
#include <string_view>

namespace pelmora::platform {

// The digit-grouping symbol of LC_NUMERIC as set in the environment: its one character, or ','
// when the symbol is empty or longer than one byte.
char localeThousandsSeparator();

// What the windows read of the user's locale. The system's reads the environment at each call,
// so a window that asks again after a locale change has the new setting.
class Locale {
  public:
    virtual ~Locale() = default;
    // The character that groups the digits of counts in threes.
    virtual char thousandsSeparator() const = 0;
};
Locale& systemLocale();

// True when `bytes` is well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short.
bool validUtf8(std::string_view bytes);

// Case-insensitive comparison in the collation of the user's LC_COLLATE locale (ICU).
// Returns <0, 0 or >0. Texts are bytes; a strict weak order over all of them: between texts
// the collator finds equal, valid UTF-8 stays equal, comes before invalid UTF-8, and invalid
// texts compare by their bytes (ASCII letters folded), so different broken names never
// compare equal by accident. Raises std::bad_alloc when the collator runs out of memory.
int compareTextIgnoreCase(std::string_view a, std::string_view b);

// Appends to `keys` the sort key of `text`: bytes whose plain order (byte by byte as unsigned,
// a key that is the start of another first) is the order of compareTextIgnoreCase, and
// equal exactly when it returns 0. Sorting by keys costs one collation per text instead of one
// per comparison. False, with nothing appended, for a text of 2 GiB or more. Raises
// std::bad_alloc when memory runs out.
bool appendSortKey(std::string_view text, std::string& keys);

}  // namespace pelmora::platform
