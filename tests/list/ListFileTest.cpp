// List files: the reader and the writer on exact bytes, loading by sorted insertion, and
// saving that never leaves a damaged file behind.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "list/listfile.h"
#include "tests/list/ListTestHelpers.h"
#include "tests/support/Child.h"
#include "tests/support/TempTree.h"
#include "platform/ioerror.h"

namespace pelmora::list {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using platform::PelmoraError;

class TempDir {
  public:
    TempDir() {
        std::string t = (fs::temp_directory_path() / "pelmora-list-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr) throw std::runtime_error("mkdtemp");
        m_path = t;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }
    // Names in the folder, to see that no temporary file is left behind.
    Lines names() const {
        Lines out;
        for (const auto& e : fs::directory_iterator(m_path)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::string m_path;
};

using helpers::listOf;
using test::errorOf;
using test::readFile;
using test::writeBytes;

// Loads `bytes` from a real file and returns the list.
Lines loadBytes(const std::string& bytes) {
    TempDir dir;
    writeBytes(dir / "l.pml", bytes);
    WatchedList list;
    loadList(list, dir / "l.pml");
    return list.entries();
}

TEST(ListFileName, TheDefaultNameInAnyFolderAndLetterCase) {
    for (const char* yes : {"DEFAULT.PML", "/opt/pelmora/DEFAULT.PML", "/home/a/lists/default.pml",
                            "/x/Default.Pml", "default.pmL"})
        EXPECT_TRUE(isDefaultListName(yes)) << yes;
    for (const char* no : {"/x/DEFAULT.PML/", "/x/DEFAULT.PML ", "/x/ DEFAULT.PML", "/x/DEFAULT",
                           "/x/DEFAULT.PMLX", "/x/DEFAULT_PML",
                           "/x/DÉ"
                           "FAULT.PML",
                           "/DEFAULT.PML/other.pml", ""})
        EXPECT_FALSE(isDefaultListName(no)) << no;
}

TEST(ListFileText, CutsLinesAtEveryKindOfEndMark) {
    EXPECT_EQ(parseListText("A\r\nB\r\n"), (Lines{"A", "B"}));
    EXPECT_EQ(parseListText("A\nB"), (Lines{"A", "B"}));
    EXPECT_EQ(parseListText("A\rB\r"), (Lines{"A", "B"}));
    EXPECT_EQ(parseListText("A\r\rB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(parseListText("A\n\rB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(parseListText("A\r\n\r\nB"), (Lines{"A", "", "B"}));
    EXPECT_EQ(parseListText("\r\n"), (Lines{""}));
    EXPECT_EQ(parseListText("\n\n"), (Lines{"", ""}));
    EXPECT_EQ(parseListText(""), Lines{});
    EXPECT_EQ(parseListText(std::string_view("A\0B\r\n", 5)), (Lines{"A"}));
    EXPECT_EQ(parseListText(std::string_view("\0A", 2)), Lines{});
    EXPECT_EQ(parseListText("  spaced \t\r\n"), (Lines{"  spaced \t"}));
}

TEST(ListFileText, WritesCrLfAfterEveryEntry) {
    EXPECT_EQ(formatListText({"D:\\A", "D:\\B\\X"}), "D:\\A\r\nD:\\B\\X\r\n");
    EXPECT_EQ(formatListText({"D:\\A", "D:\\B\\X"}).size(), 14u);
    EXPECT_EQ(formatListText({}), "");
    EXPECT_EQ(formatListText({""}), "\r\n");
}

TEST(ListFileLoad, SortsTheLinesAndKeepsEmptyOnesAndDuplicates) {
    EXPECT_EQ(loadBytes("D:\\B\n\nD:\\A"), (Lines{"", "D:\\A", "D:\\B"}));
    EXPECT_EQ(loadBytes("D:\\B\r\n\r\nD:\\A\r\n"), (Lines{"", "D:\\A", "D:\\B"}));
    EXPECT_EQ(loadBytes("D:\\A\r\nD:\\A\r\n"), (Lines{"D:\\A", "D:\\A"}));
    EXPECT_EQ(loadBytes(std::string("D:\\B\r\n\0D:\\A\r\n", 13)), (Lines{"D:\\B"}));
    EXPECT_EQ(loadBytes("D:\\A\r\rD:\\B"), (Lines{"", "D:\\A", "D:\\B"}));
    EXPECT_EQ(loadBytes("D:\\A\n\rD:\\B"), (Lines{"", "D:\\A", "D:\\B"}));
    EXPECT_EQ(loadBytes(""), Lines{});
    EXPECT_EQ(loadBytes("z\r\nD:\\b\r\nd:\\A\r\n"), (Lines{"d:\\A", "D:\\b", "z"}));
}

TEST(ListFileRoundTrip, SavesWhatWasLoadedSorted) {
    struct Case {
        std::string file, saved;
    };
    const std::vector<Case> cases = {
        {"D:\\B\r\n\r\nD:\\A\r\n", "\r\nD:\\A\r\nD:\\B\r\n"},
        {"D:\\A\nD:\\B", "D:\\A\r\nD:\\B\r\n"},
        {"D:\\A\r\nD:\\A\r\n", "D:\\A\r\nD:\\A\r\n"},
        {std::string("D:\\B\r\n\0junk\r\n", 12), "D:\\B\r\n"},
        {"", ""},
        {"/home/Ren\xE9\r\n/home/ann\r\n", "/home/ann\r\n/home/Ren\xE9\r\n"},
        {"  /x \r\n", "  /x \r\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeBytes(dir / "in.pml", c.file);
        WatchedList list;
        loadList(list, dir / "in.pml");
        saveList(list, dir / "out.pml");
        EXPECT_EQ(readFile(dir / "out.pml"), c.saved) << "file '" << c.file << "'";
        saveList(list, dir / "in.pml");
        EXPECT_EQ(readFile(dir / "in.pml"), c.saved);
    }
}

TEST(ListFileRoundTrip, ALineLongerThanAPathIsKeptWhole) {
    const std::string longLine = "/" + std::string(5000, 'x');
    TempDir dir;
    writeBytes(dir / "l.pml", "/a\r\n" + longLine + "\r\n");
    WatchedList list;
    loadList(list, dir / "l.pml");
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.get(1), longLine);
    saveList(list, dir / "l.pml");
    EXPECT_EQ(readFile(dir / "l.pml"), "/a\r\n" + longLine + "\r\n");
}

TEST(ListFileLoad, ReadsABigFileWhole) {
    std::string bytes;
    for (int i = 0; i < 30000; ++i) bytes += "/data/" + std::to_string(29999 - i) + "\r\n";
    const Lines loaded = loadBytes(bytes);
    ASSERT_EQ(loaded.size(), 30000u);
    EXPECT_EQ(loaded.front(), "/data/0");
    EXPECT_EQ(loaded.back(), "/data/9999");
}

// A list of one line of 50 MB takes its text once: a single line needs no sorting, so no sort
// key (twice the line) and no UTF-16 copy of it (twice again, once kept for good) are made.
TEST(ListFileLoad, AOneLineListTakesLittleMoreThanItsText) {
    TempDir dir;
    constexpr std::size_t kLength = 50u << 20;
    writeBytes(dir / "one.pml", "/" + std::string(kLength - 1, 'x') + "\r\n");
    EXPECT_EQ("", test::inChild([&]() -> std::string {
                  struct rusage before {};
                  ::getrusage(RUSAGE_SELF, &before);
                  WatchedList list;
                  loadList(list, dir / "one.pml");
                  struct rusage after {};
                  ::getrusage(RUSAGE_SELF, &after);
                  if (list.count() != 1 || list.at(0).size() != kLength) return "not the line";
                  const long grownKb = after.ru_maxrss - before.ru_maxrss;
                  if (grownKb > static_cast<long>(kLength / 1024 * 3 / 2))
                      return "peak memory grew by " + std::to_string(grownKb) + " KiB";
                  return "";
              }));
}

TEST(ListFileLoad, FailsOnWhatCannotBeOpened) {
    TempDir dir;
    WatchedList list = listOf({"/keep"});
    const std::string missing = dir / "missing.pml";
    EXPECT_EQ(errorOf([&] { loadList(list, missing); }), "Cannot open file " + missing);
    EXPECT_EQ(errorOf([&] { loadList(list, dir.path()); }), "Cannot open file " + dir.path());
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(errorOf([&] { loadList(list, dir / "fifo"); }), "Cannot open file " + dir / "fifo");
    EXPECT_EQ(errorOf([&] { loadList(list, ""); }), "Cannot open file ");
    // The list is only replaced once the file has been read.
    EXPECT_EQ(list.entries(), Lines{"/keep"});
}

TEST(ListFileLoad, AFullListKeepsTheLinesTakenSoFar) {
    TempDir dir;
    writeBytes(dir / "l.pml", "/c\r\n/a\r\n/b\r\n");
    WatchedList list;
    list.setMaxCount(2);
    EXPECT_EQ(errorOf([&] { loadList(list, dir / "l.pml"); }), "Unable to insert a line");
    EXPECT_EQ(list.entries(), (Lines{"/a", "/c"}));
}

TEST(ListFileSave, EmptyListWritesZeroBytesAndNoTemporaryFileStays) {
    TempDir dir;
    writeBytes(dir / "l.pml", "old contents\r\n");
    saveList(WatchedList(), dir / "l.pml");
    EXPECT_TRUE(fs::exists(dir / "l.pml"));
    EXPECT_EQ(readFile(dir / "l.pml"), "");
    saveList(listOf({"/b", "/a"}), dir / "l.pml");
    EXPECT_EQ(readFile(dir / "l.pml"), "/a\r\n/b\r\n");
    EXPECT_EQ(dir.names(), Lines{"l.pml"});
}

TEST(ListFileSave, KeepsThePermissionsOfTheReplacedFile) {
    TempDir dir;
    writeBytes(dir / "l.pml", "x\r\n");
    ASSERT_EQ(::chmod((dir / "l.pml").c_str(), 0640), 0);
    saveList(listOf({"/a"}), dir / "l.pml");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "l.pml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A new file gets the usual permissions under the umask, not the temporary file's 0600.
    const mode_t old = ::umask(022);
    saveList(listOf({"/a"}), dir / "new.pml");
    ::umask(old);
    ASSERT_EQ(::stat((dir / "new.pml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ListFileSave, ReplacesTheFileBehindASymbolicLink) {
    TempDir dir;
    fs::create_directory(dir / "real");
    writeBytes(dir / "real/l.pml", "old\r\n");
    ASSERT_EQ(::symlink("real/l.pml", (dir / "link.pml").c_str()), 0);
    saveList(listOf({"/new"}), dir / "link.pml");
    EXPECT_TRUE(fs::is_symlink(dir / "link.pml"));
    EXPECT_EQ(readFile(dir / "real/l.pml"), "/new\r\n");
    EXPECT_EQ(dir.names(), (Lines{"link.pml", "real"}));
}

TEST(ListFileSave, NamesThatAreNotUtf8SurviveByteForByte) {
    TempDir dir;
    const std::string name = dir / "Liste-\xE9t\xE9.pml";
    const WatchedList list = listOf({"/srv/\xC0\xFF\xFE", "/srv/plain"});
    saveList(list, name);
    EXPECT_EQ(readFile(name), "/srv/plain\r\n/srv/\xC0\xFF\xFE\r\n");
    WatchedList back;
    loadList(back, name);
    EXPECT_EQ(back.entries(), list.entries());
}

TEST(ListFileSave, CannotCreateTheFile) {
    TempDir dir;
    writeBytes(dir / "plain", "not a folder");
    const WatchedList list = listOf({"/a"});
    for (const std::string& path : {dir / "missing/l.pml", dir / "plain/l.pml", dir.path(),
                                    dir.path() + "/", std::string()}) {
        EXPECT_EQ(errorOf([&] { saveList(list, path); }), "Cannot create file " + path);
    }
    EXPECT_EQ(readFile(dir / "plain"), "not a folder");
    EXPECT_EQ(dir.names(), Lines{"plain"});
}

// A disk that fills up during the write: the file-size limit makes the kernel refuse the
// bytes beyond a few, as a full disk would. Run in a child so the limit stays there.
TEST(ListFileSave, AFailedWriteLeavesThePreviousFileWhole) {
    TempDir dir;
    const std::string path = dir / "l.pml";
    const std::string previous = "/previous/one\r\n/previous/two\r\n";
    writeBytes(path, previous);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8, 8};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
        WatchedList list;
        for (int i = 0; i < 100; ++i) list.add("/new/entry" + std::to_string(i));
        try {
            saveList(list, path);
        } catch (const PelmoraError& e) {
            ::_exit(std::string(e.what()) == "Stream write error" ? 0 : 11);
        }
        ::_exit(12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no limit, 11: other error, 12: no error";
    EXPECT_EQ(readFile(path), previous);
    EXPECT_EQ(dir.names(), Lines{"l.pml"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

}  // namespace
}  // namespace pelmora::list
