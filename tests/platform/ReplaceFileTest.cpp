// The replacement writer: the new file is flushed before it takes the old one's place, and the
// folder after it, so that the rename itself survives a crash.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/replacefile.h"
#include "tests/support/TempTree.h"

namespace {

std::vector<std::string> g_steps;
ino_t g_folder = 0;

int recordFsync(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    g_steps.push_back(!S_ISDIR(st.st_mode)    ? "fsync file"
                      : st.st_ino == g_folder ? "fsync folder"
                                              : "fsync another folder");
    return ::fsync(fd);
}

int recordRename(const char* from, const char* to) {
    g_steps.push_back("rename");
    return ::rename(from, to);
}

TEST(ReplacementFile, FlushesTheFileThenRenamesThenFlushesItsFolder) {
    pelmora::test::TempTree t;
    const std::string dir = t.dir("out");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    g_folder = st.st_ino;
    g_steps.clear();
    const pelmora::platform::FileOps& sys = pelmora::platform::systemFileOps();
    const pelmora::platform::FileOps ops{sys.write, recordFsync, sys.close, recordRename};
    pelmora::platform::ReplacementFile file(dir + "/data.TXT", ops);
    file.write("line\r\n");
    file.commit();
    EXPECT_EQ(g_steps, (std::vector<std::string>{"fsync file", "rename", "fsync folder"}));
    EXPECT_EQ(pelmora::test::readFile(dir + "/data.TXT"), "line\r\n");
}

}  // namespace
