// The directory reader: opening by any path, checking that a reopened directory is the one that
// was listed, the navigator's listing and changing directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

using namespace pelmora::platform;
using pelmora::test::TempTree;

namespace {

// Builds `levels` directories of 200-byte names below `top` through descriptors; returns the
// path of the deepest and, in `inode`, its inode.
std::string deepPath(const std::string& top, int levels, ino_t& inode) {
    const std::string name(200, 'd');
    std::string path = top;
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < levels; ++i) {
        ::mkdirat(fd, name.c_str(), 0755);
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path += "/" + name;
    }
    struct stat st {};
    ::fstat(fd, &st);
    inode = st.st_ino;
    ::close(fd);
    return path;
}

TEST(DirectoryReader, OpensAndEntersPathsLongerThanPathMaxThroughALink) {
    TempTree t;
    ino_t inode = 0;
    const std::string deep = deepPath(t.dir("real"), 25, inode);
    t.symlink("via", "real");
    const std::string viaLink = t.path("via") + deep.substr(t.path("real").size());
    ASSERT_GT(viaLink.size(), static_cast<std::size_t>(PATH_MAX));
    UniqueFd fd;
    ASSERT_EQ(openDirectory(viaLink, fd), 0);
    DirIdentity id;
    ASSERT_EQ(identityOf(fd.get(), id), 0);
    EXPECT_EQ(id.inode, inode);
    EXPECT_EQ(openDirectory(viaLink + "/missing", fd), ENOENT);
    EXPECT_FALSE(fd);
    EXPECT_EQ(openDirectory("", fd), ENOENT);
    EXPECT_EQ(openDirectory(std::string("a\0b", 3), fd), EINVAL);
    EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                  if (changeDirectory(viaLink) != 0) return "not entered";
                  struct stat here {};
                  ::stat(".", &here);
                  return here.st_ino == inode ? "" : "entered somewhere else";
              }));
}

TEST(DirectoryReader, ReopeningRefusesADirectoryThatIsNoLongerTheOneListed) {
    TempTree t;
    t.dir("P/sub");
    UniqueFd parent;
    ASSERT_EQ(openDirectory(t.path("P"), parent), 0);
    EntryStat listed;
    ASSERT_EQ(statEntry(parent.get(), "sub", kStatBasic, listed), 0);
    UniqueFd fd;
    EXPECT_EQ(openSubdirectory(parent.get(), "sub", &listed.id, fd), 0);
    // Replaced by another directory of the same name, then by a link to the first.
    ASSERT_EQ(::rename(t.path("P/sub").c_str(), t.path("P/old").c_str()), 0);
    t.dir("P/sub");
    EXPECT_EQ(openSubdirectory(parent.get(), "sub", &listed.id, fd), ENOENT);
    EXPECT_EQ(reopenDirectory(t.path("P/sub"), listed.id, fd), ENOENT);
    ASSERT_EQ(::rmdir(t.path("P/sub").c_str()), 0);
    t.symlink("P/sub", "old");
    const int err = openSubdirectory(parent.get(), "sub", nullptr, fd);
    EXPECT_TRUE(err == ENOTDIR || err == ELOOP) << err;
    EXPECT_EQ(reopenDirectory(t.path("P/old"), listed.id, fd), 0);
}

TEST(DirectoryReader, ListsTheVisibleSubdirectoriesOnly) {
    TempTree t;
    for (const char* d : {"L/b", "L/a", "L/.hidden", "L/a/inner"}) t.dir(d);
    t.file("L/file");
    t.symlink("L/link", "a");
    std::vector<std::string> names;
    EXPECT_EQ(listSubdirectories(t.path("L"), names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
    names.clear();
    EXPECT_EQ(listSubdirectories(t.path("L/file"), names), ENOTDIR);
    EXPECT_TRUE(names.empty());
}

}  // namespace
