// The watched list: directory texts kept sorted by the locale's case-insensitive collation,
// plus the process-wide list-file state.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::list {

// Entries are bytes. The order is platform::compareTextIgnoreCase, a strict weak order over
// all byte strings; an entry is inserted after the entries that compare equal to it, so a
// loaded file keeps its own order among them. Searches are binary (O(log n) comparisons);
// equality means that comparison returns 0.
//
// The entries' bytes live in a few large blocks, each entry costing 12 bytes beside its text,
// so that a list of millions of short lines stays small; a loaded file's text is kept as it
// was read, line ends included.
class WatchedList {
  public:
    // The most entries a list holds; one more fails with "Unable to insert a line".
    static constexpr int kMaxEntries = INT_MAX - 1;
    // The longest entry, in bytes (what the collator can compare in one piece).
    static constexpr std::size_t kMaxEntrySize = INT32_MAX - 1;

    // Where one line lies in a text handed to replaceAll whole.
    struct __attribute__((packed, aligned(4))) TextLine {
        std::uint64_t offset;
        std::uint32_t size;
    };

    int count() const { return static_cast<int>(m_slots.size()); }
    // The entry at `index`, copied; raises PelmoraError("List index out of bounds") outside
    // the list.
    std::string get(int index) const;
    // The same without a copy; valid until the list next changes.
    std::string_view at(int index) const;
    // First entry equal to `text` under the case-insensitive locale comparison, or -1: always
    // the index a scan from 0 upward would find, also when the list holds equal entries.
    int indexOf(std::string_view text) const;
    // Inserts `text` at its sorted place (after the entries equal to it) and returns its index.
    // Raises PelmoraError("Unable to insert a line") when the list cannot take another entry
    // (full, out of memory, or a text longer than kMaxEntrySize).
    int add(std::string_view text);
    // Removes the entry at `index`; raises "List index out of bounds" outside the list.
    void remove(int index);
    void clear();
    // Replaces the contents by `lines`, each placed as add() would place it, one after the
    // other (a single stable sort). When the list fills up, the lines taken so far (the first
    // maxCount()) stay and "Unable to insert a line" is raised. One onReset at the end instead
    // of one onInserted per line. Any other failure (out of memory) leaves the list as it was.
    void replaceAll(const std::vector<std::string>& lines);
    // The same for lines that lie in `text` (in the order given, offsets rising), without
    // copying them: the list keeps `text` as the store of their bytes. A line longer than
    // kMaxEntrySize counts as one the list cannot take.
    void replaceAll(std::string text, std::vector<TextLine> lines);
    // Every entry in order, as texts: a copy made on the first call after a change and kept
    // until the next one (for small lists and tests; at() gives a view at no cost).
    const std::vector<std::string>& entries() const;

    // Lowers the entry limit (tests use a small one); clamped to 0..kMaxEntries.
    void setMaxCount(int max);
    int maxCount() const { return m_maxCount; }

    // Observers, for the view that shows the list (called after the change).
    std::function<void(int index)> onInserted;
    std::function<void(int index)> onRemoved;
    std::function<void()> onReset;

  private:
    // A block of entry bytes; offsets are counted across the blocks, each starting at `base`.
    struct Block {
        std::uint64_t base = 0;
        std::uint64_t capacity = 0;  // reserved: bytes are appended, never moved
        std::string bytes;
    };

    std::string_view view(const TextLine& slot) const;
    std::size_t upperBound(std::string_view text) const;
    std::uint64_t store(std::string_view text);
    void compactIfWasteful();
    // Sorts the first `taken` lines of `lines`, whose offsets rise in their given order, and
    // makes them the contents.
    void adopt(std::vector<Block> blocks, std::vector<TextLine> lines, std::size_t taken);

    std::vector<Block> m_blocks;
    std::vector<TextLine> m_slots;  // in list order
    void changed();                 // drops the copy entries() made

    mutable std::vector<std::string> m_copy;
    mutable bool m_copyValid = false;
    std::uint64_t m_liveBytes = 0;  // bytes of the entries
    std::uint64_t m_deadBytes = 0;  // bytes of removed entries still in the blocks
    int m_maxCount = kMaxEntries;
};

// The current list file's full path and whether the list changed since it was last cleared,
// loaded or saved: mirrors of the main window's list, defined here and written only by the
// window (TForm1: FormCreate in ui/Unit1.cpp and the list commands in ui/Unit1Files.cpp).
extern std::string ListFileName;
extern bool ListModified;

}  // namespace pelmora::list
