// The report form: the definition of the directory report (bands and labels), its running
// state, and the two callbacks the engine calls while it prepares the pages. The form is
// never shown; the main window owns it (TForm1::reportForm) and it lives as long as the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "list/watchedlist.h"
#include "output/ReportEngine.h"
#include "stats/engine.h"
#include "stats/real48.h"

namespace pelmora::output {

// Running sums over the rows of the report being prepared. The integer sums are 64-bit and
// stop at their maximum instead of wrapping.
struct TReportTotals {
    std::int64_t TotalFiles = 0;
    std::int64_t TotalDirs = 0;
    stats::Real48 TotalSize;
    stats::Real48 TotalOverhead;
};

// The running state of the report being prepared, shown after the preparation (or where it
// was cancelled). Defined in output/Report.cpp and written only by TQRListForm (startReport
// and QuickReportNeedData).
extern TReportTotals ReportTotals;
// Index in the watched list of the next directory to report; 0 is the first entry.
extern std::int32_t ReportRow;

class TQRListForm {
  public:
    static const QString kReportTitle;

    // `list` is the watched list; it is read afresh at every row.
    explicit TQRListForm(list::WatchedList& list);
    TQRListForm(const TQRListForm&) = delete;
    TQRListForm& operator=(const TQRListForm&) = delete;

    // Starts a report: ReportRow back to the first entry, ReportTotals to zero, every counted
    // entry of its rows charged `entryOverhead` bytes (the caller passes stats::EntryOverhead),
    // and the counts grouped by `thousandsSeparator`. The list as it is now is counted in one
    // walk per enclosing entry (`options`), each row when it is due.
    void startReport(std::int32_t entryOverhead, char thousandsSeparator,
                     const stats::CountOptions& options = {});

    // Fills the labels of the next row and counts its tree, or fills the totals. A row whose
    // entry changed since the report started is counted alone. DirStats follows each row.
    void QuickReportNeedData(bool& MoreData);

    // Told of each row's count (pelmora-cli names the directories that could not be read and
    // says so in its status); the window sets none.
    std::function<void(std::string_view entry, const stats::CountResult& counted)> rowCounted;
    // Sets the progress caption and hides the preview's Load and Save buttons.
    void QuickReportBeforePrint(bool& PrintReport);

    // Page header.
    TQRLabel QRLabel1;
    TQRLabel QRDateTime;
    // Title.
    TQRLabel QRSysData1;
    // Column header.
    TQRLabel QRLabel2;
    TQRLabel QRLabel4;
    TQRLabel QRLabel5;
    TQRLabel QRLabel6;
    TQRLabel QRLabel3;
    // Detail.
    TQRLabel QRDirectory;
    TQRLabel QRDirs;
    TQRLabel QRFiles;
    TQRLabel QRSize;
    TQRLabel QROverhead;
    // Summary.
    TQRLabel QRDirCount;
    TQRLabel QRSumDirs;
    TQRLabel QRSumFiles;
    TQRLabel QRSumSize;
    TQRLabel QRSumOverhead;
    // Page footer.
    TQRLabel PageNumber;

    TQRBand PageHeader;
    TQRBand Title;
    TQRBand QRBand1;
    TQRBand Detail;
    TQRBand QRBand2;
    TQRBand PageFooter;

    TQuickReport QuickReport;

  private:
    list::WatchedList& m_list;
    std::unique_ptr<stats::ListCount> m_counts;
    stats::CountOptions m_options;
    std::int32_t m_entryOverhead = 0;
    char m_separator = ',';
};

}  // namespace pelmora::output
