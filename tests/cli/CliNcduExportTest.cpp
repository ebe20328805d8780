// pelmora-cli count --ncdu-export, held against the real ncdu and gdu: both load the file, and
// their figures are the count's, hostile names, hard links, mount points, unreadable and very
// deep directories included.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::runCli;
using pelmora::test::runProgram;
using pelmora::test::TempTree;
using Args = std::vector<std::string>;

bool installed(const char* tool) {
    return runProgram("/bin/sh", {"-c", std::string("command -v ") + tool}, "/").status == 0;
}

// One entry of an export as ncdu writes it again, one a line: "[" before the info object of a
// directory, a "]" after it for each directory that ends there. Strings are unescaped to
// their bytes (\uXXXX as UTF-8), other values kept as their text.
struct Entry {
    int depth = 0;  // 0 for the top directory
    bool directory = false;
    std::map<std::string, std::string> info;
};

// The JSON string starting at `i` (its quote); `i` ends after it.
std::string unescaped(const std::string& s, std::size_t& i) {
    std::string out;
    for (++i; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] != '\\') {
            out += s[i];
        } else if (const std::size_t k = std::string("\"\\/bfnrt").find(s[++i]);
                   k != std::string::npos) {
            out += "\"\\/\b\f\n\r\t"[k];
        } else {  // \uXXXX, below U+0800 in what ncdu writes
            const unsigned v = std::stoul(s.substr(i + 1, 4), nullptr, 16);
            i += 4;
            if (v >= 0x80) out += static_cast<char>(0xC0 | v >> 6);
            out += static_cast<char>(v >= 0x80 ? 0x80 | (v & 63) : v);
        }
    }
    ++i;
    return out;
}

std::vector<Entry> entriesOf(const std::string& text) {
    std::vector<Entry> entries;
    int depth = 0;
    std::size_t i = text.find('\n') + 1;  // the version and the metadata
    while (i < text.size()) {
        Entry e;
        e.directory = text[i] == '[';
        e.depth = depth;
        i = text.find('{', i) + 1;
        while (text[i] == '"') {
            const std::string key = unescaped(text, i);
            ++i;  // ':'
            const std::size_t end = text.find_first_of(",}", i);
            e.info[key] = text[i] == '"' ? unescaped(text, i) : text.substr(i, end - i);
            if (text[i] != ',' && text[i] != '}') i = end;
            if (text[i] == ',') ++i;
        }
        for (++i; i < text.size() && text[i] == ']'; ++i) --depth;
        if (e.directory) ++depth;
        i = text.find('\n', i) + 1;
        if (i == 0) i = text.size();
        entries.push_back(std::move(e));
    }
    return entries;
}

// The figures of an export as the count takes them, below its top directory: directories
// (arrays, and mount points excluded as another file system), files (the other entries not
// excluded) and the sum of their apparent sizes.
struct Figures {
    long long dirs = 0, files = 0, bytes = 0;
    bool operator==(const Figures&) const = default;
};

Figures figuresOf(const std::vector<Entry>& entries) {
    Figures f;
    for (const Entry& e : entries) {
        const auto excluded = e.info.find("excluded");
        const bool otherFs = excluded != e.info.end() && excluded->second != "pattern";
        if (e.depth == 0 || (excluded != e.info.end() && !otherFs)) continue;
        ++(e.directory || otherFs ? f.dirs : f.files);
        if (e.info.count("asize") != 0) f.bytes += std::stoll(e.info.at("asize"));
    }
    return f;
}

// The figures of `count --csv` with `options` for `dir`.
Figures countOf(const std::string& dir, const std::string& cwd, Args options = {}) {
    options.insert(options.begin(), {"count", "--csv"});
    options.push_back(dir);
    const CliRun r = runCli(options, cwd);
    Figures f;
    if (std::sscanf(r.out.c_str() + r.out.rfind("\","), "\",%lld,%lld,%lld", &f.dirs, &f.files,
                    &f.bytes) != 3)
        ADD_FAILURE() << r.out;
    return f;
}

// An export as ncdu reads it and writes it again.
std::vector<Entry> throughNcdu(const TempTree& t, const std::string& file) {
    const CliRun r = runProgram("/usr/bin/ncdu", {"-f", file, "-o", "again.json"}, t.root());
    EXPECT_EQ(r.status, 0) << r.err;
    return entriesOf(pelmora::test::readFile(t.path("again.json")));
}

// gdu's total of apparent sizes for an export.
long long gduTotal(const TempTree& t, const std::string& file) {
    const CliRun r =
        runProgram("/usr/bin/gdu", {"-f", file, "-n", "-p", "-s", "-a", "--no-prefix"}, t.root());
    EXPECT_EQ(r.status, 0) << r.err;
    return std::atoll(r.out.c_str());
}

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The entries named `name` at `depth`.
std::vector<const Entry*> named(const std::vector<Entry>& entries, const std::string& name,
                                int depth) {
    std::vector<const Entry*> found;
    for (const Entry& e : entries) {
        if (e.depth == depth && e.info.at("name") == name) found.push_back(&e);
    }
    return found;
}

std::set<std::string> namesAt(const std::vector<Entry>& entries, int depth) {
    std::set<std::string> names;
    for (const Entry& e : entries) {
        if (e.depth == depth) names.insert(e.info.at("name"));
    }
    return names;
}

class NcduExport : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!installed("ncdu") || !installed("gdu")) GTEST_SKIP() << "needs ncdu and gdu";
    }
    TempTree t;
};

TEST_F(NcduExport, HostileNamesLoadInNcduAndGduWithTheCountsFigures) {
    const std::vector<std::string> names = {
        "quo\"te",     "back\\slash",  "new\nline", "tab\there", "ctl\x01\x1f\x7f", "caf\xc3\xa9",
        "bad\xff\xfe", "\xed\xa0\x80", "-rf",       "--help",    " lead space",     "a,b"};
    long long ownSizes = 0;  // of the directories
    for (std::size_t i = 0; i < names.size(); ++i) {
        fileAt(t, "D/" + names[i] + "/" + names[(i + 1) % names.size()], 100 + i);
        ownSizes += sizeOf(t.path("D/" + names[i]));
    }
    fileAt(t, "D/.hidden/x", 5);
    fileAt(t, "D/junk.tmp", 6);
    t.symlink("D/link", "target");
    ASSERT_EQ(::mkfifo(t.path("D/fifo").c_str(), 0644), 0);
    const CliRun r =
        runCli({"count", "--ncdu-export", "out.json", "--exclude", "*.tmp", "D"}, t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "pelmora-cli: 1 hidden entry not counted (use --all)\n");

    const Figures want = countOf("D", t.root(), {"--exclude", "*.tmp"});
    ASSERT_EQ(want.files, static_cast<long long>(names.size()) + 2);  // link and fifo
    const std::vector<Entry> loaded = throughNcdu(t, "out.json");
    EXPECT_EQ(figuresOf(loaded), want);
    EXPECT_EQ(loaded.front().info.at("name"), t.path("D"));
    // Every name byte for byte, those left out listed too.
    std::set<std::string> all(names.begin(), names.end());
    EXPECT_EQ(namesAt(loaded, 2), all);
    all.insert({".hidden", "junk.tmp", "link", "fifo"});
    EXPECT_EQ(namesAt(loaded, 1), all);
    // gdu takes every directory's own size as 4096, the top one's too.
    EXPECT_EQ(gduTotal(t, "out.json"),
              want.bytes - ownSizes + 4096 * static_cast<long long>(names.size() + 1));

    // The same bytes on standard output, but for the time in the metadata.
    const CliRun piped = runCli({"count", "--ncdu-export", "-", "--exclude=*.tmp", "D"}, t.root());
    const std::string file = pelmora::test::readFile(t.path("out.json"));
    EXPECT_EQ(piped.out.substr(piped.out.find("},\n")), file.substr(file.find("},\n")));
}

TEST_F(NcduExport, HardLinksCarryTheirInodeSoNcduAndGduCountThemOnce) {
    const std::string a = fileAt(t, "D/a", 1000);
    t.dir("D/sub");
    ASSERT_EQ(::link(a.c_str(), t.path("D/sub/b").c_str()), 0);
    ASSERT_EQ(runCli({"count", "--ncdu-export", "out.json", "D"}, t.root()).status, 0);
    const Figures counted = countOf("D", t.root());
    EXPECT_EQ(counted.bytes, 2000 + sizeOf(t.path("D/sub")));  // the count takes each link
    const std::vector<Entry> loaded = throughNcdu(t, "out.json");
    EXPECT_EQ(figuresOf(loaded), counted);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    for (const Entry* e : {named(loaded, "a", 1).at(0), named(loaded, "b", 2).at(0)}) {
        EXPECT_EQ(e->info.at("ino"), std::to_string(st.st_ino));
        EXPECT_EQ(e->info.at("nlink"), "2");
    }
    EXPECT_EQ(gduTotal(t, "out.json"), 1000 + 2 * 4096);
}

TEST_F(NcduExport, MountPointIsAnotherFileSystemWithItsOwnSize) {
    fileAt(t, "D/f", 7);
    const pelmora::test::PrivateTmpfs mount(t.dir("D/mnt"), "size=64k");
    if (!mount.ok()) GTEST_SKIP() << mount.why();
    fileAt(t, "D/mnt/inside", 9);
    ASSERT_EQ(runCli({"count", "--ncdu-export", "out.json", "D"}, t.root()).status, 0);
    const Figures loaded = figuresOf(throughNcdu(t, "out.json"));
    EXPECT_EQ(loaded, countOf("D", t.root()));
    EXPECT_EQ(loaded, (Figures{1, 1, 7 + sizeOf(t.path("D/mnt"))}));
}

TEST_F(NcduExport, UnreadableDirectoryIsMarkedAndTheStatusIsOne) {
    ::chmod(t.root().c_str(), 0755);
    fileAt(t, "D/open/f", 3);
    fileAt(t, "D/locked/secret", 5);
    ::chmod(t.path("D/locked").c_str(), 0700);
    const CliRun r = runCli({"count", "--ncdu-export", "-", t.path("D")}, "/",
                            [] { return pelmora::test::dropToNobody(); });
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "pelmora-cli: cannot read directory '" + t.path("D/locked") +
                         "': Permission denied\n");
    pelmora::test::writeBytes(t.path("out.json"), r.out);
    const std::vector<Entry> loaded = throughNcdu(t, "out.json");
    EXPECT_EQ(named(loaded, "locked", 1).at(0)->info.count("read_error"), 1u);
    EXPECT_EQ(named(loaded, "open", 1).at(0)->info.count("read_error"), 0u);
    EXPECT_EQ(namesAt(loaded, 2), std::set<std::string>{"f"});
}

// A chain of `depth` directories "d" below `root`, with a directory "side" holding a file at
// every 250th level, made through descriptors: its paths are far longer than PATH_MAX.
void buildDeepTree(const std::string& root, int depth) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth; ++i) {
        if (i % 250 == 0) {
            ASSERT_EQ(::mkdirat(fd, "side", 0755), 0);
            const int f = ::openat(fd, "side/f", O_WRONLY | O_CREAT, 0644);
            ASSERT_EQ(::ftruncate(f, i + 1), 0);
            ::close(f);
        }
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ASSERT_GE(next, 0);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
}

TEST_F(NcduExport, DeepTreeWithTwoSpareDescriptors) {
    buildDeepTree(t.dir("D"), 2500);
    const CliRun r = runProgram(
        pelmora::test::plainCliPath(), {"count", "--ncdu-export", "-", "D"}, t.root(), [] {
            // Only what pelmora-cli itself opens counts against it.
            return ::close_range(3, ~0U, 0) == 0 && pelmora::test::leaveSpareDescriptors(2);
        });
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 200);
    pelmora::test::writeBytes(t.path("out.json"), r.out);
    const Figures loaded = figuresOf(throughNcdu(t, "out.json"));
    EXPECT_EQ(loaded, countOf("D", t.root()));
    EXPECT_EQ(loaded.dirs, 2510);
}

TEST_F(NcduExport, AFileThatCannotBeWrittenLeavesThePreviousOne) {
    fileAt(t, "D/f", 7);
    const pelmora::test::PrivateTmpfs full(t.dir("full"), "size=64k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    pelmora::test::writeBytes(t.path("full/out.json"), "previous");
    ASSERT_TRUE(pelmora::test::fillUp(t.path("full/filler")));
    const CliRun r = runCli({"count", "--ncdu-export", "full/out.json", "D"}, t.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "pelmora-cli: Disk full.\n");
    EXPECT_EQ(pelmora::test::readFile(t.path("full/out.json")), "previous");
    EXPECT_EQ(pelmora::test::namesIn(t.path("full")),
              (std::vector<std::string>{"filler", "out.json"}));
}

}  // namespace
