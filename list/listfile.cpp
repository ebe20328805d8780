#include "list/listfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ioerror.h"
#include "platform/paths.h"
#include "platform/replacefile.h"
#include "platform/uniquefd.h"

namespace pelmora::list {

using platform::PelmoraError;

bool isDefaultListName(std::string_view path) {
    const std::string_view bare = platform::bareName(path);
    if (bare.size() != kDefaultListName.size()) return false;
    for (std::size_t i = 0; i < bare.size(); ++i) {
        char c = bare[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kDefaultListName[i]) return false;
    }
    return true;
}

namespace {

// The one reading of the line rule: calls line(offset, size) for each line of `data`.
template <typename F>
std::size_t forEachLine(std::string_view data, F&& line) {
    const std::size_t end = std::min(data.find('\0'), data.size());
    std::size_t p = 0, lines = 0;
    while (p < end) {
        const std::size_t start = p;
        while (p < end && data[p] != '\r' && data[p] != '\n') ++p;
        line(start, p - start);
        ++lines;
        if (p < end && data[p] == '\r') ++p;
        if (p < end && data[p] == '\n') ++p;
    }
    return lines;
}

}  // namespace

std::vector<std::string> parseListText(std::string_view data) {
    std::vector<std::string> lines;
    forEachLine(data,
                [&](std::size_t at, std::size_t n) { lines.emplace_back(data.substr(at, n)); });
    return lines;
}

std::vector<WatchedList::TextLine> cutListText(std::string_view data) {
    // Counted first, so that the places take exactly the memory they need.
    std::vector<WatchedList::TextLine> lines;
    lines.reserve(forEachLine(data, [](std::size_t, std::size_t) {}));
    forEachLine(data, [&](std::size_t at, std::size_t n) {
        // A line too long for the list keeps a size above its limit and is refused there.
        const std::size_t size = std::min<std::size_t>(n, WatchedList::kMaxEntrySize + 1);
        lines.push_back({at, static_cast<std::uint32_t>(size)});
    });
    return lines;
}

std::string formatListText(const std::vector<std::string>& entries) {
    std::size_t size = 0;
    for (const std::string& e : entries) size += e.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& e : entries) {
        text += e;
        text += "\r\n";
    }
    return text;
}

namespace {

[[noreturn]] void cannotOpen(const std::string& path) {
    throw PelmoraError("Cannot open file " + path);
}
[[noreturn]] void cannotCreate(const std::string& path) {
    throw PelmoraError("Cannot create file " + path);
}

// The whole file, up to its first byte 0 (nothing after one counts).
std::string readListData(const std::string& path) {
    // Non-blocking, so that a fifo given as a list cannot hang the open.
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) cannotOpen(path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) cannotOpen(path);

    // Read straight into the text, in one piece when the size holds (a file that grows on the
    // way is read to its end).
    std::string data;
    if (platform::readAll(fd.get(), data, static_cast<std::size_t>(st.st_size)) != 0)
        cannotOpen(path);
    if (const std::size_t nul = data.find('\0'); nul != std::string::npos) data.resize(nul);
    return data;
}

}  // namespace

void loadList(WatchedList& list, const std::string& path) {
    std::string data = readListData(path);
    std::vector<WatchedList::TextLine> lines = cutListText(data);
    list.replaceAll(std::move(data), std::move(lines));
}

void saveList(const WatchedList& list, const std::string& path) {
    platform::ReplacementFile file(path);
    try {
        // Written in blocks from the entries, so that a big list is not held twice in memory.
        constexpr std::size_t kBlock = 64 * 1024;
        std::string block;
        block.reserve(kBlock);
        const int n = list.count();
        for (int i = 0; i < n; ++i) {
            const std::string_view entry = list.at(i);
            if (block.size() + entry.size() + 2 > kBlock && !block.empty()) {
                file.write(block);
                block.clear();
            }
            if (entry.size() + 2 > kBlock) {
                file.write(entry);
                file.write("\r\n");
                continue;
            }
            block += entry;
            block += "\r\n";
        }
        file.write(block);
        file.commit();
    } catch (const platform::ReplaceError& e) {
        if (e.step() == platform::ReplaceError::Step::Rename) cannotCreate(path);
        throw PelmoraError("Stream write error");
    }
}

}  // namespace pelmora::list
