#include "app/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/ioerror.h"
#include "platform/paths.h"
#include "platform/replacefile.h"
#include "platform/uniquefd.h"

namespace pelmora::app {

namespace {

// Opens a folder of the store, creating it and its parents when missing ("opened, created if
// missing"); false when that is not possible.
bool openOrCreateFolder(const std::string& path) {
    std::size_t pos = 0;
    while (pos < path.size()) {
        pos = path.find('/', pos + 1);
        if (pos == std::string::npos) pos = path.size();
        const std::string part = path.substr(0, pos);
        if (part.empty()) continue;
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool readFile(const std::string& path, std::string& out) {
    const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd && platform::readAll(fd.get(), out) == 0;
}

// Replaces `path` with `text` in one step (the file exists or is created; a reader sees the
// old text or the new one); false on any failure.
bool writeFile(const std::string& path, const std::string& text) {
    try {
        platform::ReplacementFile file(path);
        file.write(text);
        file.commit();
        return true;
    } catch (const platform::PelmoraError&) {
        return false;
    }
}

// True when `path` is a folder this process may create entries in, or a folder that does not
// exist yet but could be created (the nearest existing folder above it is writable).
bool canWriteFolder(std::string path) {
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
        if (errno != ENOENT) return false;
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0) return false;
        path.erase(slash);
    }
}

// Creates the file if it is missing (a key with no values): false when it cannot be.
bool createEntry(const std::string& path) {
    return static_cast<bool>(
        platform::UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)));
}

// A desktop-entry string value: backslash, newline, tab and CR escaped.
std::string escapeValue(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The program path as the one word of an Exec= command line: quoted when it holds a reserved
// character, '%' doubled, then escaped as any string value.
std::string execWord(std::string_view path) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    bool quote = path.find_first_of(kReserved) != std::string_view::npos;
    std::string word;
    if (quote) word += '"';
    for (char c : path) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) word += '\\';
        if (c == '%') word += '%';
        word += c;
    }
    if (quote) word += '"';
    return escapeValue(word);
}

// The inverse of escapeValue, for the escapes a desktop entry's string value may hold.
std::string unescapeValue(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                out += s[i];
        }
    }
    return out;
}

// The program an Exec= value starts: its first word, unquoted, with "%%" as "%".
std::string execProgram(std::string_view value) {
    const std::string line = unescapeValue(value);
    std::size_t i = line.find_first_not_of(' ');
    if (i == std::string::npos) return {};
    std::string word;
    if (line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            word += line[i];
        }
    } else {
        word = line.substr(i, line.find(' ', i) - i);
    }
    std::string out;
    for (std::size_t k = 0; k < word.size(); ++k) {
        out += word[k];
        if (word[k] == '%' && k + 1 < word.size() && word[k + 1] == '%') ++k;
    }
    return out;
}

// The value of `key` in the [Desktop Entry] group of an entry's text.
std::optional<std::string> entryValue(std::string_view text, std::string_view key) {
    bool inGroup = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inGroup || eq == std::string_view::npos) continue;
        std::string_view name = line.substr(0, eq);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (name != key) continue;
        std::string_view value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        return std::string(value);
    }
    return std::nullopt;
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

// The real path of the program that an entry's Exec= word starts, looked up below the
// machine-wide root: an absolute path as it stands, a bare name through PATH. Empty when no
// such program exists.
std::string startedProgram(const std::string& root, const std::string& word) {
    if (word.empty()) return {};
    if (word.find('/') != std::string::npos)
        return word.front() == '/' ? realPath(root + word.substr(1)) : std::string();
    const char* env = std::getenv("PATH");
    const std::string path = env != nullptr && *env != '\0'
                                 ? env
                                 : "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t end = path.find(':', at);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(at, end - at);
        at = end + 1;
        if (dir.empty() || dir.front() != '/') continue;
        const std::string candidate = root + dir.substr(1) + "/" + word;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return realPath(candidate);
    }
    return {};
}

// What lies where the program's entry goes: nothing (or something that is not a file, which
// the create step reports), an entry this program wrote, or a file of someone else's.
struct OwnEntry {
    enum Kind { None, Ours, Foreign } kind = None;
    std::string program;  // for Ours: the program's full path, as written (not below the root)
};

OwnEntry inspectEntry(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string text;
    if (!readFile(path, text)) return {OwnEntry::Foreign, {}};
    if (text.empty()) return {OwnEntry::Ours, {}};  // created, never filled
    const std::optional<std::string> exec = entryValue(text, "Exec");
    const std::optional<std::string> dir = entryValue(text, "Path");
    if (exec && dir) {
        const std::string program = execProgram(*exec);
        if (desktopEntryText(program, unescapeValue(*dir)) == text)
            return {OwnEntry::Ours, program};
    }
    return {OwnEntry::Foreign, {}};
}

// True when the program lies where an entry for it would outlive it: below a temporary folder
// of the machine-wide root (tmp, var/tmp, $TMPDIR), or in a CMake build tree (a folder at or
// above the program's holds CMakeCache.txt).
bool inPassingPlace(const std::string& root, const std::string& program) {
    std::vector<std::string> temporary = {root + "tmp", root + "var/tmp"};
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && tmpdir[0] == '/') temporary.push_back(root + (tmpdir + 1));
    for (std::string dir : temporary) {
        while (!dir.empty() && dir.back() == '/') dir.pop_back();
        if (program.size() > dir.size() && program.compare(0, dir.size(), dir) == 0 &&
            program[dir.size()] == '/')
            return true;
    }
    for (std::string dir(platform::directoryPart(program)); !dir.empty();) {
        struct stat st {};
        if (::stat((dir + "CMakeCache.txt").c_str(), &st) == 0) return true;
        dir.pop_back();
        dir = std::string(platform::directoryPart(dir));
    }
    return false;
}

// Calls `visit` with the text of every desktop entry in `dir` and its subfolders, except the
// file `skip` (device and inode).
template <typename Visit>
void forEachEntry(const std::string& dir, const struct stat& skip, int depth, Visit&& visit) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth > 0) forEachEntry(path, skip, depth - 1, visit);
        } else if (S_ISREG(st.st_mode) && name.size() > 8 &&
                   name.compare(name.size() - 8, 8, ".desktop") == 0 &&
                   (st.st_dev != skip.st_dev || st.st_ino != skip.st_ino)) {
            std::string text;
            if (readFile(path, text) && visit(text)) break;
        }
    }
    ::closedir(d);
}

// True when a desktop entry in the application folders below the root (usr/local/share,
// usr/share and those of $XDG_DATA_DIRS), other than `own`, starts `program`.
bool installedEntryStarts(const std::string& root, const std::string& program,
                          const std::string& own) {
    std::vector<std::string> dirs = {root + "usr/local/share/applications",
                                     root + "usr/share/applications"};
    if (const char* env = std::getenv("XDG_DATA_DIRS")) {
        const std::string list = env;
        for (std::size_t at = 0; at < list.size();) {
            std::size_t end = list.find(':', at);
            if (end == std::string::npos) end = list.size();
            std::string dir = list.substr(at, end - at);
            at = end + 1;
            while (!dir.empty() && dir.back() == '/') dir.pop_back();
            if (!dir.empty() && dir.front() == '/')
                dirs.push_back(root + dir.substr(1) + "/applications");
        }
    }
    struct stat ownStat {};
    ::stat(own.c_str(), &ownStat);
    std::vector<std::string> seen;
    bool found = false;
    for (const std::string& dir : dirs) {
        const std::string real = realPath(dir);
        if (real.empty() || std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
        seen.push_back(real);
        forEachEntry(real, ownStat, 2, [&](const std::string& text) {
            const std::optional<std::string> exec = entryValue(text, "Exec");
            found = exec && startedProgram(root, execProgram(*exec)) == program;
            return found;
        });
        if (found) return true;
    }
    return false;
}

}  // namespace

FileRegistry::FileRegistry(std::string root) : m_root(std::move(root)) {
    if (m_root.empty() || m_root.back() != '/') m_root += '/';
}

std::string systemRoot() {
    const char* env = std::getenv("PELMORA_SYSTEM_ROOT");
    std::string root = env != nullptr && *env != '\0' ? env : "/";
    if (root.back() != '/') root += '/';
    return root;
}

std::string desktopEntryText(std::string_view programPath, std::string_view directory) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Pelmora\n";
    text += "Exec=" + execWord(programPath) + "\n";
    text += "Path=" + escapeValue(directory) + "\n";
    return text;
}

bool FileRegistry::WriteRegistryEntries(std::string_view programPath, std::string_view maker,
                                        std::string_view product, std::string_view version) {
    const std::string& root = m_root;
    bool result = true;

    // The maker's key holds the product's key file with its version group.
    const std::string makerDir = root + "etc/xdg/" + std::string(maker);
    if (openOrCreateFolder(makerDir)) {
        const std::string keyFile = makerDir + "/" + std::string(product) + ".conf";
        std::string group = "[";
        group.append(version).append("]");
        std::string text;
        if (!readFile(keyFile, text)) text.clear();
        bool present = false;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            if (text.compare(at, end - at, group) == 0) present = true;
            at = end + 1;
        }
        if (!present) {
            if (!text.empty() && text.back() != '\n') text += '\n';
            text += group + "\n";
            if (!writeFile(keyFile, text))
                throw platform::PelmoraError("Failed to create key " + keyFile);
        }
    } else {
        result = false;
    }

    // The application path: a desktop entry named after the program file. It is written only
    // where it can neither outlive the program nor hide an installed entry: not for a program
    // in a temporary folder or a build tree, not when an installed entry starts this program
    // already, and never over a file this program did not write.
    const std::string appsDir = root + "usr/local/share/applications";
    if (!canWriteFolder(appsDir)) return false;
    const std::string program(programPath);
    const std::string entry = appsDir + "/" + std::string(platform::bareName(program)) + ".desktop";
    const OwnEntry existing = inspectEntry(entry);
    if (existing.kind == OwnEntry::Foreign) return result;
    std::string real = realPath(program);
    if (real.empty()) real = program;
    if (inPassingPlace(root, real) || installedEntryStarts(root, real, entry)) {
        // An entry written earlier goes when it points to this program, to none, or to one
        // that would not get an entry now either.
        if (existing.kind == OwnEntry::Ours) {
            const std::string target = realPath(existing.program);
            if (target.empty() || target == real || inPassingPlace(root, target))
                ::unlink(entry.c_str());
        }
        return result;
    }
    if (!openOrCreateFolder(appsDir)) return false;
    if (!createEntry(entry)) throw platform::PelmoraError("Failed to create key " + entry);
    if (::access(entry.c_str(), W_OK) != 0) return false;
    if (!writeFile(entry, desktopEntryText(program, platform::directoryPart(program))))
        throw platform::PelmoraError("Failed to set data for ''");
    return result;
}

}  // namespace pelmora::app
