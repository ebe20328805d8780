// Where the user's lists live: beside a program its user can write, else in the user's data
// folder.
#include <gtest/gtest.h>

#include "app/ListFolder.h"
#include <cstdlib>

#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::app::listFolder;
using pelmora::app::listFolderFor;

TEST(ListFolder, BesideAWritableProgramElseInTheUsersDataFolder) {
    struct Case {
        bool writable;
        const char* xdgDataHome;
        const char* home;
        const char* folder;
    } cases[] = {
        {true, "/x/data", "/home/ada", "/usr/lib/pelmora/"},  // a build tree, a copy in the home
        {false, "/x/data", "/home/ada", "/x/data/pelmora/"},
        {false, "/x/data/", "/home/ada", "/x/data/pelmora/"},
        {false, nullptr, "/home/ada", "/home/ada/.local/share/pelmora/"},
        {false, "", "/home/ada", "/home/ada/.local/share/pelmora/"},
        {false, "data", "/home/ada", "/home/ada/.local/share/pelmora/"},  // not absolute: unset
        {false, nullptr, nullptr, "/usr/lib/pelmora/"},                   // nowhere else to go
    };
    for (const Case& c : cases)
        EXPECT_EQ(listFolderFor("/usr/lib/pelmora/", c.writable, c.xdgDataHome, c.home), c.folder)
            << c.writable << " " << (c.xdgDataHome ? c.xdgDataHome : "(unset)");
}

TEST(ListFolder, TheProgramsFolderKeepsTheListsOnlyWhereThisUserCanWrite) {
    pelmora::test::TempTree tree;
    const std::string dir = tree.dir("prog") + "/";
    EXPECT_EQ(listFolder(dir), dir);

    // Installed: a folder this user cannot write (read-only even for root).
    const pelmora::test::PrivateTmpfs readOnly(tree.path("prog"), "ro,size=64k");
    if (!readOnly.ok()) GTEST_SKIP() << readOnly.why();
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_DATA_HOME", "/x/data", 1);
    EXPECT_EQ(listFolder(dir), "/x/data/pelmora/");
    if (saved)
        ::setenv("XDG_DATA_HOME", restore.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
