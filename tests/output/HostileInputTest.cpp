// Hostile list files and entries: a directory where a list file should be, a list of 100 MB,
// a line of 100,000 bytes, and entries full of quotes, commas, blanks, tabs, ".." and bytes
// that are not UTF-8. What is saved loads back the same, and every data-file line reads back
// with a standard CSV reading as the entry and four numbers.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/ioerror.h"
#include "platform/locale.h"
#include "stats/counting.h"
#include "tests/support/Child.h"
#include "tests/support/ExportList.h"
#include "tests/support/TempTree.h"

using namespace pelmora;
using test::errorOf;
using test::writeBytes;
using Lines = std::vector<std::string>;

namespace {

// RFC 4180: records end in CR LF; a field in double quotes may hold commas, CR, LF and "" for
// one quote. Returns false for a text that is not a sequence of well-formed records.
bool readCsv(const std::string& text, std::vector<Lines>& records) {
    std::size_t i = 0;
    while (i < text.size()) {
        Lines fields;
        for (;;) {
            std::string field;
            if (i < text.size() && text[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= text.size()) return false;
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += text[i++];
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                    if (text[i] == '"') return false;
                    field += text[i++];
                }
            }
            fields.push_back(field);
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (text.compare(i, 2, "\r\n") != 0) return false;
            i += 2;
            break;
        }
        records.push_back(fields);
    }
    return true;
}

// The same file read by Python's csv module, every field hex-encoded; empty when no Python
// is at hand.
std::string pythonCsv(const std::string& path) {
    const std::string cmd =
        "python3 -c \"import csv,sys\n"
        "with open(sys.argv[1], newline='', encoding='latin-1') as f:\n"
        "  for row in csv.reader(f, strict=True):\n"
        "    print(' '.join(x.encode('latin-1').hex() or '-' for x in row))\" '" +
        path + "' 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        if (::pclose(p) != 0) return "";
    }
    return out;
}

std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h.empty() ? "-" : h;
}

// Directory names a user may well have, or an attacker may plant.
const Lines kHostileNames = {
    "say \"hi\"",
    "\"",
    "\"\"",
    "a,b,c",
    ",",
    "with space",
    "  leading",
    "trailing  ",
    "tab\there",
    "\t",
    "\xff\xfe",
    "caf\xe9",
    "mixed \"q\",\t\xc3\x28 x",
    "=cmd|' /C calc'!A0",
    "semi;colon",
    "back\\slash",
    "...",
    "-dash",
};

TEST(HostileEntries, SavedListLoadsBackTheSame) {
    test::TempTree t;
    list::WatchedList l;
    for (const std::string& n : kHostileNames) {
        l.add("/x/" + n);
        l.add(n);
    }
    for (const char* e : {"..", "/a/../b", "../..", " ", "", "/", "/x/", "a/./b"}) l.add(e);
    const Lines before = l.entries();
    const std::string path = t.path("H.PML");
    list::saveList(l, path);
    EXPECT_EQ(test::readFile(path), list::formatListText(before));
    list::WatchedList back;
    list::loadList(back, path);
    EXPECT_EQ(back.entries(), before);
    // And once more: a second round trip changes nothing.
    list::saveList(back, path);
    EXPECT_EQ(test::readFile(path), list::formatListText(before));
}

TEST(HostileEntries, DataFileLinesReadBackAsEntryAndFourNumbers) {
    test::TempTree t;
    t.dir("dots/inner");
    Lines entries;
    for (const std::string& n : kHostileNames) {
        t.dir(n + "/sub");
        t.file(n + "/sub/file", 1000);
        t.file(n + "/f", 24);
        entries.push_back(t.path(n));
    }
    entries.push_back(t.path("dots/inner/.."));    // the same as dots
    entries.push_back(t.path("dots/../dots/"));    // a trailing delimiter too
    entries.push_back(t.path("missing \"one\""));  // does not exist: zeros
    const std::string listPath = t.path("H.PML");
    const std::string name = test::exportList(entries, listPath, stats::EntryOverhead);
    const std::string text = test::readFile(name);

    std::vector<Lines> records;
    ASSERT_TRUE(readCsv(text, records)) << text;
    ASSERT_EQ(records.size(), entries.size());
    std::string expectedHex;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        stats::CountTree(entries[i]);
        const Lines want = {entries[i], std::to_string(stats::DirStats.DirCount),
                            std::to_string(stats::DirStats.FileCount),
                            stats::DirStats.ByteTotal.toFixed0(),
                            std::to_string(stats::TreeOverhead())};
        EXPECT_EQ(records[i], want) << "line " << i;
        for (std::size_t f = 0; f < want.size(); ++f) expectedHex += (f ? " " : "") + hex(want[f]);
        expectedHex += "\n";
    }
    // The hostile directories hold one subdirectory and two files each.
    EXPECT_EQ(records[0][1], "1");
    EXPECT_EQ(records[0][2], "2");
    EXPECT_EQ(records[entries.size() - 3][1], "1");  // dots/inner/.. is dots
    EXPECT_EQ(records.back()[1], "0");

    const std::string py = pythonCsv(name);
    if (!py.empty()) {
        EXPECT_EQ(py, expectedHex);
    }
}

TEST(HostileListFile, DirectoryInPlaceOfTheListFile) {
    test::TempTree t;
    const std::string dir = t.dir("LIST.PML");
    list::WatchedList l;
    l.add("/keep");
    EXPECT_EQ(errorOf([&] { list::loadList(l, dir); }), "Cannot open file " + dir);
    EXPECT_EQ(errorOf([&] { list::saveList(l, dir); }), "Cannot create file " + dir);
    EXPECT_EQ(l.entries(), Lines{"/keep"});
    const test::CliRun r = test::runCli({"export", dir}, t.root());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "pelmora-cli: File " + dir + " not found.\n");
}

TEST(HostileListFile, LineOfAHundredThousandBytesIsKeptWhole) {
    test::TempTree t;
    std::string huge = "/";
    for (int i = 0; huge.size() < 100000; ++i) huge += "seg" + std::to_string(i) + "/";
    huge.resize(100000);
    const std::string path = t.path("L.PML");
    writeBytes(path, "/b\r\n" + huge + "\r\n/a\r\n");
    list::WatchedList l;
    list::loadList(l, path);
    ASSERT_EQ(l.count(), 3);
    EXPECT_TRUE(l.entries() == (Lines{"/a", "/b", huge}));
    list::saveList(l, path);
    EXPECT_TRUE(test::readFile(path) == "/a\r\n/b\r\n" + huge + "\r\n");
    // Counting such a path finds nothing (the name is too long) and does not fail.
    const output::LineFigures f = output::figuresOf(stats::CountTree(huge), stats::EntryOverhead);
    EXPECT_EQ(f.dirCount, 0);
    EXPECT_EQ(f.fileCount, 0);
    // Its data-file line is still one record.
    test::exportList(l.entries(), path, stats::EntryOverhead);
    std::vector<Lines> records;
    ASSERT_TRUE(readCsv(test::readFile(t.path("L.TXT")), records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(records[2] == (Lines{huge, "0", "0", "0", "0"}));
}

TEST(HostileListFile, HundredMegabyteListLoadsSortedInBoundedMemory) {
    test::TempTree t;
    const std::string path = t.path("BIG.PML");
    constexpr std::size_t kTarget = 100u * 1024 * 1024;
    constexpr std::size_t kLineLength = 1000;  // bytes before CR LF
    std::size_t lines = 0;
    {
        std::string text;
        text.reserve(kTarget + kLineLength + 2);
        unsigned seed = 12345;
        const std::string pad(kLineLength, 'p');
        while (text.size() < kTarget) {
            seed = seed * 1103515245u + 12345u;
            std::string head =
                "/Vol" + std::to_string(seed % 100000) + "/d" + std::to_string(lines) + "/";
            text += head;
            text.append(pad, 0, kLineLength - head.size());
            text += "\r\n";
            ++lines;
        }
        writeBytes(path, text);
    }
    const std::size_t fileSize =
        static_cast<std::size_t>(kTarget / (kLineLength + 2) + 1) * (kLineLength + 2);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ASSERT_EQ(static_cast<std::size_t>(st.st_size), fileSize);

    EXPECT_EQ("", test::inChild([&]() -> std::string {
                  struct rusage before {};
                  ::getrusage(RUSAGE_SELF, &before);
                  list::WatchedList l;
                  list::loadList(l, path);
                  struct rusage after {};
                  ::getrusage(RUSAGE_SELF, &after);
                  if (static_cast<std::size_t>(l.count()) != lines)
                      return "loaded " + std::to_string(l.count()) + " lines";
                  const Lines& e = l.entries();
                  for (std::size_t i = 1; i < e.size(); ++i)
                      if (platform::compareTextIgnoreCase(e[i - 1], e[i]) > 0)
                          return "not sorted at " + std::to_string(i);
                  for (const std::string& s : e)
                      if (s.size() != kLineLength) return "a line was cut";
                  // The text, its lines and the sort's buffer: a few times the file, no more.
                  const long grownKb = after.ru_maxrss - before.ru_maxrss;
                  const long limitKb = static_cast<long>(4 * fileSize / 1024);
                  if (grownKb > limitKb)
                      return "peak memory grew by " + std::to_string(grownKb) + " KiB";
                  return "";
              }));
}

// Short lines cost little beside their text: 20 MB of bare line feeds (20 million empty
// entries) once took 1 GB, 53 bytes a line; now each entry costs 12 bytes and loading about 24
// bytes more. Five million lines show it.
TEST(HostileListFile, MillionsOfEmptyLinesLoadInBoundedMemory) {
    test::TempTree t;
    const std::string path = t.path("LF.PML");
    constexpr std::size_t kLines = 5'000'000;
    writeBytes(path, std::string(kLines, '\n'));
    EXPECT_EQ("", test::inChild([&]() -> std::string {
                  struct rusage before {};
                  ::getrusage(RUSAGE_SELF, &before);
                  list::WatchedList l;
                  list::loadList(l, path);
                  struct rusage after {};
                  ::getrusage(RUSAGE_SELF, &after);
                  if (static_cast<std::size_t>(l.count()) != kLines)
                      return "loaded " + std::to_string(l.count()) + " lines";
                  if (l.at(0) != "" || l.at(l.count() - 1) != "") return "lines not empty";
                  // 36 bytes a line at the peak: the file, the entries and the sort's keys.
                  const long grownKb = after.ru_maxrss - before.ru_maxrss;
                  const long limitKb = static_cast<long>(36 * kLines / 1024);
                  if (grownKb > limitKb)
                      return "peak memory grew by " + std::to_string(grownKb) + " KiB";
                  std::fprintf(stderr, "peak memory grew by %ld KiB\n", grownKb);
                  return "";
              }));
}

}  // namespace
