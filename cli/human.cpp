#include "cli/human.h"

namespace pelmora::cli {

namespace {

std::string digits(unsigned __int128 v) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

// n / d rounded up.
unsigned __int128 ceilDiv(unsigned __int128 n, unsigned __int128 d) {
    return n / d + (n % d != 0 ? 1 : 0);
}

}  // namespace

std::string humanSize(unsigned __int128 bytes, unsigned base) {
    static constexpr char kUnits[] = "KMGTPEZYRQ";
    constexpr int kLast = sizeof kUnits - 2;
    if (bytes < base) return digits(bytes);
    // The largest unit that is at most `bytes`.
    int unit = 0;
    unsigned __int128 scale = base;
    while (unit < kLast && bytes / scale >= base) {
        scale *= base;
        ++unit;
    }
    const auto letter = [&](int u) {
        return std::string(1, base == 1000 && u == 0 ? 'k' : kUnits[u]);
    };
    if (bytes / scale < 10) {
        // Tenths rounded up; 10.0 is written as a whole number.
        const unsigned __int128 tenths = ceilDiv(bytes * 10, scale);
        if (tenths < 100) return digits(tenths / 10) + "." + digits(tenths % 10) + letter(unit);
        return "10" + letter(unit);
    }
    const unsigned __int128 whole = ceilDiv(bytes, scale);
    if (whole == base && unit < kLast) return "1.0" + letter(unit + 1);
    return digits(whole) + letter(unit);
}

}  // namespace pelmora::cli
