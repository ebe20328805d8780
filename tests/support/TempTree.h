// A temporary directory tree for tests, removed with everything in it at the end, and the file
// helpers the tests share.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pelmora::test {

class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Full path of the tree's root, without a trailing '/'.
    const std::string& root() const { return m_root; }
    // root() + "/" + relative.
    std::string path(const std::string& relative) const;

    // Creates a directory (and its parents) below the root; returns its full path.
    std::string dir(const std::string& relative) const;
    // Creates a file of `size` bytes (sparse beyond the first byte); returns its full path.
    std::string file(const std::string& relative, long long size = 0) const;
    // Creates a file with exactly `content`.
    std::string write(const std::string& relative, const std::string& content) const;
    // Creates a symlink at `relative` pointing to `target`.
    std::string symlink(const std::string& relative, const std::string& target) const;

  private:
    std::string m_root;
};

// Removes `root` with everything below it, however deep (no path longer than `root` is ever
// used), making directories writable first; true when nothing is left.
bool removeTree(const std::string& root);

// Reads a whole file as bytes ("" when it cannot be read).
std::string readFile(const std::string& path);
// Writes `bytes` to the file at `path`, replacing what it held.
void writeBytes(const std::string& path, const std::string& bytes);
// The names in the folder `dir`, without "." and "..", sorted (none when it cannot be read).
std::vector<std::string> namesIn(const std::string& dir);

// The message of the exception that `f` raises, or "(no error)".
std::string errorOf(const std::function<void()>& f);

// Number of open descriptors of this process.
int openDescriptorCount();

}  // namespace pelmora::test
