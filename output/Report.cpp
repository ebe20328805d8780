#include "output/Report.h"

#include <limits>
#include <string>

#include "platform/qt/displayname.h"
#include "stats/counting.h"
#include "stats/formatcount.h"

namespace pelmora::output {

TReportTotals ReportTotals;
std::int32_t ReportRow = 0;

const QString TQRListForm::kReportTitle = QStringLiteral("Pelmora Report");

namespace {

// The form's font, Arial 8 point, is 11 pixels high at 96 dpi; the title is 14 point.
constexpr int kFormFont = 11;
constexpr int kTitleFont = 19;

TQRLabel caption(const char* text, TQRAlign align, int top, int left = 0, int width = 0) {
    TQRLabel label(align, top, reportFont(kFormFont, true), left, width);
    label.setText(QString::fromLatin1(text));
    return label;
}

QString count(std::int64_t value, char separator) {
    return QString::fromStdString(stats::FormatCount(value, separator));
}
QString count(stats::Real48 value, char separator) {
    return QString::fromStdString(stats::FormatCount(value, separator));
}

std::int64_t addWithoutWrap(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

}  // namespace

TQRListForm::TQRListForm(list::WatchedList& list)
    : QRLabel1(TQRAlign::Left, 4, reportFont(kFormFont)),
      QRDateTime(sysDataLabel(TQRSysData::DateTime, QStringLiteral("Printed "), TQRAlign::RightEdge,
                              4, reportFont(kFormFont))),
      QRSysData1(sysDataLabel(TQRSysData::ReportTitle, QString(), TQRAlign::Centre, 7,
                              reportFont(kTitleFont, true))),
      QRLabel2(caption("Directory", TQRAlign::Left, 2)),
      QRLabel4(caption("Directories", TQRAlign::RightInBox, 5, 360, 81)),
      QRLabel5(caption("Files", TQRAlign::RightInBox, 5, 456, 73)),
      QRLabel6(caption("Total Size", TQRAlign::RightInBox, 3, 552, 81)),
      QRLabel3(caption("Total Overhead", TQRAlign::RightEdge, 3)),
      QRDirectory(TQRAlign::Left, 2, reportFont(kFormFont)),
      QRDirs(TQRAlign::RightInBox, 3, reportFont(kFormFont), 360, 81),
      QRFiles(TQRAlign::RightInBox, 3, reportFont(kFormFont), 448, 81),
      QRSize(TQRAlign::RightInBox, 3, reportFont(kFormFont), 552, 81),
      QROverhead(TQRAlign::RightEdge, 3, reportFont(kFormFont)),
      QRDirCount(TQRAlign::Left, 3, reportFont(kFormFont, true)),
      QRSumDirs(TQRAlign::RightInBox, 3, reportFont(kFormFont, true), 360, 81),
      QRSumFiles(TQRAlign::RightInBox, 3, reportFont(kFormFont, true), 456, 73),
      QRSumSize(TQRAlign::RightInBox, 3, reportFont(kFormFont, true), 560, 73),
      QRSumOverhead(TQRAlign::RightEdge, 3, reportFont(kFormFont, true)),
      PageNumber(sysDataLabel(TQRSysData::PageNumber, QStringLiteral("Page "), TQRAlign::Centre, 5,
                              reportFont(kFormFont))),
      PageHeader{TQRBandType::rbPageHeader, 24, {}, {&QRLabel1, &QRDateTime}},
      Title{TQRBandType::rbTitle, 37, {}, {&QRSysData1}},
      QRBand1{TQRBandType::rbColumnHeader,
              20,
              {TQRLineStyle::None, TQRLineStyle::Solid},
              {&QRLabel2, &QRLabel4, &QRLabel5, &QRLabel6, &QRLabel3}},
      Detail{TQRBandType::rbDetail,
             20,
             {TQRLineStyle::None, TQRLineStyle::Dotted},
             {&QRDirectory, &QRDirs, &QRFiles, &QRSize, &QROverhead}},
      QRBand2{TQRBandType::rbSummary,
              20,
              {TQRLineStyle::Solid, TQRLineStyle::None},
              {&QRDirCount, &QRSumDirs, &QRSumFiles, &QRSumSize, &QRSumOverhead}},
      PageFooter{TQRBandType::rbPageFooter, 24, {}, {&PageNumber}},
      m_list(list) {
    QuickReport.ReportTitle = kReportTitle;
    QuickReport.TitleBeforeHeader = false;
    QuickReport.LeftMargin = 0;
    QuickReport.Bands = {&PageHeader, &Title, &QRBand1, &Detail, &QRBand2, &PageFooter};
    QuickReport.OnNeedData = [this](bool& more) { QuickReportNeedData(more); };
    QuickReport.BeforePrint = [this](bool& print) { QuickReportBeforePrint(print); };
}

void TQRListForm::startReport(std::int32_t entryOverhead, char thousandsSeparator,
                              const stats::CountOptions& options) {
    ReportRow = 0;
    ReportTotals = {};
    m_entryOverhead = entryOverhead;
    m_separator = thousandsSeparator;
    m_options = options;
    m_counts = std::make_unique<stats::ListCount>(m_list.entries(), options);
}

void TQRListForm::QuickReportNeedData(bool& MoreData) {
    const int n = m_list.count();
    if (ReportRow < n) {
        // A copy: the list may change while the tree is counted.
        const std::string entry = m_list.get(ReportRow);
        const auto row = static_cast<std::size_t>(ReportRow);
        const stats::CountResult counted =
            m_counts && row < m_counts->size() && m_counts->entry(row) == entry
                ? m_counts->take(row)
                : stats::count(entry, m_options);
        stats::DirStats = stats::dirStatsOf(counted);
        if (rowCounted) rowCounted(entry, counted);
        QRDirectory.setText(platform::displayName(entry));
        QRDirs.setText(count(counted.directories, m_separator));
        QRFiles.setText(count(counted.files, m_separator));
        QRSize.setText(count(counted.byteTotal, m_separator));
        const stats::Real48 overhead = stats::Real48::fromInt(
            stats::overheadFor(counted.directories, counted.files, m_entryOverhead));
        QROverhead.setText(count(overhead, m_separator));
        ReportTotals.TotalFiles = addWithoutWrap(ReportTotals.TotalFiles, counted.files);
        ReportTotals.TotalDirs = addWithoutWrap(ReportTotals.TotalDirs, counted.directories);
        ReportTotals.TotalSize += counted.byteTotal;
        ReportTotals.TotalOverhead += overhead;
        ++ReportRow;
        MoreData = true;
    } else {
        QRSumFiles.setText(count(ReportTotals.TotalFiles, m_separator));
        QRSumDirs.setText(count(ReportTotals.TotalDirs, m_separator));
        QRSumSize.setText(count(ReportTotals.TotalSize, m_separator));
        QRSumOverhead.setText(count(ReportTotals.TotalOverhead, m_separator));
        QRDirCount.setText("Totals for " + QString::number(n) + " Directories");
        MoreData = false;
    }
}

void TQRListForm::QuickReportBeforePrint(bool& /*PrintReport*/) {
    QRPrinter().setProgressCaption(QStringLiteral("Creating report..."));
    QRPrinter().setShowLoadButton(false);
    QRPrinter().setShowSaveButton(false);
}

}  // namespace pelmora::output
