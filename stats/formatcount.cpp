#include "stats/formatcount.h"

#include <cstdio>

namespace pelmora::stats {

namespace {

std::string group(const std::string& digits, char separator) {
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0 && (n - i) % 3 == 0) out.push_back(separator);
        out.push_back(digits[i]);
    }
    return out;
}

std::string formatDigits(bool negative, const std::string& digits, char separator) {
    if (digits.size() > 18) {
        // Beyond 18 integer digits the general (exponent) form is written.
        // The sign and the digits are joined by appending: GCC 12 warns (-Wrestrict) about the
        // inlined `"-" + string` at -O2.
        std::string number(negative ? "-" : "");
        number += digits;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15E", std::stod(number));
        return buf;
    }
    std::string text(negative ? "-" : "");
    text += group(digits, separator);
    return text;
}

}  // namespace

std::string FormatCount(std::int64_t value, char separator) {
    const bool neg = value < 0;
    const std::uint64_t mag =
        neg ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return formatDigits(neg, std::to_string(mag), separator);
}

std::string FormatCount(Real48 value, char separator) {
    std::string text = value.toFixed0();
    const bool neg = !text.empty() && text[0] == '-';
    if (neg) text.erase(0, 1);
    return formatDigits(neg, text, separator);
}

}  // namespace pelmora::stats
