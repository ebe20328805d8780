#include "tests/support/TempTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pelmora::test {

TempTree::TempTree() {
    const char* base = std::getenv("TMPDIR");
    std::string templ =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pelmora-test-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = templ;
}

TempTree::~TempTree() {
    // Make everything writable again so that nothing stops the removal.
    nftw(
        m_root.c_str(),
        [](const char* p, const struct stat* st, int type, FTW*) {
            if (type == FTW_D || type == FTW_DNR) chmod(p, (st->st_mode & 07777) | 0700);
            return 0;
        },
        64, FTW_PHYS);
    nftw(
        m_root.c_str(),
        [](const char* p, const struct stat*, int, FTW*) { return ::remove(p) == 0 ? 0 : 0; }, 64,
        FTW_DEPTH | FTW_PHYS);
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
