// The banded-report engine: the need-data protocol, band order and pagination.
#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include "output/ReportEngine.h"
#include "tests/report/ReportTestSupport.h"

using namespace pelmora::output;
using pelmora::test::bandOrder;
using pelmora::test::bandsOf;
using pelmora::test::RecordingProgress;
using T = TQRBandType;

namespace {

// A report with one label per band; the detail label shows the row number.
class SmallReport {
  public:
    SmallReport() {
        report.ReportTitle = "Small";
        report.PageSize = QPageSize(QPageSize::A4);
        report.Bands = {&header, &title, &columns, &detail, &summary, &footer};
        report.OnNeedData = [this](bool& more) {
            presets.push_back(more);
            events.push_back("need");
            if (rowsLeft > 0) {
                --rowsLeft;
                row.setText("row " + QString::number(++rowsDone));
                more = true;
            } else {
                total.setText("total " + QString::number(rowsDone));
                more = false;
            }
        };
        report.BeforePrint = [this](bool&) { events.push_back("before"); };
    }

    std::optional<PreparedReport> prepare(RecordingProgress* progress = nullptr) {
        PrepareOptions options;
        options.progress = progress;
        options.clock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
        return prepareReport(report, options);
    }

    TQRLabel head{TQRAlign::Left, 4, reportFont(11)};
    TQRLabel name = sysDataLabel(TQRSysData::ReportTitle, "", TQRAlign::Centre, 7, reportFont(19));
    TQRLabel caption{TQRAlign::Left, 2, reportFont(11)};
    TQRLabel row{TQRAlign::Left, 2, reportFont(11)};
    TQRLabel total{TQRAlign::Left, 3, reportFont(11)};
    TQRLabel page =
        sysDataLabel(TQRSysData::PageNumber, "Page ", TQRAlign::Centre, 5, reportFont(11));
    TQRBand header{T::rbPageHeader, 24, {}, {&head}};
    TQRBand title{T::rbTitle, 37, {}, {&name}};
    TQRBand columns{T::rbColumnHeader, 20, {TQRLineStyle::None, TQRLineStyle::Solid}, {&caption}};
    TQRBand detail{T::rbDetail, 20, {TQRLineStyle::None, TQRLineStyle::Dotted}, {&row}};
    TQRBand summary{T::rbSummary, 20, {TQRLineStyle::Solid, TQRLineStyle::None}, {&total}};
    TQRBand footer{T::rbPageFooter, 24, {}, {&page}};
    TQuickReport report;

    int rowsLeft = 0;
    int rowsDone = 0;
    std::vector<bool> presets;
    std::vector<std::string> events;
};

}  // namespace

TEST(ReportEngine, BeforePrintOnceThenNeedDataPresetTrueOnlyForTheFirstCall) {
    SmallReport r;
    r.rowsLeft = 3;
    ASSERT_TRUE(r.prepare());
    EXPECT_EQ(r.events, (std::vector<std::string>{"before", "need", "need", "need", "need"}));
    EXPECT_EQ(r.presets, (std::vector<bool>{true, false, false, false}));
}

TEST(ReportEngine, EachTrueGivesOneDetailBandWithTheTextsOfThatCall) {
    SmallReport r;
    r.rowsLeft = 3;
    const auto prepared = r.prepare();
    ASSERT_TRUE(prepared);
    ASSERT_EQ(prepared->pages.size(), 1u);
    const auto details = bandsOf(prepared->pages[0], T::rbDetail);
    ASSERT_EQ(details.size(), 3u);
    EXPECT_EQ(details[0]->texts[0], "row 1");
    EXPECT_EQ(details[2]->texts[0], "row 3");
    const auto summaries = bandsOf(prepared->pages[0], T::rbSummary);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0]->texts[0], "total 3");
}

TEST(ReportEngine, FirstFalseGivesNoDetailButStillTheSummary) {
    SmallReport r;
    const auto prepared = r.prepare();
    ASSERT_TRUE(prepared);
    EXPECT_EQ(r.presets, (std::vector<bool>{true}));
    EXPECT_EQ(bandOrder(prepared->pages[0]),
              (std::vector<T>{T::rbPageHeader, T::rbTitle, T::rbColumnHeader, T::rbSummary,
                              T::rbPageFooter}));
}

TEST(ReportEngine, TitleFollowsThePageHeaderUnlessTitleBeforeHeader) {
    SmallReport r;
    r.rowsLeft = 1;
    auto order = bandOrder(r.prepare()->pages[0]);
    EXPECT_EQ(order, (std::vector<T>{T::rbPageHeader, T::rbTitle, T::rbColumnHeader, T::rbDetail,
                                     T::rbSummary, T::rbPageFooter}));
    SmallReport s;
    s.report.TitleBeforeHeader = true;
    order = bandOrder(s.prepare()->pages[0]);
    EXPECT_EQ(order.front(), T::rbTitle);
}

TEST(ReportEngine, BandsStackFromTheTopMarginAndTheFooterSitsAtTheBottom) {
    SmallReport r;
    r.rowsLeft = 2;
    const auto prepared = r.prepare();
    const PageGeometry& g = prepared->geometry;
    EXPECT_NEAR(g.paper.width(), 210 / 25.4 * 96, 0.5);  // A4 in 96-dpi form pixels
    EXPECT_EQ(g.leftMargin, 0);
    const LaidOutPage& page = prepared->pages[0];
    EXPECT_DOUBLE_EQ(bandsOf(page, T::rbPageHeader)[0]->top, g.topMargin);
    EXPECT_DOUBLE_EQ(bandsOf(page, T::rbTitle)[0]->top, g.topMargin + 24);
    EXPECT_DOUBLE_EQ(bandsOf(page, T::rbColumnHeader)[0]->top, g.topMargin + 24 + 37);
    EXPECT_DOUBLE_EQ(bandsOf(page, T::rbDetail)[1]->top, g.topMargin + 24 + 37 + 20 + 20);
    EXPECT_DOUBLE_EQ(bandsOf(page, T::rbPageFooter)[0]->top,
                     g.paper.height() - g.bottomMargin - 24);
}

TEST(ReportEngine, ABandThatWouldReachIntoTheFooterStartsANewPage) {
    SmallReport r;
    r.rowsLeft = 200;
    const auto prepared = r.prepare();
    ASSERT_TRUE(prepared);
    const PageGeometry& g = prepared->geometry;
    const double footerTop = g.paper.height() - g.bottomMargin - 24;
    // Page 1 holds header, title and captions; the rest of the room takes whole rows.
    const int firstPageRows = static_cast<int>((footerTop - g.topMargin - 24 - 37 - 20) / 20);
    ASSERT_GE(prepared->pages.size(), 3u);
    EXPECT_EQ(static_cast<int>(bandsOf(prepared->pages[0], T::rbDetail).size()), firstPageRows);
    int rows = 0;
    for (const LaidOutPage& page : prepared->pages) {
        for (const PlacedBand& b : page.bands)
            if (b.band->type != T::rbPageFooter) {
                EXPECT_LE(b.top + b.band->height, footerTop + 1e-9) << "page " << page.number;
            }
        rows += static_cast<int>(bandsOf(page, T::rbDetail).size());
        EXPECT_EQ(bandsOf(page, T::rbPageFooter).size(), 1u);
        EXPECT_EQ(bandsOf(page, T::rbPageFooter)[0]->texts[0],
                  "Page " + QString::number(page.number));
    }
    EXPECT_EQ(rows, 200);
}

TEST(ReportEngine, SummaryThatDoesNotFitGoesToANewPageWithItsHeaders) {
    SmallReport probe;
    probe.rowsLeft = 500;
    const auto full = probe.prepare();
    const int firstPageRows = static_cast<int>(bandsOf(full->pages[0], T::rbDetail).size());
    SmallReport r;
    r.rowsLeft = firstPageRows;  // page 1 full to the last row: no room left for the totals
    const auto prepared = r.prepare();
    ASSERT_EQ(prepared->pages.size(), 2u);
    EXPECT_TRUE(bandsOf(prepared->pages[0], T::rbSummary).empty());
    EXPECT_EQ(bandOrder(prepared->pages[1]),
              (std::vector<T>{T::rbPageHeader, T::rbColumnHeader, T::rbSummary, T::rbPageFooter}));
}

TEST(ReportEngine, CancelStopsAskingForRowsAndGivesNoPages) {
    SmallReport r;
    r.rowsLeft = 10;
    RecordingProgress progress;
    progress.cancelAtStep = 4;
    EXPECT_FALSE(r.prepare(&progress));
    EXPECT_EQ(r.presets.size(), 3u);  // three rows asked for before the cancel was seen
    EXPECT_EQ(progress.opened, 1);
    EXPECT_EQ(progress.closed, 1);
}

TEST(ReportEngine, ProgressWindowOpensBeforeBeforePrintWithTheCaptionInForceThen) {
    const QString saved = QRPrinter().progressCaption();
    QRPrinter().setProgressCaption("First");
    SmallReport r;
    r.report.BeforePrint = [](bool&) { QRPrinter().setProgressCaption("Second"); };
    RecordingProgress progress;
    ASSERT_TRUE(r.prepare(&progress));
    ASSERT_TRUE(r.prepare(&progress));
    EXPECT_EQ(progress.captions, (std::vector<QString>{"First", "Second"}));
    EXPECT_EQ(progress.texts[0], "Preparing report Small");
    QRPrinter().setProgressCaption(saved);
}

TEST(ReportEngine, BeforePrintCanRefuseThePreparation) {
    SmallReport r;
    r.report.BeforePrint = [](bool& print) { print = false; };
    EXPECT_FALSE(r.prepare());
    EXPECT_TRUE(r.presets.empty());
}

TEST(ReportEngine, SystemDataLabels) {
    SmallReport r;
    r.head.data = TQRSysData::DateTime;
    r.head.setText("At ");
    const auto prepared = r.prepare();
    const QString expected = "At " + QLocale().toString(QDate(2024, 3, 5), QLocale::ShortFormat) +
                             " " + QLocale().toString(QTime(14, 7, 9), QLocale::LongFormat);
    EXPECT_EQ(bandsOf(prepared->pages[0], T::rbPageHeader)[0]->texts[0], expected);
    EXPECT_EQ(bandsOf(prepared->pages[0], T::rbTitle)[0]->texts[0], "Small");
}

TEST(ReportEngine, DateTimeLeavesOutTheTimeOnlyAtExactlyMidnight) {
    const QDate day(2024, 3, 5);
    const QString date = QLocale().toString(day, QLocale::ShortFormat);
    EXPECT_EQ(dateTimeText(QDateTime(day, QTime(0, 0))), date);
    EXPECT_NE(dateTimeText(QDateTime(day, QTime(0, 0, 1))), date);
    EXPECT_NE(dateTimeText(QDateTime(day, QTime(0, 0, 0, 1))), date);
    EXPECT_TRUE(dateTimeText(QDateTime(day, QTime(12, 0))).startsWith(date + " "));
}
