// pelmora-cli count --ncdu-export, held against the real ncdu and gdu: both load the file, and
// their figures are the count's, hostile names, hard links, mount points, unreadable and very
// deep directories included.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// An entry of an ncdu export as read back: its info object's members (strings unescaped to
// their bytes, other values as their text) and, for a directory, its entries.
struct Item {
    bool directory = false;
    std::map<std::string, std::string> info;
    std::vector<Item> entries;
};

// Reads ncdu's JSON: strings may hold any byte; \uXXXX becomes UTF-8.
class Reader {
  public:
    explicit Reader(const std::string& text) : m_s(text) {}

    // [major, minor, {metadata}, directory]; false when the text is not that.
    bool file(Item& top) {
        std::map<std::string, std::string> ignored;
        return take('[') && !scalar().empty() && take(',') && !scalar().empty() && take(',') &&
               object(ignored) && take(',') && item(top) && take(']');
    }

  private:
    bool item(Item& out) {
        space();
        if (m_i < m_s.size() && m_s[m_i] == '{') return object(out.info);
        out.directory = true;
        if (!take('[') || !object(out.info)) return false;
        while (take(',')) {
            out.entries.emplace_back();
            if (!item(out.entries.back())) return false;
        }
        return take(']');
    }
    bool object(std::map<std::string, std::string>& members) {
        if (!take('{')) return false;
        if (take('}')) return true;
        do {
            std::string key, value;
            if (!string(key) || !take(':')) return false;
            space();
            if (m_i < m_s.size() && m_s[m_i] == '"' ? !string(value) : (value = scalar()).empty())
                return false;
            members[key] = value;
        } while (take(','));
        return take('}');
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        while (m_i < m_s.size() && m_s[m_i] != '"') {
            char c = m_s[m_i++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_i >= m_s.size()) return false;
            c = m_s[m_i++];
            const std::string simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (const std::size_t k = simple.find(c); k != std::string::npos) {
                out += meant[k];
            } else if (c == 'u' && m_i + 4 <= m_s.size()) {
                const unsigned v = std::stoul(m_s.substr(m_i, 4), nullptr, 16);
                m_i += 4;
                if (v < 0x80) {
                    out += static_cast<char>(v);
                } else if (v < 0x800) {
                    out += static_cast<char>(0xC0 | v >> 6);
                    out += static_cast<char>(0x80 | (v & 63));
                } else {
                    out += static_cast<char>(0xE0 | v >> 12);
                    out += static_cast<char>(0x80 | ((v >> 6) & 63));
                    out += static_cast<char>(0x80 | (v & 63));
                }
            } else {
                return false;
            }
        }
        return take('"');
    }
    std::string scalar() {
        space();
        const std::size_t from = m_i;
        while (m_i < m_s.size() && std::string(",]}: \n\t\r").find(m_s[m_i]) == std::string::npos)
            ++m_i;
        return m_s.substr(from, m_i - from);
    }
    bool take(char c) {
        space();
        if (m_i >= m_s.size() || m_s[m_i] != c) return false;
        ++m_i;
        return true;
    }
    void space() {
        while (m_i < m_s.size() && std::string(" \n\t\r").find(m_s[m_i]) != std::string::npos)
            ++m_i;
    }

    const std::string& m_s;
    std::size_t m_i = 0;
};

// The figures of an export as the count takes them, below its top directory: directories
// (arrays, and mount points excluded as another file system), files (the other entries not
// excluded) and the sum of their apparent sizes.
struct Figures {
    long long dirs = 0, files = 0, bytes = 0;
    bool operator==(const Figures&) const = default;
};

void addUp(const Item& dir, Figures& f) {
    for (const Item& e : dir.entries) {
        const auto excluded = e.info.find("excluded");
        const bool otherFs = excluded != e.info.end() && excluded->second != "pattern";
        if (excluded != e.info.end() && !otherFs) continue;
        ++(e.directory || otherFs ? f.dirs : f.files);
        if (e.info.count("asize") != 0) f.bytes += std::stoll(e.info.at("asize"));
        if (e.directory) addUp(e, f);
    }
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
Item throughNcdu(const TempTree& t, const std::string& file) {
    const CliRun r = runProgram("/usr/bin/ncdu", {"-f", file, "-o", "again.json"}, t.root());
    EXPECT_EQ(r.status, 0) << r.err;
    Item top;
    EXPECT_TRUE(Reader(pelmora::test::readFile(t.path("again.json"))).file(top));
    return top;
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

const Item& entryOf(const Item& dir, const std::string& name) {
    for (const Item& e : dir.entries) {
        if (e.info.at("name") == name) return e;
    }
    ADD_FAILURE() << "no entry " << name;
    return dir;
}

std::set<std::string> namesOf(const Item& dir) {
    std::set<std::string> names;
    for (const Item& e : dir.entries) names.insert(e.info.at("name"));
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
    std::vector<std::string> dirs;
    for (std::size_t i = 0; i < names.size(); ++i) {
        fileAt(t, "D/" + names[i] + "/" + names[(i + 1) % names.size()], 100 + i);
        dirs.push_back(t.path("D/" + names[i]));
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
    const Item top = throughNcdu(t, "out.json");
    Figures loaded;
    addUp(top, loaded);
    EXPECT_EQ(loaded, want);
    EXPECT_EQ(top.info.at("name"), t.path("D"));
    std::set<std::string> all(names.begin(), names.end());
    all.insert({".hidden", "junk.tmp", "link", "fifo"});
    EXPECT_EQ(namesOf(top), all);  // every name byte for byte, those left out listed too
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(namesOf(entryOf(top, names[i])),
                  std::set<std::string>{names[(i + 1) % names.size()]});

    // gdu takes every directory's own size as 4096, and the top one's too.
    long long ownSizes = 0;
    for (const std::string& d : dirs) ownSizes += sizeOf(d);
    EXPECT_EQ(gduTotal(t, "out.json"),
              want.bytes - ownSizes + 4096 * static_cast<long long>(dirs.size() + 1));

    // The same bytes on standard output, but for the time in the metadata.
    const CliRun piped = runCli({"count", "--ncdu-export", "-", "--exclude=*.tmp", "D"}, t.root());
    ASSERT_EQ(piped.status, 0) << piped.err;
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
    const Item top = throughNcdu(t, "out.json");
    Figures loaded;
    addUp(top, loaded);
    EXPECT_EQ(loaded, counted);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    for (const Item* e : {&entryOf(top, "a"), &entryOf(entryOf(top, "sub"), "b")}) {
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
    const Item top = throughNcdu(t, "out.json");
    Figures loaded;
    addUp(top, loaded);
    EXPECT_EQ(loaded, countOf("D", t.root()));
    EXPECT_EQ(loaded.dirs, 1);
    EXPECT_EQ(loaded.bytes, 7 + sizeOf(t.path("D/mnt")));
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
    const Item top = throughNcdu(t, "out.json");
    ASSERT_EQ(top.entries.size(), 2u);
    for (const Item& e : top.entries) {
        const bool locked = e.info.at("name") == "locked";
        EXPECT_EQ(e.info.count("read_error"), locked ? 1u : 0u);
        EXPECT_EQ(e.entries.size(), locked ? 0u : 1u);
    }
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
    const Item top = throughNcdu(t, "out.json");
    Figures loaded;
    addUp(top, loaded);
    EXPECT_EQ(loaded, countOf("D", t.root()));
    EXPECT_EQ(loaded.dirs, 2510);
    EXPECT_EQ(loaded.files, 10);
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
