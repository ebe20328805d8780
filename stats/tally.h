// What a count adds up, shared by its one-thread and its threaded walk (not for other callers).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "platform/dir.h"
#include "stats/real48.h"

namespace pelmora::stats::detail {

// Every whole number up to 2^40 is a Real48, so sums that stay at most this large never round.
constexpr unsigned __int128 kExactLimit = static_cast<unsigned __int128>(1) << 40;

// Sums sizes as ByteTotal does (Real48, one rounding after each addition), with integer
// additions as long as the total stays at most 2^40, where the two are the same.
class ByteSum {
  public:
    void add(std::int64_t size) {
        if (!m_rounding) {
            if (size >= 0 && m_exact + static_cast<std::uint64_t>(size) <= kExactLimit) {
                m_exact += static_cast<std::uint64_t>(size);
                return;
            }
            m_total = Real48::fromInt(static_cast<std::int64_t>(m_exact));
            m_rounding = true;
        }
        m_total += Real48::fromInt(size);
    }
    Real48 total() const {
        return m_rounding ? m_total : Real48::fromInt(static_cast<std::int64_t>(m_exact));
    }

  private:
    unsigned __int128 m_exact = 0;
    bool m_rounding = false;
    Real48 m_total;
};

// Allocated bytes (st_blocks x 512), a file with several links counted once. Directories cannot
// be linked twice, so only other entries are remembered.
class AllocationSum {
  public:
    void add(const platform::EntryStat& st) {
        const std::uint64_t bytes = st.blocks * 512;
        if (st.links > 1 && !S_ISDIR(st.mode))
            m_linked.emplace(Key{st.id.inode, st.id.devMajor, st.id.devMinor}, bytes);
        else
            m_sum += bytes;
    }
    // Adds what `other` found; a file both found is counted once.
    void merge(const AllocationSum& other) {
        m_sum += other.m_sum;
        for (const auto& [key, bytes] : other.m_linked) m_linked.emplace(key, bytes);
    }
    void clear() {
        m_sum = 0;
        m_linked.clear();
    }
    std::uint64_t total() const {
        std::uint64_t t = m_sum;
        for (const auto& entry : m_linked) t += entry.second;
        return t;
    }

  private:
    struct Key {
        std::uint64_t inode;
        std::uint32_t devMajor;
        std::uint32_t devMinor;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            return std::hash<std::uint64_t>()(k.inode ^ (std::uint64_t{k.devMajor} << 40) ^
                                              (std::uint64_t{k.devMinor} << 20));
        }
    };
    std::uint64_t m_sum = 0;
    std::unordered_map<Key, std::uint64_t, KeyHash> m_linked;
};

// The path a directory's error names: its walk prefix ("start/" or "start/a/b/") without the
// trailing '/'; "/" stays "/", and an empty prefix (the current directory) is ".".
inline std::string_view pathOfPrefix(std::string_view prefix) {
    if (prefix.size() > 1 && prefix.back() == '/') prefix.remove_suffix(1);
    return prefix.empty() ? std::string_view(".") : prefix;
}

}  // namespace pelmora::stats::detail
