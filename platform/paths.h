// Path texts as the kernel gives them: raw bytes, '/' as the only delimiter.
#pragma once

#include <string>
#include <string_view>

namespace pelmora::platform {

// True for the one character that separates path components.
constexpr bool isPathDelimiter(char c) {
    return c == '/';
}

// The one rule for hidden names: a name beginning with '.' ("." and ".." included). Such an
// entry is never counted, a directory so named is never entered, and the navigator and Add
// Subdirectories leave it out.
constexpr bool isHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

// Index of the last delimiter in `path`, or npos when there is none.
std::size_t lastDelimiter(std::string_view path);

// Everything up to and including the last delimiter ("" when there is none).
std::string_view directoryPart(std::string_view path);

// Everything after the last delimiter (the whole text when there is none).
std::string_view bareName(std::string_view path);

// Searches `name` from its end for the last '.' or delimiter; when that character is a '.',
// drops it and everything after it. Then appends `ext` (which includes its dot).
std::string replaceExtension(std::string_view name, std::string_view ext);

// The separator rule: `dir` + "/" + `mask`, without a second "/" when `dir` already ends in one.
std::string joinPattern(std::string_view dir, std::string_view mask);

// The running executable's real path (from /proc/self/exe), and its directory with a
// trailing '/'. Empty when the kernel cannot tell.
std::string programPath();
std::string programDirectory();

// The process's current directory as the kernel reports it; empty on failure.
std::string currentDirectory();

// Makes `path` absolute against the current directory and removes "." and ".." components
// and doubled delimiters lexically. A root stays "/"; nothing else keeps a trailing '/'.
std::string expandFileName(std::string_view path);

// True when `path` names an existing entry that is not a directory (symlinks are followed).
bool fileExists(const std::string& path);

}  // namespace pelmora::platform
