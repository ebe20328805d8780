// The mask matcher against a plain recursive reference: they must agree on every name.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "stats/walker.h"

namespace {

// Dynamic programming over (name prefix, mask prefix): plain, and polynomial in the lengths.
bool reference(std::string_view n, std::string_view m) {
    std::vector<std::vector<char>> match(n.size() + 1, std::vector<char>(m.size() + 1, 0));
    match[0][0] = 1;
    for (std::size_t j = 1; j <= m.size(); ++j) match[0][j] = m[j - 1] == '*' && match[0][j - 1];
    for (std::size_t i = 1; i <= n.size(); ++i) {
        for (std::size_t j = 1; j <= m.size(); ++j) {
            if (m[j - 1] == '*')
                match[i][j] = match[i - 1][j] || match[i][j - 1];
            else
                match[i][j] = (m[j - 1] == '?' || m[j - 1] == n[i - 1]) && match[i - 1][j - 1];
        }
    }
    return match[n.size()][m.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // First byte splits the input into a name and a mask; keep masks short for the reference.
    if (size < 1) return 0;
    const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t cut = std::min<std::size_t>(data[0], all.size());
    const std::string_view name = all.substr(0, cut);
    const std::string_view mask = all.substr(cut, 64);
    const bool got = pelmora::stats::MatchesMask(name, mask);
    const bool want = (mask == "*.*") ? true : reference(name, mask);
    if (got != want) std::abort();
    return 0;
}
