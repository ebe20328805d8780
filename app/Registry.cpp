#include "app/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ioerror.h"
#include "platform/paths.h"

namespace pelmora::app {

namespace {

std::string g_root;

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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return n == 0;
}

// Writes `text` to `path` whole (the file exists or is created); false on any failure.
bool writeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0;
}

// Creates the file if it is missing (a key with no values): false when it cannot be.
bool createEntry(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
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

}  // namespace

std::string systemRoot() {
    std::string root = g_root;
    if (root.empty()) {
        const char* env = std::getenv("PELMORA_SYSTEM_ROOT");
        root = env != nullptr && *env != '\0' ? env : "/";
    }
    if (root.back() != '/') root += '/';
    return root;
}

void setSystemRoot(std::string root) {
    g_root = std::move(root);
}

std::string desktopEntryText(std::string_view programPath, std::string_view directory) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Pelmora\n";
    text += "Exec=" + execWord(programPath) + "\n";
    text += "Path=" + escapeValue(directory) + "\n";
    return text;
}

bool WriteRegistryEntries(std::string_view maker, std::string_view product,
                          std::string_view version) {
    const std::string root = systemRoot();
    bool result = true;

    // The maker's key holds the product's key file with its version group.
    const std::string makerDir = root + "etc/xdg/" + std::string(maker);
    if (openOrCreateFolder(makerDir)) {
        const std::string keyFile = makerDir + "/" + std::string(product) + ".conf";
        const std::string group = "[" + std::string(version) + "]";
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

    // The application path: a desktop entry named after the program file.
    const std::string appsDir = root + "usr/local/share/applications";
    if (!openOrCreateFolder(appsDir)) return false;
    const std::string program = platform::programPath();
    const std::string entry = appsDir + "/" + std::string(platform::bareName(program)) + ".desktop";
    if (!createEntry(entry)) throw platform::PelmoraError("Failed to create key " + entry);
    if (::access(entry.c_str(), W_OK) != 0) return false;
    if (!writeFile(entry, desktopEntryText(program, platform::directoryPart(program))))
        throw platform::PelmoraError("Failed to set data for ''");
    return result;
}

}  // namespace pelmora::app
