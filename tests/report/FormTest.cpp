// The directory report's form: rows counted afresh from the watched list, totals, and the
// texts of every band.
#include <QFile>
#include <limits>

#include <gtest/gtest.h>

#include "list/watchedlist.h"
#include "output/Report.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "tests/report/ReportTestSupport.h"
#include "tests/support/TempTree.h"

using namespace pelmora::output;
using pelmora::list::WatchedList;
using pelmora::test::bandOrder;
using pelmora::test::bandsOf;
using pelmora::test::RecordingProgress;
using pelmora::test::TempTree;
using T = TQRBandType;

namespace {

class ReportForm : public ::testing::Test {
  protected:
    void SetUp() override {
        ReportRow = 0;
        ReportTotals = {};
        form.QuickReport.PageSize = QPageSize(QPageSize::A4);
    }

    std::optional<PreparedReport> prepare(RecordingProgress* progress = nullptr) {
        PrepareOptions options;
        options.progress = progress;
        return prepareReport(form.QuickReport, options);
    }

    // The texts of every detail row, each as its five cells.
    static std::vector<std::vector<QString>> rows(const PreparedReport& r) {
        std::vector<std::vector<QString>> out;
        for (const LaidOutPage& page : r.pages)
            for (const PlacedBand* b : bandsOf(page, T::rbDetail)) out.push_back(b->texts);
        return out;
    }
    static std::vector<QString> totals(const PreparedReport& r) {
        return bandsOf(r.pages.back(), T::rbSummary).at(0)->texts;
    }

    // A file of `size` bytes, with its directories.
    std::string put(const std::string& relative, long long size = 0) {
        tree.dir(relative.substr(0, relative.rfind('/')));
        return tree.file(relative, size);
    }

    TempTree tree;
    WatchedList list;
    TQRListForm form{list};
};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

TEST_F(ReportForm, BeforePrintOnceAndOneNeedDataPerEntryPlusOne) {
    for (const char* d : {"A", "B", "C"}) list.add(tree.dir(d));
    int before = 0;
    int need = 0;
    form.QuickReport.BeforePrint = [&](bool& p) { ++before, form.QuickReportBeforePrint(p); };
    form.QuickReport.OnNeedData = [&](bool& m) { ++need, form.QuickReportNeedData(m); };
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(need, 4);
    EXPECT_EQ(ReportRow, 3);
    ASSERT_EQ(rows(*prepared).size(), 3u);
    EXPECT_EQ(rows(*prepared)[0][0], q(tree.path("A")));
    EXPECT_EQ(rows(*prepared)[2][0], q(tree.path("C")));
}

TEST_F(ReportForm, OneEntryTotalsEqualItsRow) {
    put("A/one", 1000);
    put("A/two", 2345);
    put("A/sub/three", 5);
    list.add(tree.path("A"));
    form.startReport(2048, ',');
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    const auto row = rows(*prepared).at(0);
    pelmora::stats::CountTree(tree.path("A"));
    EXPECT_EQ(row[1], "1");
    EXPECT_EQ(row[2], "3");
    EXPECT_EQ(row[3], q(pelmora::stats::FormatCount(pelmora::stats::DirStats.ByteTotal, ',')));
    EXPECT_EQ(row[4], "8,192");  // four entries, 2048 each
    const auto sum = totals(*prepared);
    EXPECT_EQ(sum[0], "Totals for 1 Directories");
    EXPECT_EQ((std::vector<QString>(sum.begin() + 1, sum.end())),
              (std::vector<QString>(row.begin() + 1, row.end())));
}

TEST_F(ReportForm, RowsInListOrderAndTheOverheadTotalIsTheSumOfTheRows) {
    put("E/a", 10);
    put("E/b", 10);
    put("D/c", 10);
    list.add(tree.path("E"));
    list.add(tree.path("D"));
    form.startReport(512, ',');
    const auto prepared = prepare();
    const auto r = rows(*prepared);
    ASSERT_EQ(r.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(r[i][0], q(list.get(i)));
        EXPECT_EQ(r[i][4], list.get(i) == tree.path("E") ? "1,024" : "512");
    }
    EXPECT_EQ(totals(*prepared)[4], "1,536");
    EXPECT_EQ(totals(*prepared)[2], "3");
    EXPECT_EQ(totals(*prepared)[3], "30");
    EXPECT_EQ(ReportTotals.TotalOverhead.toFixed0(), "1536");
}

TEST_F(ReportForm, CompressedVolumeShowsNoOverhead) {
    put("A/x", 5);
    list.add(tree.path("A"));
    form.startReport(0, ',');
    const auto prepared = prepare();
    EXPECT_EQ(rows(*prepared).at(0)[4], "0");
    EXPECT_EQ(totals(*prepared)[4], "0");
}

TEST_F(ReportForm, CountsUseTheSeparatorTheReportStartsWith) {
    put("A/big", 1234567);
    list.add(tree.path("A"));
    form.startReport(0, '.');
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    EXPECT_EQ(rows(*prepared).at(0)[3], "1.234.567");
    EXPECT_EQ(totals(*prepared)[3], "1.234.567");
}

TEST_F(ReportForm, CountsShowTheThousandsSeparatorButTheTotalsCountNever) {
    for (int i = 0; i < 1234; ++i) put("BIG/f" + std::to_string(i));
    list.add(tree.path("BIG"));
    for (int i = 0; i < 1499; ++i) list.add("/nonexistent-pelmora/" + std::to_string(i));
    form.startReport(0, ',');
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    const auto r = rows(*prepared);
    ASSERT_EQ(r.size(), 1500u);
    const auto big = std::find_if(r.begin(), r.end(),
                                  [&](const auto& row) { return row[0] == q(tree.path("BIG")); });
    ASSERT_NE(big, r.end());
    EXPECT_EQ((*big)[2], "1,234");
    EXPECT_EQ(totals(*prepared)[0], "Totals for 1500 Directories");
    EXPECT_EQ(totals(*prepared)[2], "1,234");
}

TEST_F(ReportForm, AMissingDirectoryGivesARowOfZeros) {
    list.add("/nonexistent-pelmora/gone");
    const auto r = rows(*prepare());
    EXPECT_EQ(r.at(0), (std::vector<QString>{"/nonexistent-pelmora/gone", "0", "0", "0", "0"}));
}

TEST_F(ReportForm, ManyRowsRunOverSeveralPages) {
    for (int i = 0; i < 150; ++i) list.add("/nonexistent-pelmora/" + std::to_string(1000 + i));
    form.QRLabel1.setText("File DEFAULT.PML");
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    const auto& pages = prepared->pages;
    ASSERT_GE(pages.size(), 3u);
    int rowsSeen = 0;
    for (const LaidOutPage& page : pages) {
        SCOPED_TRACE(page.number);
        const auto order = bandOrder(page);
        EXPECT_EQ(order.front(), T::rbPageHeader);
        EXPECT_EQ(order[1], page.number == 1 ? T::rbTitle : T::rbColumnHeader);
        EXPECT_EQ(order.back(), T::rbPageFooter);
        EXPECT_EQ(bandsOf(page, T::rbTitle).size(), page.number == 1 ? 1u : 0u);
        const auto header = bandsOf(page, T::rbPageHeader).at(0);
        EXPECT_EQ(header->texts[0], "File DEFAULT.PML");
        EXPECT_TRUE(header->texts[1].startsWith("Printed "));
        EXPECT_EQ(bandsOf(page, T::rbColumnHeader).at(0)->texts,
                  (std::vector<QString>{"Directory", "Directories", "Files", "Total Size",
                                        "Total Overhead"}));
        EXPECT_EQ(bandsOf(page, T::rbPageFooter).at(0)->texts[0],
                  "Page " + QString::number(page.number));
        const bool last = page.number == static_cast<int>(pages.size());
        EXPECT_EQ(bandsOf(page, T::rbSummary).size(), last ? 1u : 0u);
        rowsSeen += static_cast<int>(bandsOf(page, T::rbDetail).size());
    }
    EXPECT_EQ(rowsSeen, 150);
    EXPECT_EQ(bandsOf(pages[0], T::rbTitle).at(0)->texts[0], "Pelmora Report");
    // The totals stand directly below the last row.
    const auto lastOrder = bandOrder(pages.back());
    EXPECT_EQ(lastOrder[lastOrder.size() - 2], T::rbSummary);
    EXPECT_EQ(lastOrder[lastOrder.size() - 3], T::rbDetail);
}

TEST_F(ReportForm, BeforePrintSetsTheCaptionForLaterWindowsAndHidesSaveAndLoad) {
    QRPrinter().setProgressCaption(TQRPrinter::kOwnCaption);
    QRPrinter().setShowSaveButton(true);
    QRPrinter().setShowLoadButton(true);
    list.add(tree.dir("A"));
    RecordingProgress progress;
    ASSERT_TRUE(prepare(&progress));
    EXPECT_FALSE(QRPrinter().showSaveButton());
    EXPECT_FALSE(QRPrinter().showLoadButton());
    ReportRow = 0;
    ASSERT_TRUE(prepare(&progress));
    EXPECT_EQ(progress.captions,
              (std::vector<QString>{TQRPrinter::kOwnCaption, "Creating report..."}));
    EXPECT_EQ(progress.texts[1], "Preparing report Pelmora Report");
}

TEST_F(ReportForm, CancelKeepsThePartialRowAndTotals) {
    for (const char* d : {"A", "B", "C", "D"}) put(std::string(d) + "/f", 100);
    for (const char* d : {"A", "B", "C", "D"}) list.add(tree.path(d));
    RecordingProgress progress;
    progress.cancelAtStep = 3;
    EXPECT_FALSE(prepare(&progress));
    EXPECT_EQ(ReportRow, 2);
    EXPECT_EQ(ReportTotals.TotalFiles, 2);
    EXPECT_EQ(ReportTotals.TotalSize.toFixed0(), "200");
}

TEST_F(ReportForm, TheListIsReadAfreshAtEveryRow) {
    for (const char* d : {"A", "B", "C", "D"}) list.add(tree.dir(d));
    // While row 2 is due, the user deletes two entries: the report ends with what is left.
    int calls = 0;
    form.QuickReport.OnNeedData = [&](bool& m) {
        if (++calls == 2) {
            list.remove(3);
            list.remove(2);
        }
        form.QuickReportNeedData(m);
    };
    const auto prepared = prepare();
    ASSERT_TRUE(prepared);
    EXPECT_EQ(rows(*prepared).size(), 2u);
    EXPECT_EQ(totals(*prepared)[0], "Totals for 2 Directories");
}

TEST_F(ReportForm, IntegerTotalsGoBeyond32BitsAndNeverWrap) {
    put("A/f1");
    put("A/f2");
    list.add(tree.path("A"));
    ReportTotals.TotalFiles = std::numeric_limits<std::int32_t>::max();
    ReportTotals.TotalDirs = std::numeric_limits<std::int64_t>::max() - 1;
    tree.dir("A/s1");
    tree.dir("A/s2");
    const auto prepared = prepare();
    EXPECT_EQ(ReportTotals.TotalFiles, 2147483649);
    EXPECT_EQ(totals(*prepared)[2], "2,147,483,649");
    EXPECT_EQ(ReportTotals.TotalDirs, std::numeric_limits<std::int64_t>::max());
}

TEST_F(ReportForm, AnEmptyEntryCountsNothing) {
    list.add("");
    const auto r = rows(*prepare());
    EXPECT_EQ(r.at(0), (std::vector<QString>{"", "0", "0", "0", "0"}));
}

TEST_F(ReportForm, ANonUtf8EntryIsShownDecoded) {
    const std::string name = tree.dir(std::string("caf\xe9"));
    list.add(name);
    const auto r = rows(*prepare());
    EXPECT_EQ(r.at(0)[0], QFile::decodeName(QByteArray::fromStdString(name)));
}
