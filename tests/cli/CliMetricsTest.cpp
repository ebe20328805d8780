// The Prometheus metrics of an export: the text itself, and pelmora-cli export --metrics as a
// script runs it (which file comes first, what is refused, what a failure leaves behind).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/metrics.h"
#include "tests/cli/CliTree.h"
#include "tests/support/Child.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::cli::ListMetrics;
using pelmora::cli::pathLabels;
using pelmora::test::CliRun;
using pelmora::test::readFile;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using pelmora::test::writeAt;

TEST(Metrics, PathLabelsEscapeAndKeepBytesThatAreNotUtf8) {
    const struct {
        std::string bytes, labels;
    } cases[] = {
        {"/srv/a b,c\ttab\rcr", "path=\"/srv/a b,c\ttab\rcr\""},
        {"a\\b \"q\" two\nlines", "path=\"a\\\\b \\\"q\\\" two\\nlines\""},
        {"\\n", "path=\"\\\\n\""},  // a backslash and an n, no line feed
        {"/srv/caf\xC3\xA9", "path=\"/srv/caf\xC3\xA9\""},
        {"caf\xE9", "path=\"caf\xEF\xBF\xBD\",path_bytes=\"Y2Fm6Q==\""},
        {"\xFF\xFE", "path=\"\xEF\xBF\xBD\xEF\xBF\xBD\",path_bytes=\"//4=\""},
        {"\xC0\xAF", "path=\"\xEF\xBF\xBD\xEF\xBF\xBD\",path_bytes=\"wK8=\""},  // overlong '/'
        {"a\"\xFF", "path=\"a\\\"\xEF\xBF\xBD\",path_bytes=\"YSL/\""},
    };
    for (const auto& c : cases) EXPECT_EQ(pathLabels("path", c.bytes), c.labels) << c.bytes;
}

pelmora::stats::CountResult figures(std::int64_t dirs, std::int64_t files, unsigned __int128 bytes,
                                    std::int64_t unreadable = 0) {
    pelmora::stats::CountResult r;
    r.directories = dirs;
    r.files = files;
    r.exactBytes = bytes;
    r.errorCount = unreadable;
    return r;
}

// One family after the other, each announced once; the exact sum, not the 40-bit one; a blank
// entry without series but counted; the second /srv/a kept apart.
TEST(Metrics, TheWholeTextOfAList) {
    ListMetrics m("/l.pml", false, 100);
    const unsigned __int128 big = (static_cast<unsigned __int128>(1) << 41) + 1;
    m.add("/srv/a", figures(2, 3, big));
    m.add("", figures(0, 0, 0));
    m.add("/srv/a", figures(2, 3, big));
    m.add("/srv/b\"", figures(0, 0, 0, 2));
    const std::string a = "{path=\"/srv/a\",list=\"/l.pml\"} ";
    const std::string a2 = "{path=\"/srv/a\",occurrence=\"2\",list=\"/l.pml\"} ";
    const std::string b = "{path=\"/srv/b\\\"\",list=\"/l.pml\"} ";
    const auto family = [&](const std::string& name, const std::string& help, const std::string& va,
                            const std::string& vb) {
        return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + a + va +
               "\n" + name + a2 + va + "\n" + name + b + vb + "\n";
    };
    const std::string expected =
        family("pelmora_directory_directories",
               "Directories below the watched directory (the directory itself not counted).", "2",
               "0") +
        family("pelmora_directory_files",
               "Files below the watched directory: every entry that is no directory, symbolic "
               "links included.",
               "3", "0") +
        family("pelmora_directory_bytes",
               "Exact sum of the sizes of everything below the watched directory, in bytes. The "
               "data file's byte total is the 40-bit figure, rounded to nearest above 2^40.",
               "2199023255553", "0") +
        family("pelmora_directory_overhead_bytes",
               "Estimated cluster overhead: the entries below the watched directory times half "
               "the cluster size, in bytes.",
               "500", "0") +
        family("pelmora_directory_complete",
               "1 when every directory below the watched directory could be read, else 0.", "1",
               "0") +
        family("pelmora_directory_unreadable_directories",
               "Directories that could not be read: below the watched directory, or the "
               "watched directory itself.",
               "0", "2") +
        "# HELP pelmora_list_last_success_timestamp_seconds When the list's last export "
        "succeeded, in seconds since the epoch.\n"
        "# TYPE pelmora_list_last_success_timestamp_seconds gauge\n"
        "pelmora_list_last_success_timestamp_seconds{list=\"/l.pml\"} 1796826104.321\n"
        "# HELP pelmora_list_count_duration_seconds How long the last export took to count the "
        "list, in seconds.\n"
        "# TYPE pelmora_list_count_duration_seconds gauge\n"
        "pelmora_list_count_duration_seconds{list=\"/l.pml\"} 0.001500\n"
        "# HELP pelmora_list_entries Entries of the list, one per line of its data file, blank "
        "and repeated ones included.\n"
        "# TYPE pelmora_list_entries gauge\n"
        "pelmora_list_entries{list=\"/l.pml\"} 4\n";
    EXPECT_EQ(m.text(1796826104321000000, 1500000), expected);
}

TEST(Metrics, SpaceOnDiskOnlyWhenCountedAndSumsBeyond64Bits) {
    pelmora::stats::CountResult r = figures(0, 1, (static_cast<unsigned __int128>(1) << 70) + 1);
    r.allocatedBytes = UINT64_MAX;
    ListMetrics with("/l", true, 0), without("/l", false, 0);
    with.add("/x", r);
    without.add("/x", r);
    const std::string text = with.text(0, 0);
    EXPECT_NE(text.find("\npelmora_directory_bytes{path=\"/x\",list=\"/l\"} "
                        "1180591620717411303425\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("# TYPE pelmora_directory_allocated_bytes gauge\n"
                        "pelmora_directory_allocated_bytes{path=\"/x\",list=\"/l\"} "
                        "18446744073709551615\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(without.text(0, 0).find("allocated"), std::string::npos);
}

// A text of many blocks: every sample once, in order, none lost where a block ends.
TEST(Metrics, ALongListComesWhole) {
    ListMetrics m("/l", false, 0);
    for (int i = 0; i < 3000; ++i) m.add("/d" + std::to_string(i), figures(0, i, 7 * i));
    std::size_t pieces = 0;
    std::string text;
    m.write(
        [&](std::string_view piece) {
            ++pieces;
            text.append(piece);
        },
        0, 0);
    EXPECT_GT(pieces, 2u);
    // Each family's samples in order: the i-th holds entry i's figure.
    std::istringstream lines(text);
    int bytes = 0, files = 0;
    const auto sample = [](const char* name, int i, int value) {
        return std::string(name) + "{path=\"/d" + std::to_string(i) + "\",list=\"/l\"} " +
               std::to_string(value);
    };
    for (std::string line; std::getline(lines, line);) {
        if (line == sample("pelmora_directory_bytes", bytes, 7 * bytes)) ++bytes;
        if (line == sample("pelmora_directory_files", files, files)) ++files;
    }
    EXPECT_EQ(bytes, 3000);
    EXPECT_EQ(files, 3000);
    EXPECT_TRUE(text.ends_with("\npelmora_list_entries{list=\"/l\"} 3000\n"));
}

// ---- pelmora-cli export --metrics -------------------------------------------------------------

struct Fixture {
    TempTree t;
    std::string list = writeAt(t, "L.PML", t.path("tree") + "\r\n");
    Fixture() { pelmora::test::fileAt(t, "tree/sub/f", 1000); }
};

std::string sampleOf(const std::string& text, const std::string& name) {
    const std::size_t at = text.find("\n" + name + "{");
    if (at == std::string::npos) return "(none)";
    const std::size_t value = text.find("} ", at) + 2;
    return text.substr(value, text.find('\n', value) - value);
}

TEST(CliMetrics, ExportWritesTheDataFileFiguresAndTellsOfTheList) {
    Fixture f;
    const CliRun r = runCli({"export", "--metrics", "m.prom", "L.PML"}, f.t.root());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "File L.TXT created.\n");
    const std::string line = readFile(f.t.path("L.TXT"));  // "tree",1,1,BYTES,OVERHEAD
    const std::string text = readFile(f.t.path("m.prom"));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::string numbers = line.substr(line.rfind("\",") + 2);
    std::replace(numbers.begin(), numbers.end(), ',', ' ');
    std::istringstream fields(numbers);
    for (const char* name : {"directories", "files", "bytes", "overhead_bytes"}) {
        std::string field;
        fields >> field;
        EXPECT_EQ(sampleOf(text, std::string("pelmora_directory_") + name), field) << name;
    }
    EXPECT_NE(text.find("{path=\"" + f.t.path("tree") + "\",list=\"" + f.list + "\"}"),
              std::string::npos)
        << text;
    const long long stamp =
        std::stoll(sampleOf(text, "pelmora_list_last_success_timestamp_seconds"));
    EXPECT_LE(std::abs(stamp - static_cast<long long>(::time(nullptr))), 60);
    EXPECT_EQ(sampleOf(text, "pelmora_list_entries"), "1");

    // An empty list: no data file, but metrics that say so.
    pelmora::test::writeBytes(f.list, "");
    const CliRun empty = runCli({"export", "--metrics", "m.prom", "L.PML"}, f.t.root());
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(empty.out, "The list is empty.\n");
    const std::string none = readFile(f.t.path("m.prom"));
    EXPECT_EQ(sampleOf(none, "pelmora_list_entries"), "0");
    EXPECT_EQ(none.find("pelmora_directory_"), std::string::npos) << none;
}

TEST(CliMetrics, StandardOutputHoldsTheMetricsAlone) {
    Fixture f;
    for (const char* command : {"export", "snapshot"}) {
        const CliRun r = runCli({command, "--metrics", "-", "L.PML"}, f.t.root());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("# HELP pelmora_directory_directories ", 0), 0u) << r.out;
        EXPECT_EQ(sampleOf(r.out, "pelmora_list_entries"), "1") << command;
    }
    EXPECT_NE(readFile(f.t.path("L.TXT")), "");
    EXPECT_NE(readFile(f.t.path("L.history.sqlite")), "");
    const CliRun both = runCli({"export", "-o", "-", "--metrics", "-", "L.PML"}, f.t.root());
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err,
              "pelmora-cli: export: --output and --metrics cannot both be standard "
              "output\n");
}

// A file the data file would not be written to is refused before the count, and nothing else
// changes: the previous data file stays, no temporary file is left.
TEST(CliMetrics, RefusedBeforeTheCount) {
    Fixture f;
    f.t.write("L.TXT", "old data\r\n");
    f.t.write("L.history.sqlite", "");
    f.t.symlink("dangling.prom", f.t.path("nowhere/m.prom"));
    ASSERT_EQ(::mkfifo(f.t.path("fifo.prom").c_str(), 0644), 0);
    f.t.dir("folder.prom");
    const struct {
        std::string metrics, why;
    } cases[] = {
        {"L.PML", "Cannot create file L.PML: it is the list file itself."},
        {"L.TXT", "Cannot create file L.TXT: it is the data file itself."},
        {"L.history.sqlite", "Cannot create file L.history.sqlite: it is the list's history."},
        {"dangling.prom", "Cannot create file dangling.prom."},
        {"fifo.prom", "Cannot create file fifo.prom."},
        {"folder.prom", "Cannot create file folder.prom."},
    };
    const std::vector<std::string> before = pelmora::test::namesIn(f.t.root());
    for (const auto& c : cases) {
        const CliRun r = runCli({"export", "--metrics", c.metrics, "L.PML"}, f.t.root());
        EXPECT_EQ(r.status, 3) << c.metrics;
        EXPECT_EQ(r.err, "pelmora-cli: " + c.why + "\n");
        EXPECT_EQ(readFile(f.t.path("L.TXT")), "old data\r\n");
        EXPECT_EQ(readFile(f.list), f.t.path("tree") + "\r\n");
        EXPECT_EQ(pelmora::test::namesIn(f.t.root()), before);
    }
}

// The metrics tell of a success: when the data file or the history fails, or the metrics
// themselves cannot be written, the previous metrics stay as they were.
TEST(CliMetrics, WrittenLastAndOnlyAfterASuccess) {
    Fixture f;
    const std::string old = "pelmora_list_entries{list=\"old\"} 1\n";
    f.t.write("m.prom", old);
    f.t.dir("L.TXT");
    const CliRun noData = runCli({"export", "--metrics", "m.prom", "L.PML"}, f.t.root());
    EXPECT_EQ(noData.status, 3);
    EXPECT_EQ(readFile(f.t.path("m.prom")), old);

    f.t.write("L.history.sqlite", "not a database, not at all, not even close to one\n");
    const CliRun noHistory =
        runCli({"export", "--history", "-o", "D.TXT", "--metrics", "m.prom", "L.PML"}, f.t.root());
    EXPECT_EQ(noHistory.status, 3);
    EXPECT_NE(readFile(f.t.path("D.TXT")), "");
    EXPECT_EQ(readFile(f.t.path("m.prom")), old);

    const pelmora::test::PrivateTmpfs full(f.t.dir("full"), "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    f.t.write("full/m.prom", old);
    ASSERT_TRUE(pelmora::test::fillUp(f.t.path("full/filler")));
    const CliRun diskFull =
        runCli({"export", "-o", "D.TXT", "--metrics", "full/m.prom", "L.PML"}, f.t.root());
    EXPECT_EQ(diskFull.status, 3);
    EXPECT_EQ(diskFull.out, "File D.TXT created.\n");
    EXPECT_EQ(diskFull.err, "pelmora-cli: Cannot write file full/m.prom: Disk full.\n");
    EXPECT_EQ(readFile(f.t.path("full/m.prom")), old);
    EXPECT_EQ(pelmora::test::namesIn(f.t.path("full")),
              (std::vector<std::string>{"filler", "m.prom"}));
}

}  // namespace
