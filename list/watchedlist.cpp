#include "list/watchedlist.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/ioerror.h"
#include "platform/locale.h"

// Why the binary searches are safe.
//
// compareTextIgnoreCase is the ICU collator (a strict weak order, like comparing sort keys),
// except that between two texts the collator finds equal, one of them not valid UTF-8, it
// decides by the bytes. So "less" by that comparison implies "not greater" by the collator.
// Every insertion is an upper-bound binary search whose two final neighbours were both
// compared with the new text, hence the list stays sorted by the collator whatever it holds.
//
// When neither the list nor the wanted text holds broken UTF-8, the comparison is the
// collator itself, and a lower-bound search finds the first equal entry exactly where a scan
// from index 0 would. Otherwise the byte rule can make the comparison intransitive within one
// collation class, so indexOf falls back to the scan; such names are rare.

namespace pelmora::list {

std::string ListFileName;
bool ListModified = false;

namespace {

bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const auto n = static_cast<int32_t>(std::min<std::size_t>(s.size(), INT32_MAX));
    int32_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) return false;
    }
    return true;
}

int compare(std::string_view a, std::string_view b) {
    return platform::compareTextIgnoreCase(a, b);
}

[[noreturn]] void outOfBounds() {
    throw platform::PelmoraError("List index out of bounds");
}
[[noreturn]] void cannotInsert() {
    throw platform::PelmoraError("Unable to insert a line");
}

}  // namespace

const std::string& WatchedList::get(int index) const {
    if (index < 0 || index >= count()) outOfBounds();
    return m_entries[static_cast<std::size_t>(index)];
}

int WatchedList::indexOf(std::string_view text) const {
    const int n = count();
    if (m_nonUtf8 == 0 && validUtf8(text)) {
        int lo = 0, hi = n;  // first entry not less than `text`
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (compare(m_entries[static_cast<std::size_t>(mid)], text) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo < n && compare(m_entries[static_cast<std::size_t>(lo)], text) == 0) return lo;
        return -1;
    }
    for (int i = 0; i < n; ++i)
        if (compare(m_entries[static_cast<std::size_t>(i)], text) == 0) return i;
    return -1;
}

int WatchedList::upperBound(std::string_view text) const {
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (compare(text, m_entries[static_cast<std::size_t>(mid)]) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void WatchedList::insertAt(int index, std::string text) {
    if (count() >= m_maxCount) cannotInsert();
    const bool valid = validUtf8(text);
    try {
        m_entries.insert(m_entries.begin() + index, std::move(text));
    } catch (const std::bad_alloc&) {
        cannotInsert();
    } catch (const std::length_error&) {
        cannotInsert();
    }
    if (!valid) ++m_nonUtf8;
}

int WatchedList::add(std::string text) {
    const int index = upperBound(text);
    insertAt(index, std::move(text));
    if (onInserted) onInserted(index);
    return index;
}

void WatchedList::remove(int index) {
    if (index < 0 || index >= count()) outOfBounds();
    const auto it = m_entries.begin() + index;
    if (!validUtf8(*it)) --m_nonUtf8;
    m_entries.erase(it);
    if (onRemoved) onRemoved(index);
}

void WatchedList::clear() {
    m_entries.clear();
    m_nonUtf8 = 0;
    if (onReset) onReset();
}

void WatchedList::replaceAll(std::vector<std::string> lines) {
    m_entries.clear();
    m_nonUtf8 = 0;
    bool full = false;
    if (lines.size() > static_cast<std::size_t>(m_maxCount)) {
        lines.resize(static_cast<std::size_t>(m_maxCount));
        full = true;
    }
    const bool allValid =
        std::all_of(lines.begin(), lines.end(), [](const std::string& s) { return validUtf8(s); });
    try {
        if (allValid) {
            // With a strict order, a stable sort places every line exactly where inserting
            // the lines one by one after their equals would, without moving the list n times.
            std::stable_sort(
                lines.begin(), lines.end(),
                [](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
            m_entries = std::move(lines);
        } else {
            for (std::string& line : lines) {
                const int index = upperBound(line);
                insertAt(index, std::move(line));
            }
        }
    } catch (...) {
        if (onReset) onReset();
        throw;
    }
    if (onReset) onReset();
    if (full) cannotInsert();
}

void WatchedList::setMaxCount(int max) {
    m_maxCount = std::clamp(max, 0, kMaxEntries);
}

}  // namespace pelmora::list
