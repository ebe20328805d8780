#include "list/listfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ioerror.h"
#include "platform/paths.h"

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

std::vector<std::string> parseListText(std::string_view data) {
    std::vector<std::string> lines;
    const std::size_t end = std::min(data.find('\0'), data.size());
    std::size_t p = 0;
    while (p < end) {
        const std::size_t start = p;
        while (p < end && data[p] != '\r' && data[p] != '\n') ++p;
        lines.emplace_back(data.substr(start, p - start));
        if (p < end && data[p] == '\r') ++p;
        if (p < end && data[p] == '\n') ++p;
    }
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

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

[[noreturn]] void cannotOpen(const std::string& path) {
    throw PelmoraError("Cannot open file " + path);
}
[[noreturn]] void cannotCreate(const std::string& path) {
    throw PelmoraError("Cannot create file " + path);
}

// Follows a chain of symbolic links (also a dangling one) so that saving replaces the file
// a link points to instead of the link itself.
std::string followLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(static_cast<std::size_t>(n));
        if (!platform::isPathDelimiter(target.front()))
            target = std::string(platform::directoryPart(current)) + target;
        current = std::move(target);
    }
    return current;
}

mode_t processUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<std::string> readListFile(const std::string& path) {
    // Non-blocking, so that a fifo given as a list cannot hang the open.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) cannotOpen(path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) cannotOpen(path);

    // The whole file in one piece. Reading may stop at a chunk holding a byte 0: nothing
    // after it counts.
    std::string data;
    data.reserve(static_cast<std::size_t>(st.st_size) + 1);
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) cannotOpen(path);
        if (n == 0) break;
        data.append(chunk, static_cast<std::size_t>(n));
        if (std::memchr(chunk, 0, static_cast<std::size_t>(n)) != nullptr) break;
    }
    return parseListText(data);
}

void loadList(WatchedList& list, const std::string& path) {
    std::vector<std::string> lines = readListFile(path);
    list.replaceAll(std::move(lines));
}

void saveList(const WatchedList& list, const std::string& path) {
    const std::string text = formatListText(list.entries());
    if (path.empty() || platform::isPathDelimiter(path.back())) cannotCreate(path);

    const std::string target = followLinks(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // Only a regular file is replaced (never a directory or a device node), and only one
    // that could have been opened for writing: a read-only file refuses the save.
    if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0))
        cannotCreate(path);

    // The new contents go to a temporary file beside the target, which then replaces it in
    // one rename: a failure at any step leaves the previous file as it was.
    std::string name(platform::bareName(target));
    if (name.size() > 200) name.resize(200);
    std::string temp = std::string(platform::directoryPart(target)) + ".~" + name + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) cannotCreate(path);

    struct TempRemover {
        const std::string& name;
        bool armed = true;
        ~TempRemover() {
            if (armed) ::unlink(name.c_str());
        }
    } remover{temp};

    if (exists) {
        // Keeps owner and group where allowed (root), then the permission bits.
        if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
            // Not the owner's to give away: the file becomes the saver's, as a new one would.
        }
        ::fchmod(fd.get(), old.st_mode & 07777);
    } else {
        ::fchmod(fd.get(), 0666 & ~processUmask());
    }

    if (!writeAll(fd.get(), text)) throw PelmoraError("Stream write error");
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        throw PelmoraError("Stream write error");
    if (!fd.close()) throw PelmoraError("Stream write error");
    if (::rename(temp.c_str(), target.c_str()) != 0) cannotCreate(path);
    remover.armed = false;

    // Makes the rename itself durable; a failure here no longer puts the data at risk.
    const std::string dir(platform::directoryPart(target));
    Fd dirFd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
}

}  // namespace pelmora::list
