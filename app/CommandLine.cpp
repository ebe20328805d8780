#include "app/CommandLine.h"

#include <QString>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/locale.h"
#include "platform/paths.h"

namespace pelmora::app {

namespace {

// Characters 1 to 32 separate tokens; byte 0 ends the line. Bytes above 127 are ordinary
// characters, so the test is on the unsigned value.
bool isSeparator(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

// Reads one token from `line` starting at `pos` and moves `pos` past it. With
// `separatorsEnd` false, characters 1 to 32 outside quotes are collected instead of ending
// the token (an argument the desktop has already cut out of its command line).
std::string readToken(std::string_view line, std::size_t& pos, bool separatorsEnd) {
    const std::size_t end = line.size();
    auto at = [&](std::size_t i) { return i < end ? line[i] : '\0'; };

    // Skip separators and pairs of adjacent double quotes.
    for (;;) {
        while (isSeparator(at(pos))) ++pos;
        if (at(pos) == '"' && at(pos + 1) == '"')
            pos += 2;
        else
            break;
    }

    std::string token;
    for (;;) {
        const char c = at(pos);
        if (c == '\0') break;
        if (separatorsEnd && isSeparator(c)) break;
        if (c == '"') {
            ++pos;
            while (at(pos) != '\0' && at(pos) != '"') token.push_back(line[pos++]);
            if (at(pos) == '"') ++pos;  // the closing quote
        } else {
            token.push_back(c);
            ++pos;
        }
    }
    return token;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    for (;;) {
        std::string token = readToken(line, pos, true);
        if (token.empty()) break;
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// The desktop (or the shell) has already cut the command line into argv elements and removed
// its own quoting, so each element is one argument and a space inside it is part of the name
// ("my list" typed in quotes arrives as one element). Each element is read with the token
// rules otherwise unchanged: leading characters 1 to 32 and pairs of adjacent double quotes
// are skipped, a double quote still opens a stretch and is dropped. An element that collects
// nothing (empty, only blanks, or two adjacent quotes) is an empty argument, and the count
// stops there, as it stops at the first empty token of a command line. Arguments of any
// length are kept whole.
std::vector<std::string> programArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string_view element(argv[i]);
        std::size_t pos = 0;
        std::string arg = readToken(element, pos, false);
        if (arg.empty()) break;
        args.push_back(std::move(arg));
    }
    return args;
}

std::string batchListName(std::string_view folder, std::string_view argument) {
    std::string name(argument);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return std::string(folder) + platform::replaceExtension(name, ".PML");
}

namespace {

// Names that differ in letter case only: Unicode case folding for names in UTF-8, ASCII letters
// for other bytes.
bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (platform::validUtf8(a) && platform::validUtf8(b))
        return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
                   .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())),
                            Qt::CaseInsensitive) == 0;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

enum class Lookup { Found, Missing, Ambiguous };

// `path` itself, else the one file in its folder named like it but for letter case.
Lookup lookUp(const std::string& path, std::string& found) {
    if (platform::fileExists(path)) {
        found = path;
        return Lookup::Found;
    }
    const std::string folder(platform::directoryPart(path));
    const std::string_view name = platform::bareName(path);
    std::vector<std::string> matches;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error), end;
         !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().native();
        if (sameIgnoringCase(entry, name) && platform::fileExists(folder + entry))
            matches.push_back(folder + entry);
    }
    if (matches.size() > 1) return Lookup::Ambiguous;
    if (matches.empty()) return Lookup::Missing;
    found = std::move(matches.front());
    return Lookup::Found;
}

}  // namespace

std::string findBatchList(const std::vector<std::string>& folders, std::string_view argument) {
    if (folders.empty()) return batchListName("", argument);
    std::string found;
    for (const std::string& folder : folders) {
        const Lookup result = lookUp(batchListName(folder, argument), found);
        if (result == Lookup::Found) return found;
        if (result == Lookup::Ambiguous) break;
    }
    return batchListName(folders.front(), argument);
}

}  // namespace pelmora::app
