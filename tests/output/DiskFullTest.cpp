// Saving a list and writing a data file on a disk that fills up, or with no descriptor left:
// the previous list stays byte for byte, no temporary file is left, and the user is told.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/ioerror.h"
#include "tests/support/Child.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/ExportList.h"
#include "tests/support/TempTree.h"

using namespace pelmora;
using test::errorOf;
using test::inChild;
using test::namesIn;
using test::writeBytes;
using Names = std::vector<std::string>;

namespace {

const std::string kPrevious = "/previous/one\r\n/previous/two\r\n";

list::WatchedList bigList(int n) {
    list::WatchedList l;
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.push_back("/new/entry/number/" + std::to_string(i));
    l.replaceAll(lines);
    return l;
}

// Runs `body` in a child with a tiny tmpfs of its own mounted on `dir` (a private mount
// namespace: nothing is visible outside and nothing stays mounted). "SKIP" when mounting is
// not possible on this machine.
std::string onTinyFileSystem(const std::string& dir, const std::string& options,
                             const std::function<std::string()>& body) {
    return inChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0) return "SKIP unshare: " + std::string(strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "SKIP private mounts: " + std::string(strerror(errno));
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return "SKIP mount tmpfs: " + std::string(strerror(errno));
        return body();
    });
}

#define EXPECT_OK_OR_SKIP(result)                         \
    do {                                                  \
        const std::string r_ = (result);                  \
        if (r_.rfind("SKIP", 0) == 0) GTEST_SKIP() << r_; \
        EXPECT_EQ(r_, "");                                \
    } while (false)

TEST(FullDisk, ListSaveKeepsThePreviousFileWhole) {
    test::TempTree t;
    const std::string dir = t.root();
    EXPECT_OK_OR_SKIP(onTinyFileSystem(dir, "size=256k", [&]() -> std::string {
        const std::string path = dir + "/WATCH.PML";
        writeBytes(path, kPrevious);
        if (!test::fillUp(dir + "/filler")) return "the file system did not fill up";
        const std::string error = errorOf([&] { list::saveList(bigList(500), path); });
        if (error != "Stream write error") return "save raised: " + error;
        if (test::readFile(path) != kPrevious) return "previous list changed";
        if (namesIn(dir) != Names{"WATCH.PML", "filler"}) return "a temporary file stayed";
        // Once there is room again the same save succeeds.
        ::unlink((dir + "/filler").c_str());
        list::saveList(bigList(500), path);
        if (test::readFile(path) != list::formatListText(bigList(500).entries()))
            return "save after freeing space wrote wrong bytes";
        if (namesIn(dir) != Names{"WATCH.PML"}) return "a temporary file stayed after success";
        return "";
    }));
}

TEST(FullDisk, NoInodeLeftMeansCannotCreateAndThePreviousFileStays) {
    test::TempTree t;
    const std::string dir = t.root();
    EXPECT_OK_OR_SKIP(onTinyFileSystem(dir, "size=1m,nr_inodes=8", [&]() -> std::string {
        const std::string path = dir + "/WATCH.PML";
        writeBytes(path, kPrevious);
        int made = 0;
        while (made < 100) {
            const int fd =
                ::open((dir + "/f" + std::to_string(made)).c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0) break;
            ::close(fd);
            ++made;
        }
        if (made == 100) return "inodes never ran out";
        const std::string error = errorOf([&] { list::saveList(bigList(3), path); });
        if (error != "Cannot create file " + path) return "save raised: " + error;
        if (test::readFile(path) != kPrevious) return "previous list changed";
        if (namesIn(dir).size() != static_cast<std::size_t>(made) + 1) return "stray file";
        return "";
    }));
}

TEST(FullDisk, DataFileExportReadsDiskFull) {
    test::TempTree t;
    t.dir("tree/sub");
    t.file("tree/sub/f", 10);
    const std::string tree = t.path("tree");
    const std::string dir = t.dir("mnt");
    EXPECT_OK_OR_SKIP(onTinyFileSystem(dir, "size=256k", [&]() -> std::string {
        const std::string listPath = dir + "/WATCH.PML";
        writeBytes(listPath, tree + "\r\n");
        if (!test::fillUp(dir + "/filler")) return "the file system did not fill up";
        int code = 0;
        std::string text;
        try {
            test::exportList(std::vector<std::string>(5000, tree), listPath, stats::EntryOverhead);
            return "export reported success";
        } catch (const platform::InOutError& e) {
            code = e.code();
            text = e.what();
        }
        if (code != 101 || text != "Disk full")
            return "raised " + std::to_string(code) + " " + text;

        const test::CliRun r = test::runCli({"export", "--jobs", "1", listPath}, dir);
        if (r.status != 3) return "cli exit status " + std::to_string(r.status);
        if (r.err != "pelmora-cli: Disk full.\n") return "cli said: " + r.err;
        if (r.out.find("created") != std::string::npos) return "cli claimed success: " + r.out;
        return "";
    }));
}

// A data file that is a link to a device is refused before anything is written: CSV never goes
// onto a device node.
TEST(FullDisk, DevFullAsTheDataFile) {
    test::TempTree t;
    t.dir("tree");
    writeBytes(t.path("L.PML"), t.path("tree") + "\r\n");
    ASSERT_EQ(::symlink("/dev/full", t.path("L.TXT").c_str()), 0);
    const test::CliRun r = test::runCli({"export", t.path("L.PML")}, t.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "pelmora-cli: Cannot create file " + t.path("L.TXT") + ".\n");
    EXPECT_EQ(r.out, "");
}

// The undefined-behaviour checker of a sanitized build reads /proc the first time it checks a
// type; with no descriptor left that fails and it reports a bogus error. Running the same
// paths once beforehand, with descriptors to spare, fills its cache.
void warmUp(const std::string& dir) {
    test::TempTree scratch;
    errorOf([&] { list::saveList(bigList(2), scratch.root()); });
    errorOf([&] { list::saveList(bigList(2), scratch.path("W.PML")); });
    list::WatchedList l;
    errorOf([&] { list::loadList(l, scratch.path("W.PML")); });
    errorOf([&] { list::loadList(l, scratch.path("missing")); });
    errorOf([&] { test::exportList({dir}, scratch.path("W.PML"), stats::EntryOverhead); });
    errorOf([&] { test::exportList({dir}, scratch.path("no/W.PML"), stats::EntryOverhead); });
}

TEST(TooManyOpenFiles, SaveWithoutASpareDescriptorKeepsThePreviousFile) {
    test::TempTree t;
    const std::string path = t.path("WATCH.PML");
    writeBytes(path, kPrevious);
    const std::string dir = t.root();
    EXPECT_EQ("", inChild([&]() -> std::string {
                  warmUp(dir);
                  if (!test::leaveSpareDescriptors(0)) return "setrlimit failed";
                  const std::string error = errorOf([&] { list::saveList(bigList(10), path); });
                  if (error != "Cannot create file " + path) return "save raised: " + error;
                  return "";
              }));
    EXPECT_EQ(test::readFile(path), kPrevious);
    EXPECT_EQ(namesIn(dir), Names{"WATCH.PML"});
    // With one descriptor to spare the save goes through.
    EXPECT_EQ("", inChild([&]() -> std::string {
                  warmUp(dir);
                  if (!test::leaveSpareDescriptors(1)) return "setrlimit failed";
                  const std::string error = errorOf([&] { list::saveList(bigList(10), path); });
                  if (error != "(no error)") return "save raised: " + error;
                  return "";
              }));
    EXPECT_EQ(test::readFile(path), list::formatListText(bigList(10).entries()));
    EXPECT_EQ(namesIn(dir), Names{"WATCH.PML"});
}

TEST(TooManyOpenFiles, LoadAndExportReportTheFailure) {
    test::TempTree t;
    t.dir("tree/a");
    t.file("tree/a/x", 42);
    const std::string listPath = t.path("WATCH.PML");
    writeBytes(listPath, t.path("tree") + "\r\n");
    EXPECT_EQ("", inChild([&]() -> std::string {
                  warmUp(t.path("tree"));
                  if (!test::leaveSpareDescriptors(0)) return "setrlimit failed";
                  list::WatchedList l;
                  l.add("/keep");
                  std::string error = errorOf([&] { list::loadList(l, listPath); });
                  if (error != "Cannot open file " + listPath) return "load raised: " + error;
                  if (l.entries() != Names{"/keep"}) return "list changed by a failed load";
                  error = errorOf(
                      [&] { test::exportList({t.path("tree")}, listPath, stats::EntryOverhead); });
                  if (error != "Cannot create file " + t.path("WATCH.TXT"))
                      return "export raised: " + error;
                  return "";
              }));
    // Three spare: one for the lock on the list, one for the data file, one for the walk.
    EXPECT_EQ("", inChild([&]() -> std::string {
                  warmUp(t.path("tree"));
                  if (!test::leaveSpareDescriptors(3)) return "setrlimit failed";
                  test::exportList({t.path("tree")}, listPath, stats::EntryOverhead);
                  return "";
              }));
    const std::string line = test::readFile(t.path("WATCH.TXT"));
    EXPECT_EQ(line.rfind("\"" + t.path("tree") + "\",1,1,", 0), 0u) << line;
}

}  // namespace
