#include "list/watchedlist.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/ioerror.h"
#include "platform/locale.h"

// Why the binary searches are exact.
//
// compareTextIgnoreCase is a strict weak order over all byte strings (the collator's order,
// then, between texts it finds equal, valid UTF-8 before broken and broken texts by their
// bytes). Every insertion is an upper-bound search, so the list is always sorted by it, and a
// lower-bound search finds the first equal entry exactly where a scan from index 0 would.
// Loading sorts once, by sort keys that order the texts exactly as that comparison does, with
// the line's place in the file as the last key: the order of a stable sort, which is the order
// of inserting the lines one by one after their equals.

namespace pelmora::list {

std::string ListFileName;
bool ListModified = false;

namespace {

constexpr std::uint64_t kMinBlock = 64 * 1024;

int compare(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    return platform::compareTextIgnoreCase(a, b);
}

using TextLine = WatchedList::TextLine;

// Sorts by the sort keys of the texts: one collation per line, then byte comparisons. The
// keys take about the text's size again while the sort runs; the line's index in `lines` is
// the last key, so the order is that of a stable sort. Raises std::bad_alloc when the keys do
// not fit in memory, or hold 4 GiB or more.
void sortByKeys(const char* bytes, std::vector<TextLine>& lines) {
    const std::size_t n = lines.size();
    std::uint64_t textBytes = 0;
    for (const TextLine& line : lines) textBytes += line.size;
    std::string keys;
    keys.reserve(textBytes + textBytes / 4 + 8 * n);
    std::vector<std::uint32_t> keyEnd(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t offset = lines[i].offset;
        if (!platform::appendSortKey({bytes + offset, lines[i].size}, keys) ||
            keys.size() > UINT32_MAX)
            throw std::bad_alloc();
        keyEnd[i] = static_cast<std::uint32_t>(keys.size());
    }
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    const unsigned char* k = reinterpret_cast<const unsigned char*>(keys.data());
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const std::uint32_t sa = a == 0 ? 0 : keyEnd[a - 1], la = keyEnd[a] - sa;
        const std::uint32_t sb = b == 0 ? 0 : keyEnd[b - 1], lb = keyEnd[b] - sb;
        const int c = std::memcmp(k + sa, k + sb, std::min(la, lb));
        if (c != 0) return c < 0;
        return la != lb ? la < lb : a < b;
    });
    std::string().swap(keys);
    std::vector<std::uint32_t>().swap(keyEnd);
    // Puts line order[j] at j, cycle by cycle, without a second array of lines.
    for (std::size_t i = 0; i < n; ++i) {
        if (order[i] == i) continue;
        const TextLine first = lines[i];
        std::size_t j = i;
        for (;;) {
            const std::size_t from = order[j];
            order[j] = static_cast<std::uint32_t>(j);
            if (from == i) {
                lines[j] = first;
                break;
            }
            lines[j] = lines[from];
            j = from;
        }
    }
}

// Sorts `lines`, whose offsets into `bytes` rise in their order, as inserting them one by one
// after their equals would.
void sortLines(const char* bytes, std::vector<TextLine>& lines) {
    if (lines.size() < 2) return;  // sorted as it is, and no key (twice a long line) is made
    try {
        sortByKeys(bytes, lines);
        return;
    } catch (const std::bad_alloc&) {
        // No room for the keys: comparing the texts themselves needs no memory beside them.
    }
    std::sort(lines.begin(), lines.end(), [bytes](const TextLine& a, const TextLine& b) {
        const std::uint64_t ao = a.offset, bo = b.offset;
        const int c = compare({bytes + ao, a.size}, {bytes + bo, b.size});
        return c != 0 ? c < 0 : ao < bo;
    });
}

[[noreturn]] void outOfBounds() {
    throw platform::PelmoraError("List index out of bounds");
}
[[noreturn]] void cannotInsert() {
    throw platform::PelmoraError("Unable to insert a line");
}

}  // namespace

std::string_view WatchedList::view(const TextLine& slot) const {
    const std::uint32_t size = slot.size;
    if (size == 0) return {};
    const std::uint64_t offset = slot.offset;
    auto block = m_blocks.begin();
    if (m_blocks.size() > 1) {
        block = std::upper_bound(m_blocks.begin(), m_blocks.end(), offset,
                                 [](std::uint64_t o, const Block& b) { return o < b.base; });
        --block;
    }
    return {block->bytes.data() + (offset - block->base), size};
}

std::string WatchedList::get(int index) const {
    return std::string(at(index));
}

std::string_view WatchedList::at(int index) const {
    if (index < 0 || index >= count()) outOfBounds();
    return view(m_slots[static_cast<std::size_t>(index)]);
}

const std::vector<std::string>& WatchedList::entries() const {
    if (!m_copyValid) {
        std::vector<std::string> copy;
        copy.reserve(m_slots.size());
        for (const TextLine& slot : m_slots) copy.emplace_back(view(slot));
        m_copy = std::move(copy);
        m_copyValid = true;
    }
    return m_copy;
}

void WatchedList::changed() {
    if (m_copyValid) {
        m_copy.clear();
        m_copy.shrink_to_fit();
        m_copyValid = false;
    }
}

int WatchedList::indexOf(std::string_view text) const {
    std::size_t lo = 0, hi = m_slots.size();  // first entry not less than `text`
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (compare(view(m_slots[mid]), text) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < m_slots.size() && compare(view(m_slots[lo]), text) == 0) return static_cast<int>(lo);
    return -1;
}

std::size_t WatchedList::upperBound(std::string_view text) const {
    std::size_t lo = 0, hi = m_slots.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (compare(text, view(m_slots[mid])) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

std::uint64_t WatchedList::store(std::string_view text) {
    std::uint64_t used = 0;
    if (!m_blocks.empty()) {
        Block& last = m_blocks.back();
        if (last.bytes.size() + text.size() <= last.capacity) {
            const std::uint64_t offset = last.base + last.bytes.size();
            last.bytes.append(text);  // within the reserve: nothing moves
            return offset;
        }
        used = last.base + last.capacity;
    }
    // Blocks grow with the list, so that there are few of them.
    Block block;
    block.base = used;
    block.capacity = std::max<std::uint64_t>({kMinBlock, text.size(), used / 4});
    block.bytes.reserve(block.capacity);
    block.bytes.append(text);
    m_blocks.push_back(std::move(block));
    return used;
}

int WatchedList::add(std::string_view text) {
    if (count() >= m_maxCount || text.size() > kMaxEntrySize) cannotInsert();
    const std::size_t index = upperBound(text);
    const auto at = m_slots.begin() + static_cast<std::ptrdiff_t>(index);
    try {
        // The slot first, so that a failure to store the bytes can take it out again.
        const auto slot = m_slots.insert(at, TextLine{0, 0});
        try {
            if (!text.empty()) slot->offset = store(text);
        } catch (...) {
            m_slots.erase(slot);
            throw;
        }
        slot->size = static_cast<std::uint32_t>(text.size());
    } catch (const std::bad_alloc&) {
        cannotInsert();
    } catch (const std::length_error&) {
        cannotInsert();
    }
    m_liveBytes += text.size();
    changed();
    if (onInserted) onInserted(static_cast<int>(index));
    return static_cast<int>(index);
}

void WatchedList::remove(int index) {
    if (index < 0 || index >= count()) outOfBounds();
    const auto it = m_slots.begin() + index;
    m_liveBytes -= it->size;
    m_deadBytes += it->size;
    m_slots.erase(it);
    changed();
    compactIfWasteful();
    if (onRemoved) onRemoved(index);
}

void WatchedList::compactIfWasteful() {
    if (m_deadBytes < kMinBlock * 16 || m_deadBytes < m_liveBytes) return;
    try {
        Block block;
        block.capacity = m_liveBytes;
        block.bytes.reserve(m_liveBytes);
        std::vector<TextLine> slots = m_slots;
        for (TextLine& slot : slots) {
            const std::string_view text = view(slot);
            slot.offset = block.bytes.size();
            block.bytes.append(text);
        }
        m_blocks.clear();
        m_blocks.push_back(std::move(block));
        m_slots = std::move(slots);
        m_deadBytes = 0;
    } catch (const std::bad_alloc&) {
        // Keeps the waste; the entries are all still there.
    }
}

void WatchedList::clear() {
    std::vector<Block>().swap(m_blocks);
    std::vector<TextLine>().swap(m_slots);
    m_liveBytes = 0;
    m_deadBytes = 0;
    changed();
    if (onReset) onReset();
}

void WatchedList::adopt(std::vector<Block> blocks, std::vector<TextLine> lines, std::size_t taken) {
    const bool full = taken < lines.size();
    lines.resize(taken);
    std::uint64_t live = 0;
    for (const TextLine& line : lines) live += line.size;
    sortLines(blocks.empty() ? nullptr : blocks.front().bytes.data(), lines);
    m_blocks = std::move(blocks);
    m_slots = std::move(lines);
    m_liveBytes = live;
    m_deadBytes = 0;
    changed();
    if (onReset) onReset();
    if (full) cannotInsert();
}

void WatchedList::replaceAll(const std::vector<std::string>& lines) {
    std::size_t taken = 0;
    std::uint64_t total = 0;
    while (taken < lines.size() && taken < static_cast<std::size_t>(m_maxCount) &&
           lines[taken].size() <= kMaxEntrySize)
        total += lines[taken++].size();
    std::vector<Block> blocks(1);
    blocks[0].capacity = total;
    blocks[0].bytes.reserve(total);
    std::vector<TextLine> slots;
    slots.reserve(lines.size());
    for (std::size_t i = 0; i < taken; ++i) {
        slots.push_back({blocks[0].bytes.size(), static_cast<std::uint32_t>(lines[i].size())});
        blocks[0].bytes += lines[i];
    }
    // The lines the list cannot take are counted, so that adopt() reports them.
    slots.resize(lines.size(), TextLine{0, 0});
    adopt(std::move(blocks), std::move(slots), taken);
}

void WatchedList::replaceAll(std::string text, std::vector<TextLine> lines) {
    std::size_t taken = 0;
    while (taken < lines.size() && taken < static_cast<std::size_t>(m_maxCount) &&
           lines[taken].size <= kMaxEntrySize)
        ++taken;
    std::vector<Block> blocks(1);
    blocks[0].capacity = text.size();
    blocks[0].bytes = std::move(text);
    adopt(std::move(blocks), std::move(lines), taken);
}

void WatchedList::setMaxCount(int max) {
    m_maxCount = std::clamp(max, 0, kMaxEntries);
}

}  // namespace pelmora::list
