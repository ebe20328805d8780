// The data file and the list file under attack and failure: whatever stands where the file
// goes, whatever fails on the way, the previous file stays whole and no temporary file is
// left; nothing is written through a device, a fifo or a link planted by someone else; a list
// is never its own data file; two exports of one list never run at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/replacefile.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

using namespace pelmora;
using test::errorOf;
using test::namesIn;
using test::writeBytes;
using Names = std::vector<std::string>;

namespace {

const std::string kPrevious = "\"/previous\",1,2,3,4\r\n";

bool holdsTemporaryFile(const std::string& dir) {
    const Names names = namesIn(dir);
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& n) { return n.rfind(".~", 0) == 0; });
}

// A child that hangs is killed after a minute, so a blocking open fails the test.
bool withAlarm() {
    ::alarm(60);
    return true;
}

// ---- what stands where the file goes --------------------------------------------------------

struct Hostile {
    const char* what;
    // Puts the thing at `path`; `victim` is a file that must not change.
    std::function<void(const std::string& path, const std::string& victim)> make;
};

const std::vector<Hostile> kHostile = {
    {"a link to nothing",
     [](const std::string& p, const std::string& v) {
         ::symlink((v + ".missing").c_str(), p.c_str());
     }},
    {"a device node",
     [](const std::string& p, const std::string&) {
         ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3));
     }},
    {"a link to a device",
     [](const std::string& p, const std::string&) { ::symlink("/dev/null", p.c_str()); }},
    {"a fifo", [](const std::string& p, const std::string&) { ::mkfifo(p.c_str(), 0666); }},
    {"a socket",
     [](const std::string& p, const std::string&) {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un addr{};
         addr.sun_family = AF_UNIX;
         std::strncpy(addr.sun_path, p.c_str(), sizeof addr.sun_path - 1);
         ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
         ::close(fd);
     }},
    {"a directory", [](const std::string& p, const std::string&) { ::mkdir(p.c_str(), 0755); }},
    {"a link planted by another user",
     [](const std::string& p, const std::string& v) {
         ::symlink(v.c_str(), p.c_str());
         ::lchown(p.c_str(), 65534, 65534);
     }},
    {"a link to another user's file",
     [](const std::string& p, const std::string& v) {
         ::chown(v.c_str(), 65534, 65534);
         ::symlink(v.c_str(), p.c_str());
     }},
};

TEST(HostileTarget, NeitherExportNorSaveWritesThroughIt) {
    for (const Hostile& h : kHostile) {
        SCOPED_TRACE(h.what);
        test::TempTree t;
        t.dir("tree");
        const std::string victim = t.write("victim", "root's own\n");
        const std::string list = t.write("L.PML", t.path("tree") + "\r\n");
        const std::string data = t.path("L.TXT");
        const std::string saved = t.path("S.PML");
        h.make(data, victim);
        h.make(saved, victim);
        struct stat before {};
        ASSERT_EQ(::lstat(data.c_str(), &before), 0);

        const test::CliRun r = test::runCli({"export", list}, t.root(), withAlarm);
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "pelmora-cli: Cannot create file " + data + ".\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(test::inChild([&]() -> std::string {
                      withAlarm();
                      list::WatchedList l;
                      l.add("/a");
                      return errorOf([&] { list::saveList(l, saved); });
                  }),
                  "Cannot create file " + saved);

        struct stat after {};
        ASSERT_EQ(::lstat(data.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(test::readFile(victim), "root's own\n");
        EXPECT_NE(::access((victim + ".missing").c_str(), F_OK), 0);
        EXPECT_FALSE(holdsTemporaryFile(t.root()));
    }
}

// A replaced data file keeps its owner, group and permission bits (a link of the user's to a
// file of the user's is followed as for lists: ListFileSave.ReplacesTheFileBehindASymbolicLink).
TEST(HostileTarget, AnotherUsersDataFileKeepsItsOwnerAndMode) {
    test::TempTree t;
    t.dir("tree");
    const std::string data = t.write("O.TXT", kPrevious);
    const std::string list = t.write("O.PML", t.path("tree") + "\r\n");
    ASSERT_EQ(::chown(data.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(data.c_str(), 0604), 0);
    ASSERT_EQ(test::runCli({"export", list}, t.root()).status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_NE(test::readFile(data), kPrevious);
}

// ---- failures on the way --------------------------------------------------------------------

int g_errno = 0;  // what the failing call below reports

ssize_t failWrite(int, const void*, std::size_t) {
    errno = g_errno;
    return -1;
}
int failFsync(int) {
    errno = g_errno;
    return -1;
}
int failClose(int fd) {
    ::close(fd);  // released, as Linux does, but with the error of a late write-back
    errno = g_errno;
    return -1;
}
int failRename(const char*, const char*) {
    errno = g_errno;
    return -1;
}

TEST(FailedExport, LeavesThePreviousDataFileAndNoTemporaryFile) {
    const platform::FileOps& sys = platform::systemFileOps();
    struct Case {
        const char* what;
        platform::FileOps ops;
        int err;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"a full disk at a write",
         {failWrite, sys.fsync, sys.close, sys.rename},
         ENOSPC,
         "Disk full"},
        {"an I/O error at fsync",
         {sys.write, failFsync, sys.close, sys.rename},
         EIO,
         "I/O error 5"},
        {"a quota exceeded at fsync",
         {sys.write, failFsync, sys.close, sys.rename},
         EDQUOT,
         "Disk full"},
        {"a late write-back error at close",
         {sys.write, sys.fsync, failClose, sys.rename},
         EIO,
         "I/O error 5"},
        {"a rename refused", {sys.write, sys.fsync, sys.close, failRename}, EXDEV, "I/O error 18"},
        {"an interruption (an error from the count)", sys, 0, "interrupted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempTree t;
        const std::string data = t.write("L.TXT", kPrevious);
        const std::string list = t.write("L.PML", "/a\r\n/b\r\n/c\r\n");
        g_errno = c.err;
        int counted = 0;
        const output::CountFunction count = [&](std::size_t, std::string_view) {
            if (c.err == 0 && ++counted == 2) throw platform::PelmoraError("interrupted");
            return stats::CountResult{};
        };
        const int descriptors = test::openDescriptorCount();
        EXPECT_EQ(errorOf([&] {
                      output::FileSink sink(data, list, c.ops);
                      output::writeDataFile({"/a", "/b", "/c"}, sink, count, 0);
                  }),
                  c.text);
        EXPECT_EQ(test::readFile(data), kPrevious);
        EXPECT_EQ(namesIn(t.root()), (Names{"L.PML", "L.TXT"}));
        EXPECT_EQ(test::openDescriptorCount(), descriptors);
    }
}

// A write-back error after every write succeeded, on a real device: ext4 on a loop device whose
// backing file is cut short under it, so the new data file's blocks lie beyond the device's
// end and fsync reports EIO. Needs mkfs.ext4, losetup, findmnt and the right to mount.
TEST(FailedExport, IoErrorAtFsyncOnARealDeviceIsTheExportsError) {
    test::TempTree t;
    t.dir("tree");
    const std::string back = t.dir("back");
    const std::string mnt = t.dir("mnt");
    const std::string result = test::inChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "SKIP no mount namespace";
        if (::mount("tmpfs", back.c_str(), "tmpfs", 0, "size=80m") != 0) return "SKIP no tmpfs";
        const std::string img = back + "/img";
        const std::string setup =
            "truncate -s 64m " + img + " && mkfs.ext4 -q -F -b 4096 -J size=4,location=1M " + img +
            " >/dev/null 2>&1 && mount -o loop,errors=continue " + img + " " + mnt + " 2>/dev/null";
        if (std::system(setup.c_str()) != 0) return "SKIP no loop-mounted ext4 here";
        const std::string list = mnt + "/L.PML";
        writeBytes(list, t.path("tree") + "\r\n");
        writeBytes(mnt + "/L.TXT", kPrevious);
        // Fills the file system to the last block (which also uses up the blocks it keeps in
        // reserve for small files), frees the upper part again, and cuts the device below it:
        // every block a new file can get lies beyond the device's end.
        const std::string shrink = "dd if=/dev/zero of=" + mnt +
                                   "/fill bs=1M status=none 2>/dev/null; sync && truncate -s 32M " +
                                   mnt + "/fill && sync && dev=$(findmnt -no SOURCE " + mnt +
                                   ") && truncate -s 36m " + img + " && losetup -c $dev";
        if (std::system(shrink.c_str()) != 0) return "SKIP cannot shrink the loop device";
        const test::CliRun r = test::runCli({"export", list}, t.root());
        std::string failure;
        if (r.status != 3) failure += "status " + std::to_string(r.status) + "; ";
        if (r.err != "pelmora-cli: I/O error 5.\n") failure += "said: " + r.err + "; ";
        if (r.out.find("created") != std::string::npos) failure += "claimed success; ";
        if (test::readFile(mnt + "/L.TXT") != kPrevious) failure += "previous file changed; ";
        if (holdsTemporaryFile(mnt)) failure += "a temporary file stayed; ";
        ::umount2(mnt.c_str(), MNT_DETACH);
        return failure;
    });
    if (result.rfind("SKIP", 0) == 0) GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
}

// ---- the list and its data file -------------------------------------------------------------

TEST(OwnListFile, IsNeverItsDataFile) {
    struct Case {
        const char* what;
        const char* list;
        std::function<void(const test::TempTree&)> make;
    };
    const std::vector<Case> cases = {
        {"a list named X.TXT", "X.TXT", [](const test::TempTree&) {}},
        {"a data file that is a hard link of the list", "L.PML",
         [](const test::TempTree& t) { ::link(t.path("L.PML").c_str(), t.path("L.TXT").c_str()); }},
        {"a data file that is a link to the list", "L.PML",
         [](const test::TempTree& t) { t.symlink("L.TXT", "L.PML"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempTree t;
        const std::string bytes = t.path("x") + "\r\n";
        const std::string list = t.write(c.list, bytes);
        c.make(t);
        const std::string data = output::dataFileName(list);
        const test::CliRun r = test::runCli({"export", list}, t.root());
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err,
                  "pelmora-cli: Cannot create file " + data + ": it is the list file itself.\n");
        EXPECT_EQ(test::readFile(list), bytes);
        EXPECT_FALSE(holdsTemporaryFile(t.root()));
    }
}

TEST(ConcurrentExport, ASecondExportOfTheSameListIsRefusedAtOnce) {
    test::TempTree t;
    t.dir("tree");
    const std::string list = t.write("L.PML", t.path("tree") + "\r\n");
    const std::string data = t.path("L.TXT");
    {
        output::FileSink first(data, list);
        output::writeDataLine(first, "/first", {});
        // Another process: pelmora-cli, as cron would start it.
        const test::CliRun r = test::runCli({"export", list}, t.root());
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "pelmora-cli: Cannot create file " + data +
                             ": it is being written by another export.\n");
        EXPECT_EQ(r.out, "");
        first.close();
    }
    EXPECT_EQ(test::readFile(data), "\"/first\",0,0,0,0\r\n");
    // Once the first is done, the next one goes through.
    EXPECT_EQ(test::runCli({"export", list}, t.root()).status, 0);

    // A list not saved yet locks its data file's folder instead.
    const std::string unsaved = t.path("NEW.PML");
    output::FileSink held(t.path("NEW.TXT"), unsaved);
    EXPECT_EQ(
        errorOf([&] { output::FileSink(t.path("NEW.TXT"), unsaved); }),
        "Cannot create file " + t.path("NEW.TXT") + ": it is being written by another export");
}

}  // namespace
