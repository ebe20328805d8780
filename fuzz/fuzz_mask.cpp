// The mask matcher against a plain recursive reference: they must agree on every name.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "stats/walker.h"

namespace {

bool reference(std::string_view n, std::string_view m) {
    if (m.empty()) return n.empty();
    if (m.front() == '*')
        return reference(n, m.substr(1)) || (!n.empty() && reference(n.substr(1), m));
    if (n.empty()) return false;
    return (m.front() == '?' || m.front() == n.front()) && reference(n.substr(1), m.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // First byte splits the input into a name and a mask; keep masks short for the reference.
    if (size < 1) return 0;
    const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t cut = std::min<std::size_t>(data[0], all.size());
    const std::string_view name = all.substr(0, cut);
    const std::string_view mask = all.substr(cut, 24);
    const bool got = pelmora::stats::MatchesMask(name, mask);
    const bool want = (mask == "*.*") ? true : reference(name, mask);
    if (got != want) std::abort();
    return 0;
}
