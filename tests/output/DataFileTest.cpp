// The data file: its name, its lines byte for byte, the export loop and the file on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "output/DataFile.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/TempTree.h"
#include "platform/ioerror.h"
#include "stats/counting.h"

using namespace pelmora;
using output::LineFigures;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

LineFigures figures(std::int64_t dirs, std::int64_t files, std::int64_t bytes,
                    std::int64_t overhead) {
    LineFigures f;
    f.dirCount = dirs;
    f.fileCount = files;
    f.byteTotal = stats::Real48::fromInt(bytes);
    f.overhead = overhead;
    return f;
}

// Records every write step; can be told to fail at a given write or at close.
class RecordingSink : public output::DataSink {
  public:
    std::vector<std::string> writes;
    int closes = 0;
    int failAtWrite = -1;  // 0-based index of the write that fails
    bool failAtClose = false;

    void write(std::string_view bytes) override {
        if (static_cast<int>(writes.size()) == failAtWrite)
            throw platform::InOutError(platform::kDiskFull);
        writes.emplace_back(bytes);
    }
    void close() override {
        ++closes;
        if (failAtClose) throw platform::InOutError(platform::kAccessDenied);
    }
    std::string bytes() const {
        std::string all;
        for (const std::string& w : writes) all += w;
        return all;
    }
};

std::string lineOf(std::string_view entry, const LineFigures& f) {
    RecordingSink sink;
    output::writeDataLine(sink, entry, f);
    return sink.bytes();
}

// The overhead per entry the tests export with: 1 directory and 2 files give 6.
constexpr std::int32_t kOverhead = 2;

// A counter that hands out fixed figures (1 directory, 2 files, 3 bytes) and remembers what
// it was asked.
struct FakeCounter {
    std::vector<std::string> asked;
    output::CountFunction function() {
        return [this](std::size_t, std::string_view dir) {
            asked.emplace_back(dir);
            stats::CountResult r;
            r.directories = 1;
            r.files = 2;
            r.byteTotal = stats::Real48::fromInt(3);
            return r;
        };
    }
};

// The export as the window and pelmora-cli run it: the data file beside the list, made before
// the first count.
std::string exportBeside(const std::vector<std::string>& entries, const std::string& listFile,
                         const output::CountFunction& count,
                         const output::ProgressFunction& progress = {},
                         std::int32_t overhead = kOverhead) {
    const std::string name = output::dataFileName(listFile);
    output::FileSink sink(name, listFile);
    output::writeDataFile(entries, sink, count, overhead, {}, progress);
    return name;
}

stats::CountResult counted(std::int64_t dirs, std::int64_t files, std::int64_t bytes) {
    stats::CountResult r;
    r.directories = dirs;
    r.files = files;
    r.byteTotal = stats::Real48::fromInt(bytes);
    return r;
}

}  // namespace

// ---- name ---------------------------------------------------------------------------------

TEST(DataFileName, ReplacesTheListExtensionByTxt) {
    EXPECT_EQ(output::dataFileName("/tools/DEFAULT.PML"), "/tools/DEFAULT.TXT");
    EXPECT_EQ(output::dataFileName("/lists/WEEKLY.PML"), "/lists/WEEKLY.TXT");
    EXPECT_EQ(output::dataFileName("/lists/MY.OLD.PML"), "/lists/MY.OLD.TXT");
    EXPECT_EQ(output::dataFileName("/lists/PLAIN"), "/lists/PLAIN.TXT");
}

TEST(DataFileName, KeepsCaseAndIgnoresDotsInDirectories) {
    EXPECT_EQ(output::dataFileName("/home/u/week.pml"), "/home/u/week.TXT");
    EXPECT_EQ(output::dataFileName("/srv/lists.d/plain"), "/srv/lists.d/plain.TXT");
    EXPECT_EQ(output::dataFileName("relative.pml"), "relative.TXT");
}

// ---- one line -----------------------------------------------------------------------------

TEST(DataLine, WorkedExampleIs28Bytes) {
    const std::string line = lineOf("C:\\WORK\\DOCS", output::figuresOf(counted(1, 2, 950), 256));
    EXPECT_EQ(line, "\"C:\\WORK\\DOCS\",1,2,950,768\r\n");
    EXPECT_EQ(line.size(), 28u);
}

TEST(DataLine, IsWrittenInFiveSteps) {
    RecordingSink sink;
    output::writeDataLine(sink, "/work/docs", figures(1, 2, 950, 768));
    const std::vector<std::string> expected = {"\"/work/docs\",", "1,", "2,", "950,", "768\r\n"};
    EXPECT_EQ(sink.writes, expected);
}

TEST(DataLine, RootCommaAndOddBytesAreWrittenUnchanged) {
    EXPECT_EQ(lineOf("/", figures(0, 0, 0, 0)), "\"/\",0,0,0,0\r\n");
    EXPECT_EQ(lineOf("/data/a,b", figures(3, 4, 5, 6)), "\"/data/a,b\",3,4,5,6\r\n");
    EXPECT_EQ(lineOf("/data/\xff\xfe name\t", figures(0, 1, 2, 3)),
              "\"/data/\xff\xfe name\t\",0,1,2,3\r\n");
}

TEST(DataLine, QuoteInsideTheEntryIsDoubled) {
    EXPECT_EQ(lineOf("/data/say \"hi\"", figures(0, 0, 0, 0)),
              "\"/data/say \"\"hi\"\"\",0,0,0,0\r\n");
    EXPECT_EQ(lineOf("\"", figures(0, 0, 0, 0)), "\"\"\"\",0,0,0,0\r\n");
}

TEST(DataLine, LargeOverheadDoesNotWrap) {
    const std::string line = lineOf("/big", output::figuresOf(counted(50000, 150000, 0), 16384));
    EXPECT_EQ(line, "\"/big\",50000,150000,0,3276800000\r\n");
}

TEST(DataLine, ByteTotalIsPlainDigits) {
    EXPECT_EQ(lineOf("/x", figures(0, 0, 0, 0)), "\"/x\",0,0,0,0\r\n");
    const std::string big = lineOf("/x", figures(0, 1, std::int64_t{1} << 40, 0));
    EXPECT_EQ(big, "\"/x\",0,1,1099511627776,0\r\n");
    // Thousands of millions and more stay free of separators whatever the locale.
    EXPECT_EQ(lineOf("/x", figures(12345, 67890, 9876543210, 1234567890123)),
              "\"/x\",12345,67890,9876543210,1234567890123\r\n");
}

TEST(DataLine, CompressedVolumeGivesZeroOverhead) {
    EXPECT_EQ(lineOf("/c", output::figuresOf(counted(7, 9, 100), 0)), "\"/c\",7,9,100,0\r\n");
}

// ---- the export loop ----------------------------------------------------------------------

TEST(WriteDataFile, OneLinePerEntryInOrderAndNothingMore) {
    RecordingSink sink;
    FakeCounter counter;
    std::vector<int> progress;
    const std::vector<std::string> entries = {"/b", "/a", "/c"};
    output::writeDataFile(entries, sink, counter.function(), kOverhead, {},
                          [&](int done) { progress.push_back(done); });
    EXPECT_EQ(sink.bytes(), "\"/b\",1,2,3,6\r\n\"/a\",1,2,3,6\r\n\"/c\",1,2,3,6\r\n");
    EXPECT_EQ(counter.asked, entries);
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(sink.closes, 1);
}

TEST(WriteDataFile, EmptyEntryIsNotCountedAndGetsZeros) {
    RecordingSink sink;
    FakeCounter counter;
    output::writeDataFile({"", "/a"}, sink, counter.function(), kOverhead);
    EXPECT_EQ(sink.bytes(), "\"\",0,0,0,0\r\n\"/a\",1,2,3,6\r\n");
    EXPECT_EQ(counter.asked, std::vector<std::string>{"/a"});
}

TEST(WriteDataFile, FailedWriteStopsTheExport) {
    RecordingSink sink;
    sink.failAtWrite = 7;  // the third write step of the second line
    FakeCounter counter;
    std::vector<int> progress;
    try {
        output::writeDataFile({"/a", "/b", "/c"}, sink, counter.function(), kOverhead, {},
                              [&](int done) { progress.push_back(done); });
        FAIL() << "no error raised";
    } catch (const platform::InOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
        EXPECT_EQ(e.code(), platform::kDiskFull);
    }
    EXPECT_EQ(counter.asked, (std::vector<std::string>{"/a", "/b"}));
    EXPECT_EQ(progress, std::vector<int>{1});
    EXPECT_EQ(sink.closes, 0);
    EXPECT_EQ(sink.bytes(), "\"/a\",1,2,3,6\r\n\"/b\",1,");
}

TEST(WriteDataFile, FailedCloseIsRaised) {
    RecordingSink sink;
    sink.failAtClose = true;
    FakeCounter counter;
    EXPECT_THROW(output::writeDataFile({"/a"}, sink, counter.function(), kOverhead),
                 platform::InOutError);
    EXPECT_EQ(sink.closes, 1);
}

TEST(WriteDataFile, CountErrorPropagatesBeforeTheLine) {
    RecordingSink sink;
    const output::CountFunction broken = [](std::size_t, std::string_view) -> stats::CountResult {
        throw platform::PelmoraError("count failed");
    };
    EXPECT_THROW(output::writeDataFile({"/a"}, sink, broken, kOverhead), platform::PelmoraError);
    EXPECT_TRUE(sink.writes.empty());
    EXPECT_EQ(sink.closes, 0);
}

// ---- the file on disk ---------------------------------------------------------------------

TEST(ExportDataFile, WritesTheFileBesideTheList) {
    test::TempTree dir;
    FakeCounter counter;
    const std::string name = exportBeside({"/a", "/b"}, dir.path("week.pml"), counter.function());
    EXPECT_EQ(name, dir.path("week.TXT"));
    EXPECT_EQ(test::readFile(name), "\"/a\",1,2,3,6\r\n\"/b\",1,2,3,6\r\n");
}

TEST(ExportDataFile, ReplacesAPreviousFileInFull) {
    test::TempTree dir;
    writeFile(dir.path("L.TXT"), std::string(5000, 'x'));
    FakeCounter counter;
    exportBeside({"/a"}, dir.path("L.PML"), counter.function());
    const std::string first = test::readFile(dir.path("L.TXT"));
    EXPECT_EQ(first, "\"/a\",1,2,3,6\r\n");
    exportBeside({"/a"}, dir.path("L.PML"), counter.function());
    EXPECT_EQ(test::readFile(dir.path("L.TXT")), first);
}

TEST(ExportDataFile, FileThatCannotBeCreatedIsReported) {
    test::TempTree dir;
    FakeCounter counter;
    const std::string list = dir.path("missing/L.PML");
    try {
        exportBeside({"/a"}, list, counter.function());
        FAIL() << "no error raised";
    } catch (const platform::PelmoraError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + dir.root() + "/missing/L.TXT");
    }
    EXPECT_TRUE(counter.asked.empty());
}

TEST(ExportDataFile, DirectoryInTheWayCannotBeCreated) {
    test::TempTree dir;
    ASSERT_EQ(mkdir((dir.path("L.TXT")).c_str(), 0755), 0);
    FakeCounter counter;
    EXPECT_THROW(exportBeside({"/a"}, dir.path("L.PML"), counter.function()),
                 platform::PelmoraError);
    EXPECT_TRUE(counter.asked.empty());
}

// A full disk is a small tmpfs filled to the brim (the data file is never written onto a
// device such as /dev/full: it is refused).
TEST(ExportDataFile, FullDiskAtCloseReadsDiskFull) {
    test::TempTree dir;
    const test::PrivateTmpfs full(dir.dir("full"), "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    ASSERT_TRUE(test::fillUp(dir.path("full/filler")));
    FakeCounter counter;
    try {
        exportBeside({"/a", "/b"}, dir.path("full/L.PML"), counter.function());
        FAIL() << "no error raised";
    } catch (const platform::InOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_EQ(counter.asked.size(), 2u);  // both lines fit the first block
}

TEST(ExportDataFile, FullDiskMidwayStopsAtTheLineThatFilledTheBlock) {
    test::TempTree dir;
    const test::PrivateTmpfs full(dir.dir("full"), "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    ASSERT_TRUE(test::fillUp(dir.path("full/filler")));
    // Lines of exactly 100 bytes: "/" + 87 letters, quotes and comma, "1,2,3,6" + CR LF.
    const std::string entry = "/" + std::string(87, 'd');
    ASSERT_EQ(lineOf(entry, figures(1, 2, 3, 4)).size(), 100u);
    const std::vector<std::string> entries(2000, entry);
    FakeCounter counter;
    int lastProgress = 0;
    try {
        exportBeside(entries, dir.path("full/L.PML"), counter.function(),
                     [&](int done) { lastProgress = done; });
        FAIL() << "no error raised";
    } catch (const platform::InOutError& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    // 64 KiB fill up during line 656 (65536 / 100 rounded up); nothing is counted after it.
    EXPECT_EQ(counter.asked.size(), 656u);
    EXPECT_EQ(lastProgress, 655);
}

// The bytes go to the temporary file in whole blocks; the data file appears only at close.
TEST(FileSink, WritesInWholeBlocks) {
    test::TempTree dir;
    const std::string path = dir.path("out");
    struct stat st {};
    output::FileSink sink(path);
    const std::string temp = sink.temporaryPath();
    ASSERT_EQ(stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);  // created before the first line
    sink.write(std::string(1000, 'a'));
    ASSERT_EQ(stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);  // still in the buffer
    sink.write(std::string(output::FileSink::kBlockSize, 'b'));
    ASSERT_EQ(stat(temp.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), output::FileSink::kBlockSize);
    EXPECT_NE(stat(path.c_str(), &st), 0);  // nothing in place of the data file yet
    sink.close();
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), output::FileSink::kBlockSize + 1000);
    const std::string bytes = test::readFile(path);
    EXPECT_EQ(bytes, std::string(1000, 'a') + std::string(output::FileSink::kBlockSize, 'b'));
}

TEST(FileSink, TakesNothingAfterAFailure) {
    test::TempTree dir;
    const platform::FileOps diskFull{[](int, const void*, std::size_t) -> ssize_t {
                                         errno = ENOSPC;
                                         return -1;
                                     },
                                     platform::systemFileOps().fsync,
                                     platform::systemFileOps().close,
                                     platform::systemFileOps().rename};
    output::FileSink sink(dir.path("out"), {}, diskFull);
    sink.write(std::string(output::FileSink::kBlockSize - 1, 'a'));
    EXPECT_THROW(sink.write("bc"), platform::InOutError);
    EXPECT_THROW(sink.write("d"), platform::InOutError);
    EXPECT_THROW(sink.close(), platform::InOutError);
}

// ---- with the real count ------------------------------------------------------------------

// The export of `entries` with the engine's count of the list and `overhead` per entry.
std::string exportCounted(const std::vector<std::string>& entries, const std::string& listFile,
                          std::int32_t overhead) {
    stats::ListCount counts(entries, {});
    return exportBeside(entries, listFile, output::countEach(counts), {}, overhead);
}

TEST(ExportWithTheCount, DeletedDirectoryGivesZeros) {
    test::TempTree dir;
    const std::string gone = dir.path("gone");
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    writeFile(gone + "/f", "12345");
    ASSERT_EQ(std::system(("rm -rf '" + gone + "'").c_str()), 0);
    const std::string name = exportCounted({gone}, dir.path("L.PML"), 2048);
    EXPECT_EQ(test::readFile(name), "\"" + gone + "\",0,0,0,0\r\n");
}

TEST(ExportWithTheCount, CountsTheTreeWithTheOverheadGiven) {
    test::TempTree dir;
    const std::string docs = dir.path("docs");
    ASSERT_EQ(mkdir(docs.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((docs + "/sub").c_str(), 0755), 0);
    writeFile(docs + "/a", std::string(900, 'a'));
    writeFile(docs + "/sub/b", std::string(50, 'b'));
    writeFile(docs + "/.hidden", std::string(7, 'h'));  // dot names are never counted
    struct stat st {};
    ASSERT_EQ(lstat((docs + "/sub").c_str(), &st), 0);
    const std::int64_t bytes = 950 + st.st_size;

    const std::string expected = "\"" + docs + "\",1,2," + std::to_string(bytes) + ",768\r\n";
    // With and without a trailing '/', and its subdirectory, twice in a row: the same lines.
    const std::vector<std::string> entries{docs, docs + "/", docs + "/sub"};
    const std::string name = exportCounted(entries, dir.path("L.PML"), 256);
    const std::string first = test::readFile(name);
    EXPECT_EQ(first, expected + "\"" + docs + "/\",1,2," + std::to_string(bytes) + ",768\r\n" +
                         "\"" + docs + "/sub\",0,1,50,256\r\n");
    exportCounted(entries, dir.path("L.PML"), 256);
    EXPECT_EQ(test::readFile(name), first);
}
