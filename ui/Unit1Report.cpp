// Report > Create Report: the directory report of the watched list, in the preview window.
#include <QLabel>

#include "output/Report.h"
#include "output/gui/ReportPreview.h"
#include "stats/counting.h"
#include "ui/Unit1.h"

namespace pelmora::ui {

void TForm1::CreateReportClick() {
    if (m_watchedList.count() == 0) return;
    // One report at a time: a second Create Report while one is prepared or previewed is
    // refused, so that it cannot reset the running state under the first.
    if (output::previewRunning()) return;
    m_reportForm.startReport(stats::EntryOverhead, m_thousandsSeparator);
    m_reportForm.QRLabel1.setText("File " + FileNameLabel->text());
    output::previewReport(m_reportForm.QuickReport, *m_services.dialogs, *m_services.printer);
}

}  // namespace pelmora::ui
