// The watched list: sorted insertion, equality ignoring letter case, the duplicate search and
// the limits of the list.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "list/watchedlist.h"
#include "tests/list/ListTestHelpers.h"
#include "tests/support/TempTree.h"
#include "platform/ioerror.h"
#include "platform/locale.h"

namespace pelmora::list {
namespace {

using platform::compareTextIgnoreCase;
using platform::PelmoraError;
using Lines = std::vector<std::string>;

// What the duplicate test must return: the first equal entry, scanning from index 0.
int scanIndexOf(const WatchedList& list, std::string_view text) {
    for (int i = 0; i < list.count(); ++i)
        if (compareTextIgnoreCase(list.get(i), text) == 0) return i;
    return -1;
}

using helpers::listOf;
using test::errorOf;

// Texts that differ only in letter case, plus a few look-alikes, in random order.
Lines mixedCaseLines(std::mt19937& rng, int n) {
    const Lines stems = {"d:/data", "d:/Data2", "d:/dat", "e:/x",  "/home/ann", "/home/Ann/b",
                         "",        " ",        "/tmp",   "/TMP/", "/srv/ç",    "/srv/Ç"};
    Lines out;
    for (int i = 0; i < n; ++i) {
        std::string s = stems[rng() % stems.size()];
        for (char& c : s)
            if (rng() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        out.push_back(s);
    }
    return out;
}

TEST(WatchedListOrder, InsertsAtTheSortedPlaceIgnoringCase) {
    WatchedList list = listOf({"D:\\Z", "D:\\A"});
    EXPECT_EQ(list.add("D:\\b"), 1);
    EXPECT_EQ(list.entries(), (Lines{"D:\\A", "D:\\b", "D:\\Z"}));
    EXPECT_EQ(list.add("d:\\0"), 0);
    EXPECT_EQ(list.add("D:\\zz"), 4);
}

TEST(WatchedListOrder, EqualEntriesGoAfterTheirEquals) {
    WatchedList list;
    EXPECT_EQ(list.add("/Data"), 0);
    EXPECT_EQ(list.add("/a"), 0);
    EXPECT_EQ(list.add("/DATA"), 2);
    EXPECT_EQ(list.add("/data"), 3);
    EXPECT_EQ(list.add("/z"), 4);
    EXPECT_EQ(list.entries(), (Lines{"/a", "/Data", "/DATA", "/data", "/z"}));
}

TEST(WatchedListSearch, EqualityIgnoresLetterCaseOverTheWholeText) {
    WatchedList list = listOf({"D:\\DATA", "D:\\Other"});
    EXPECT_EQ(list.indexOf("D:\\Data"), 0);
    EXPECT_EQ(list.indexOf("d:\\data"), 0);
    EXPECT_EQ(list.indexOf("D:\\Dat"), -1);
    EXPECT_EQ(list.indexOf("D:\\DATA\\"), -1);
    EXPECT_EQ(list.indexOf("D:\\OTHER"), 1);
    EXPECT_EQ(WatchedList().indexOf(""), -1);
    WatchedList withEmpty = listOf({"", "/a"});
    EXPECT_EQ(withEmpty.indexOf(""), 0);
}

TEST(WatchedListSearch, ReturnsTheFirstOfSeveralEqualEntries) {
    WatchedList list;
    list.replaceAll({"/b", "/A", "/B", "/c", "/b", "/a", "/a"});
    ASSERT_EQ(list.entries(), (Lines{"/A", "/a", "/a", "/b", "/B", "/b", "/c"}));
    EXPECT_EQ(list.indexOf("/a"), 0);
    EXPECT_EQ(list.indexOf("/B"), 3);
    EXPECT_EQ(list.indexOf("/C"), 6);
    EXPECT_EQ(list.indexOf("/"), -1);
    EXPECT_EQ(list.indexOf("/d"), -1);
}

TEST(WatchedListSearch, AgreesWithAScanFromTheStart) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        WatchedList list;
        const Lines lines = mixedCaseLines(rng, round * 5);
        if (round % 2)
            list.replaceAll(lines);
        else
            for (const auto& s : lines) list.add(s);
        for (const std::string& q : mixedCaseLines(rng, 40))
            ASSERT_EQ(list.indexOf(q), scanIndexOf(list, q)) << "query '" << q << "'";
        // Removing entries keeps the order and the search exact.
        while (list.count() > 0) {
            list.remove(static_cast<int>(rng() % static_cast<unsigned>(list.count())));
            for (std::string_view q : {"D:/DATA", "/tmp", "", "/srv/ç"})
                ASSERT_EQ(list.indexOf(q), scanIndexOf(list, q));
        }
    }
}

TEST(WatchedListSearch, NamesThatAreNotUtf8) {
    const std::string latin1 = "/home/Ren\xE9";  // "René" in Latin-1
    const std::string latin1b = "/home/REN\xE9";
    const std::string other = "/home/Ren\xE8";
    WatchedList list = listOf({"/home/x", latin1, "/home/René", other, latin1});
    ASSERT_EQ(list.count(), 5);
    EXPECT_EQ(list.indexOf(latin1), scanIndexOf(list, latin1));
    EXPECT_GE(list.indexOf(latin1), 0);
    EXPECT_EQ(list.get(list.indexOf(latin1)), latin1);
    EXPECT_EQ(list.indexOf(latin1b), scanIndexOf(list, latin1b));
    EXPECT_EQ(list.indexOf(other), scanIndexOf(list, other));
    EXPECT_EQ(list.get(list.indexOf(other)), other);
    EXPECT_EQ(list.indexOf("/home/rené"), scanIndexOf(list, "/home/rené"));
    EXPECT_EQ(list.indexOf("/home/\xFF"), -1);
    // The bytes are kept as given.
    EXPECT_EQ(std::count(list.entries().begin(), list.entries().end(), latin1), 2);
    // Without the broken names again, the list still finds the others.
    for (int i = list.count() - 1; i >= 0; --i)
        if (list.get(i) != "/home/x" && list.get(i) != "/home/René") list.remove(i);
    EXPECT_EQ(list.entries(), (Lines{"/home/René", "/home/x"}));
    EXPECT_EQ(list.indexOf("/HOME/RENÉ"), 0);
    EXPECT_EQ(list.indexOf("/home/X"), 1);
}

TEST(WatchedListLoad, ReplaceAllPlacesLinesAsAddingThemOneByOne) {
    std::mt19937 rng(11);
    for (int round = 0; round < 10; ++round) {
        Lines lines = mixedCaseLines(rng, 60);
        if (round % 3 == 0) lines.push_back("/bad\xC3(");  // broken UTF-8 takes the slow road
        WatchedList added = listOf(lines);
        WatchedList replaced = listOf({"/old", "/entries"});
        replaced.replaceAll(lines);
        ASSERT_EQ(replaced.entries(), added.entries());
        for (int i = 1; i < replaced.count(); ++i)
            ASSERT_LE(compareTextIgnoreCase(replaced.get(i - 1), replaced.get(i)), 0);
    }
}

TEST(WatchedListLoad, ReplaceAllEmptiesTheList) {
    WatchedList list = listOf({"/a", "/b"});
    list.replaceAll({});
    EXPECT_EQ(list.count(), 0);
}

TEST(WatchedListErrors, IndexOutOfBounds) {
    WatchedList list = listOf({"/a", "/b"});
    EXPECT_EQ(list.get(1), "/b");
    for (int bad : {-1, 2, 1000}) {
        EXPECT_EQ(errorOf([&] { list.get(bad); }), "List index out of bounds");
        EXPECT_EQ(errorOf([&] { list.remove(bad); }), "List index out of bounds");
    }
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(errorOf([] { WatchedList().get(0); }), "List index out of bounds");
}

TEST(WatchedListErrors, AFullListRefusesAnotherLine) {
    EXPECT_EQ(WatchedList().maxCount(), WatchedList::kMaxEntries);
    WatchedList list;
    list.setMaxCount(2);
    list.add("/b");
    list.add("/a");
    EXPECT_EQ(errorOf([&] { list.add("/c"); }), "Unable to insert a line");
    EXPECT_EQ(list.entries(), (Lines{"/a", "/b"}));
    list.remove(0);
    EXPECT_EQ(list.add("/c"), 1);

    // Loading keeps what was taken before the list filled up.
    int resets = 0;
    list.onReset = [&] { ++resets; };
    EXPECT_EQ(errorOf([&] { list.replaceAll({"/z", "/y", "/x"}); }), "Unable to insert a line");
    EXPECT_EQ(list.entries(), (Lines{"/y", "/z"}));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(errorOf([&] { list.replaceAll({"/z", "/y", "\xFF"}); }), "Unable to insert a line");
    EXPECT_EQ(list.entries(), (Lines{"/y", "/z"}));
}

TEST(WatchedListObservers, ReportEveryChange) {
    WatchedList list;
    std::vector<std::string> events;
    list.onInserted = [&](int i) { events.push_back("+" + std::to_string(i)); };
    list.onRemoved = [&](int i) { events.push_back("-" + std::to_string(i)); };
    list.onReset = [&] { events.push_back("reset"); };
    list.add("/m");
    list.add("/a");
    list.add("/z");
    list.remove(1);
    list.clear();
    list.replaceAll({"/q"});
    EXPECT_EQ(events, (Lines{"+0", "+0", "+2", "-1", "reset", "reset"}));
    EXPECT_EQ(list.entries(), (Lines{"/q"}));
}

TEST(WatchedListSize, AHundredThousandEntriesStayUsable) {
    constexpr int n = 100000;
    Lines lines;
    lines.reserve(n);
    for (int i = 0; i < n; ++i) lines.push_back("/data/dir" + std::to_string(i * 7919 % n));
    std::shuffle(lines.begin(), lines.end(), std::mt19937(3));

    WatchedList list;
    list.replaceAll(lines);
    ASSERT_EQ(list.count(), n);
    for (int i = 1; i < n; ++i)
        ASSERT_LT(compareTextIgnoreCase(list.get(i - 1), list.get(i)), 0) << i;

    for (int i = 0; i < n; i += 997) {
        std::string upper = list.get(i);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_EQ(list.indexOf(upper), i);
    }
    EXPECT_EQ(list.indexOf("/data/dir"), -1);
    EXPECT_EQ(list.indexOf("/data/dir100000"), -1);

    // Adding one by one to the big list: each lands at its place.
    for (int i = 0; i < 500; ++i) {
        const std::string s = "/data/dir" + std::to_string(i) + "x";
        const int at = list.add(s);
        ASSERT_EQ(list.get(at), s);
        if (at > 0) {
            ASSERT_LT(compareTextIgnoreCase(list.get(at - 1), s), 0);
        }
        if (at + 1 < list.count()) {
            ASSERT_GT(compareTextIgnoreCase(list.get(at + 1), s), 0);
        }
        ASSERT_EQ(list.indexOf(s), at);
    }
    EXPECT_EQ(list.count(), n + 500);
}

// Texts a collator finds equal or nearly so, valid and broken: the order must still be a strict
// weak order (so that binary search and sorting work), its keys must give the same order, and
// equality must stay what it was (letter case ignored, broken bytes never equal by accident).
const Lines kTrickyTexts = {
    "",
    " ",
    "/a",
    "/A",
    "/a\xFF",
    "/A\xFF",
    "/a\xFE",
    "/a\xC3",
    "/a\xC3(",
    "/a\xEF\xBF\xBD",
    "/a\xED\xA0\x80",
    "/\xC3\xA9",
    "/\xC3\x89",
    "/e\xCC\x81",
    "/\xE9",
    "/\xC9",
    "/\x80",
    "/\xFF\xFF",
    "/Data",
    "/DATA",
    "/data\xFF",
    "/data\xFE",
    "/dat",
    "\xFF",
    "\x01",
    "\x01\xFF",
    "/a\x01",
    "/\xC3\xA9\xFF",
    "/\xC3\xA9\xFE",
    "/z",
};

int sign(int v) {
    return (v > 0) - (v < 0);
}

std::string keyOf(std::string_view s) {
    std::string key;
    EXPECT_TRUE(platform::appendSortKey(s, key));
    return key;
}

TEST(WatchedListOrder, IsAStrictWeakOrderOverAllBytesAndItsKeysAgree) {
    const std::size_t n = kTrickyTexts.size();
    std::vector<std::vector<int>> c(n, std::vector<int>(n));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const std::string &a = kTrickyTexts[i], &b = kTrickyTexts[j];
            c[i][j] = sign(compareTextIgnoreCase(a, b));
            const std::string ka = keyOf(a), kb = keyOf(b);
            ASSERT_EQ(sign(ka.compare(kb)), c[i][j]) << i << " " << j;
        }
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(c[i][i], 0) << i;
        for (std::size_t j = 0; j < n; ++j) {
            ASSERT_EQ(c[i][j], -c[j][i]) << i << " " << j;
            for (std::size_t k = 0; k < n; ++k) {
                if (c[i][j] <= 0 && c[j][k] <= 0) {
                    ASSERT_LE(c[i][k], 0) << i << " " << j << " " << k;
                }
                if (c[i][j] == 0 && c[j][k] == 0) {
                    ASSERT_EQ(c[i][k], 0) << i << " " << j << " " << k;
                }
            }
        }
    }
    // Equality as before: case ignored; broken names equal only to the same bytes up to case.
    EXPECT_EQ(compareTextIgnoreCase("/Data", "/DATA"), 0);
    EXPECT_EQ(compareTextIgnoreCase("/a\xFF", "/A\xFF"), 0);
    EXPECT_NE(compareTextIgnoreCase("/a\xFF", "/a\xFE"), 0);
    EXPECT_NE(compareTextIgnoreCase("/\xE9", "/\xC3\xA9"), 0);
}

TEST(WatchedListSearch, AgreesWithAScanAlsoWithBrokenNames) {
    std::mt19937 rng(5);
    for (int round = 0; round < 10; ++round) {
        Lines lines;
        for (int i = 0; i < 80; ++i) lines.push_back(kTrickyTexts[rng() % kTrickyTexts.size()]);
        WatchedList added = listOf(lines);
        WatchedList loaded;
        loaded.replaceAll(lines);
        ASSERT_EQ(loaded.entries(), added.entries());
        for (const std::string& q : kTrickyTexts) {
            ASSERT_EQ(loaded.indexOf(q), scanIndexOf(loaded, q)) << "query '" << q << "'";
            ASSERT_EQ(added.indexOf(q), scanIndexOf(added, q)) << "query '" << q << "'";
        }
        while (added.count() > 0) {
            added.remove(static_cast<int>(rng() % static_cast<unsigned>(added.count())));
            for (const char* q : {"/a\xFF", "/A", "/\xE9", ""})
                ASSERT_EQ(added.indexOf(q), scanIndexOf(added, q));
        }
    }
}

// Many removals leave the bytes of the removed entries behind until the list tidies up; what
// stays must read back unchanged.
TEST(WatchedListSize, RemovingMostEntriesKeepsTheRestIntact) {
    WatchedList list;
    Lines lines;
    for (int i = 0; i < 40000; ++i)
        lines.push_back("/removed/" + std::string(60, 'x') + std::to_string(i));
    list.replaceAll(lines);
    for (int i = 0; i < 200; ++i) list.add("/kept/" + std::to_string(i));
    while (list.count() > 200) list.remove(list.count() - 1);
    ASSERT_EQ(list.count(), 200);
    for (int i = 0; i < 200; ++i) ASSERT_NE(list.indexOf("/kept/" + std::to_string(i)), -1) << i;
    EXPECT_EQ(list.get(0), "/kept/0");
    EXPECT_EQ(list.add("/kept/zz"), 200);
}

}  // namespace
}  // namespace pelmora::list
