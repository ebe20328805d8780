// A small real file system for tests that need a disk to fill up: a tmpfs mounted over a
// directory in the calling thread's own mount namespace, so nothing is seen outside the test
// and nothing stays mounted if it dies. Processes started from that thread see it too.
#pragma once

#include <string>

namespace pelmora::test {

class PrivateTmpfs {
  public:
    // Mounts a tmpfs with `options` (e.g. "size=64k") on `dir`; ok() tells whether it worked
    // (not everywhere may a test mount), why() why not.
    PrivateTmpfs(const std::string& dir, const std::string& options);
    ~PrivateTmpfs();  // unmounts
    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;

    bool ok() const { return m_mounted; }
    const std::string& why() const { return m_why; }

  private:
    std::string m_dir;
    std::string m_why;
    bool m_mounted = false;
};

// Writes into `path` until the file system is full; true when it ended with ENOSPC.
bool fillUp(const std::string& path);

}  // namespace pelmora::test
