#include "tests/stats/EngineTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <set>
#include <utility>

namespace enginetest {

namespace {

struct Walk {
    const std::function<bool(const std::string&)>& enter;
    const ReferenceRules& rules;
    dev_t device;
    Reference ref;
    std::set<std::pair<dev_t, ino_t>> seen;

    void entry(const struct stat& st) {
        ref.exactBytes += static_cast<unsigned __int128>(st.st_size);
        ref.foldedBytes =
            round40(ref.foldedBytes + round40(static_cast<unsigned __int128>(st.st_size)));
        if (S_ISDIR(st.st_mode) || st.st_nlink < 2 || seen.insert({st.st_dev, st.st_ino}).second)
            ref.allocated += static_cast<std::uint64_t>(st.st_blocks) * 512;
        if (S_ISDIR(st.st_mode))
            ++ref.dirs;
        else
            ++ref.files;
    }

    void directory(int fd, const std::string& path, int depth = 0) {
        std::vector<std::string> subdirectories;
        DIR* d = ::fdopendir(::dup(fd));
        if (d == nullptr) return;
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == ".." || (name[0] == '.' && !rules.hidden)) continue;
            if (rules.leaveOut && rules.leaveOut(path + "/" + name)) continue;
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            entry(st);
            if (S_ISDIR(st.st_mode) && st.st_dev == device) subdirectories.emplace_back(e->d_name);
        }
        ::closedir(d);
        for (const std::string& name : subdirectories) {
            const std::string sub = path + "/" + name;
            if (enter && !enter(sub)) {
                ref.skipped.push_back(sub);
                continue;
            }
            ref.entered.emplace_back(sub, depth + 1);
            const int subFd = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (subFd < 0) continue;
            directory(subFd, sub, depth + 1);
            ::close(subFd);
        }
    }
};

}  // namespace

unsigned __int128 round40(unsigned __int128 v) {
    int bits = 0;
    for (unsigned __int128 x = v; x != 0; x >>= 1) ++bits;
    if (bits <= 40) return v;
    const int shift = bits - 40;
    return ((v + (static_cast<unsigned __int128>(1) << (shift - 1))) >> shift) << shift;
}

std::string decimal(unsigned __int128 v) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
        v /= 10;
    } while (v != 0);
    return s;
}

Reference referenceCount(const std::string& path,
                         const std::function<bool(const std::string&)>& enter,
                         const ReferenceRules& rules) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return {};
    Walk walk{enter, rules, st.st_dev, {}, {}};
    walk.directory(fd, path);
    ::close(fd);
    return walk.ref;
}

std::ostream& operator<<(std::ostream& os, const Figures& f) {
    return os << f.dirs << " dirs, " << f.files << " files, " << f.bytes << " bytes";
}

Figures figuresOf(const pelmora::stats::CountResult& r) {
    return {r.directories, r.files, r.byteTotal.toFixed0()};
}

Figures figuresOf(const Reference& r) {
    return {r.dirs, r.files, decimal(r.foldedBytes)};
}

}  // namespace enginetest
