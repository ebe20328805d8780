#include "tests/support/TempTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <set>
#include <stdexcept>
#include <vector>

namespace pelmora::test {

TempTree::TempTree() {
    const char* base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pelmora-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = templ;
}

TempTree::~TempTree() {
    removeTree(m_root);
}

bool removeTree(const std::string& root) {
    // Works through descriptors, never through path texts, so that no depth is too deep: one
    // directory open at a time, the names of the way down kept, and each directory removed
    // from its parent once it is empty. Directories are made writable and searchable before
    // they are entered; a name that cannot be removed (a mount point) is passed over.
    struct stat rootStat {};
    if (::lstat(root.c_str(), &rootStat) != 0) return errno == ENOENT;
    if (!S_ISDIR(rootStat.st_mode)) return ::unlink(root.c_str()) == 0;
    ::chmod(root.c_str(), (rootStat.st_mode & 07777) | 0700);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;

    struct Level {
        std::string name;            // of this directory in its parent
        std::set<std::string> kept;  // of entries below it that could not be removed
    };
    std::vector<Level> way{{"", {}}};  // way.back() is the directory `fd` refers to
    bool complete = true;
    while (fd >= 0) {
        // Removes what is not a directory; stops at the first directory to go into.
        std::string down;
        const int listed = ::dup(fd);
        DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (d == nullptr) {
            if (listed >= 0) ::close(listed);
        } else {
            while (dirent* e = ::readdir(d)) {
                const std::string n = e->d_name;
                if (n == "." || n == ".." || way.back().kept.count(n) != 0) continue;
                struct stat st {};
                if (::fstatat(fd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                if (S_ISDIR(st.st_mode)) {
                    ::fchmodat(fd, n.c_str(), (st.st_mode & 07777) | 0700, 0);
                    down = n;
                    break;
                }
                if (::unlinkat(fd, n.c_str(), 0) != 0) {
                    way.back().kept.insert(n);
                    complete = false;
                }
            }
            ::closedir(d);
        }
        if (!down.empty()) {
            const int sub =
                ::openat(fd, down.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                ::close(fd);
                fd = sub;
                way.push_back({down, {}});
                continue;
            }
            way.back().kept.insert(down);
            complete = false;
            continue;
        }
        // Nothing left to go into: up one level, and this directory goes.
        if (way.size() == 1) {
            ::close(fd);
            fd = -1;
            break;
        }
        const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        const std::string name = way.back().name;
        way.pop_back();
        if (fd < 0) return false;
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) {
            way.back().kept.insert(name);
            complete = false;
        }
    }
    return ::rmdir(root.c_str()) == 0 && complete;
}

std::string TempTree::path(const std::string& relative) const {
    return m_root + "/" + relative;
}

std::string TempTree::dir(const std::string& relative) const {
    std::string p = m_root;
    std::stringstream parts(relative);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        p += "/" + part;
        ::mkdir(p.c_str(), 0755);
    }
    return p;
}

std::string TempTree::file(const std::string& relative, long long size) const {
    const std::string p = path(relative);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + p);
    if (size > 0) {
        if (::ftruncate(fd, size) != 0) {
            ::close(fd);
            throw std::runtime_error("cannot size " + p);
        }
    }
    ::close(fd);
    return p;
}

std::string TempTree::write(const std::string& relative, const std::string& content) const {
    const std::string p = path(relative);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    return p;
}

std::string TempTree::symlink(const std::string& relative, const std::string& target) const {
    const std::string p = path(relative);
    if (::symlink(target.c_str(), p.c_str()) != 0) throw std::runtime_error("symlink " + p);
    return p;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
        --n;  // the one opendir holds
    }
    return n;
}

}  // namespace pelmora::test
