#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace pelmora::platform {

std::size_t lastDelimiter(std::string_view path) {
    return path.rfind('/');
}

std::string_view directoryPart(std::string_view path) {
    const std::size_t i = lastDelimiter(path);
    return i == std::string_view::npos ? std::string_view{} : path.substr(0, i + 1);
}

std::string_view bareName(std::string_view path) {
    const std::size_t i = lastDelimiter(path);
    return i == std::string_view::npos ? path : path.substr(i + 1);
}

std::string replaceExtension(std::string_view name, std::string_view ext) {
    std::string out(name);
    const std::size_t i = out.find_last_of("./");
    if (i != std::string::npos && out[i] == '.') out.erase(i);
    out.append(ext);
    return out;
}

std::string joinPattern(std::string_view dir, std::string_view mask) {
    std::string out(dir);
    if (out.empty() || !isPathDelimiter(out.back())) out.push_back('/');
    out.append(mask);
    return out;
}

std::string programPath() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::string programDirectory() {
    return std::string(directoryPart(programPath()));
}

std::string currentDirectory() {
    std::vector<char> buf(PATH_MAX + 1);
    while (getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data());
}

std::string expandFileName(std::string_view path) {
    std::string full;
    if (path.empty() || !isPathDelimiter(path.front())) {
        full = currentDirectory();
        full.push_back('/');
    }
    full.append(path);

    std::vector<std::string_view> parts;
    std::string_view rest(full);
    while (!rest.empty()) {
        const std::size_t i = rest.find('/');
        const std::string_view part = rest.substr(0, i);
        rest = i == std::string_view::npos ? std::string_view{} : rest.substr(i + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (std::string_view p : parts) {
        out.push_back('/');
        out.append(p);
    }
    return out.empty() ? std::string("/") : out;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace pelmora::platform
