// pelmora-cli count: unreadable directories named on stderr with honest figures and status 1,
// the space on disk (hard links once, sparse files as allocated), and JSON that a real parser
// reads back for hostile names.
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Child.h"
#include "tests/cli/CliTree.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::CliRun;
using pelmora::test::fileAt;
using pelmora::test::runCli;
using pelmora::test::TempTree;
using pelmora::test::writeAt;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        v.push_back(text.substr(from, nl - from));
    return v;
}

TEST(CliCountErrors, StartsThatAreNoDirectoriesAreNamed) {
    TempTree t;
    fileAt(t, "plain", 5);
    fileAt(t, "D/f", 9);
    const CliRun r = runCli({"count", "-j1", t.path("nope"), t.path("plain"), t.path("D")}, "/");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err),
              (std::vector<std::string>{"pelmora-cli: cannot read directory '" + t.path("nope") +
                                            "': No such file or directory",
                                        "pelmora-cli: cannot read directory '" + t.path("plain") +
                                            "': Not a directory"}));
    // The figures of what could be read are still there, after the zeros of the others.
    EXPECT_NE(r.out.find(t.path("D") + "\nTotal Directories 0\nTotal Files 1\nTotal Bytes 9\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

TEST(CliCountErrors, UnreadableDirectoriesAreNamedAsTheirBytesAndTheRestIsCounted) {
    TempTree t;
    ::chmod(t.root().c_str(), 0755);
    fileAt(t, "one/a", 10);
    const std::string odd = "one/lock\xff\"ed";
    fileAt(t, odd + "/secret", 1000);
    ::chmod(t.path(odd).c_str(), 0700);
    std::set<std::string> lockedLines;
    for (int i = 0; i < 20; ++i) {
        const std::string d = "many/d" + std::to_string(100 + i);
        fileAt(t, d + "/x", 1);
        ::chmod(t.path(d).c_str(), 0700);
        lockedLines.insert("pelmora-cli: cannot read directory '" + t.path(d) +
                           "': Permission denied");
    }
    for (const char* jobs : {"1", "4"}) {
        SCOPED_TRACE(jobs);
        const CliRun r = runCli({"count", "--csv", "-j", jobs, t.path("one"), t.path("many")}, "/",
                                [] { return pelmora::test::dropToNobody(); });
        ASSERT_EQ(r.status, 1) << r.err;
        // Everything but what lies below the locked directories.
        const std::vector<std::string> out = lines(r.out);
        ASSERT_EQ(out.size(), 2u) << r.out;
        EXPECT_EQ(out[0].rfind("\"" + t.path("one") + "\",1,1,", 0), 0u) << out[0];
        EXPECT_EQ(out[1].rfind("\"" + t.path("many") + "\",20,0,", 0), 0u) << out[1];
        const std::vector<std::string> err = lines(r.err);
        ASSERT_EQ(err.size(), 18u) << r.err;
        EXPECT_EQ(err[0],
                  "pelmora-cli: cannot read directory '" + t.path(odd) + "': Permission denied");
        const std::set<std::string> kept(err.begin() + 1, err.begin() + 17);
        EXPECT_EQ(kept.size(), 16u);
        for (const std::string& line : kept) EXPECT_EQ(lockedLines.count(line), 1u) << line;
        EXPECT_EQ(err[17], "pelmora-cli: and 4 more directories below '" + t.path("many") +
                               "' that could not be read");
    }
}

// The space the tree occupies, as the test finds it with lstat: every counted entry (names
// beginning with '.' left out), each inode once.
std::uint64_t allocatedBelow(const std::string& root) {
    std::set<std::pair<dev_t, ino_t>> seen;
    std::uint64_t sum = 0;
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->path().filename().string().front() == '.') {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        if (seen.insert({st.st_dev, st.st_ino}).second) sum += std::uint64_t(st.st_blocks) * 512;
    }
    return sum;
}

TEST(CliDiskUsage, HardLinksOnceAndSparseFilesAsAllocated) {
    TempTree t;
    const std::string mib(1 << 20, 'x');
    writeAt(t, "D/a/full", mib);
    t.dir("D/b");
    ASSERT_EQ(::link(t.path("D/a/full").c_str(), t.path("D/b/twin").c_str()), 0);
    ASSERT_EQ(::link(t.path("D/a/full").c_str(), t.path("D/a/third").c_str()), 0);
    fileAt(t, "D/sparse", 64ll << 20);
    writeAt(t, "D/.hidden", mib);
    const std::uint64_t expected = allocatedBelow(t.path("D"));
    ASSERT_GE(expected, std::uint64_t(1) << 20);
    ASSERT_LT(expected, std::uint64_t(2) << 20);  // one copy, and the sparse file's one block

    const CliRun csv = runCli({"count", "--csv", "--disk-usage", "-j2", t.path("D")}, "/");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out.substr(csv.out.rfind(',') + 1), std::to_string(expected) + "\n");
    const CliRun human = runCli({"count", "--disk-usage", "-j1", t.path("D")}, "/");
    ASSERT_EQ(human.status, 0) << human.err;
    const std::vector<std::string> l = lines(human.out);
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[4].rfind("Cluster Overhead ", 0), 0u);
    std::string digits = l[5].substr(std::string("Space On Disk ").size());
    std::erase_if(digits, [](char c) { return c < '0' || c > '9'; });
    EXPECT_EQ(l[5].rfind("Space On Disk ", 0), 0u);
    EXPECT_EQ(digits, std::to_string(expected));
}

TEST(CliJson, HostileNamesRoundTripThroughAJsonParser) {
    TempTree t;
    const std::vector<std::string> names = {"quo\"te", "back\\slash", "ctl\x01\x1f\t\n\x7f",
                                            "caf\xc3\xa9 \xe2\x82\xac", "bad\xff\xc3(\xed\xa0\x80"};
    std::vector<std::string> args = {"count", "--json", "--disk-usage", "-j1"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        writeAt(t, names[i] + "/f", std::string(10 + i, 'x'));
        args.push_back(t.path(names[i]));
    }
    args.push_back(t.path("missing\xfe"));
    const CliRun r = runCli(args, "/");
    ASSERT_EQ(r.status, 1) << r.err;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(QByteArray::fromStdString(r.out));
    EXPECT_FALSE(utf8.hasError());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
    const QJsonArray a = doc.array();
    ASSERT_EQ(a.size(), static_cast<int>(names.size()) + 1);
    const auto pathOf = [](const QJsonObject& o) {
        return o.contains("path_bytes")
                   ? QByteArray::fromBase64(o["path_bytes"].toString().toLatin1()).toStdString()
                   : o["path"].toString().toStdString();
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        const QJsonObject o = a[static_cast<int>(i)].toObject();
        EXPECT_EQ(pathOf(o), t.path(names[i]));
        EXPECT_EQ(o.contains("path_bytes"), i == 4);
        EXPECT_EQ(o["files"].toInt(), 1);
        EXPECT_EQ(o["directories"].toInt(), 0);
        EXPECT_EQ(o["bytes"].toInt(), static_cast<int>(10 + i));
        EXPECT_GT(o["overhead"].toInt(), 0);
        EXPECT_GT(o["allocated"].toInt(), 0);
        EXPECT_EQ(o["incomplete"].toBool(true), false);
        EXPECT_EQ(o["errors"].toArray().size(), 0);
    }
    EXPECT_EQ(a[4].toObject()["path"].toString(), QString::fromStdString(t.path("bad")) +
                                                      QString(2, QChar(0xFFFD)) + "(" +
                                                      QString(3, QChar(0xFFFD)));
    const QJsonObject missing = a.last().toObject();
    EXPECT_TRUE(missing["incomplete"].toBool());
    const QJsonArray errors = missing["errors"].toArray();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(pathOf(errors[0].toObject()), t.path("missing\xfe"));
    EXPECT_EQ(errors[0].toObject()["error"].toString(), "No such file or directory");
}

}  // namespace
