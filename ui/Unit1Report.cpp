// Report > Create Report: the directory report of the watched list, in the preview window.
#include <QLabel>
#include <memory>

#include "output/Report.h"
#include "ui/Unit1.h"

namespace pelmora::ui {

void TForm1::CreateReportClick() {
    if (m_watchedList.count() == 0) return;
    // One report at a time: a second Create Report while one is prepared or previewed is
    // refused, so that it cannot reset the running state under the first.
    if (output::TQuickReport::previewRunning()) return;
    output::ReportRow = 0;
    output::ReportTotals = {};
    // Start-up creates the report form over this window's list; a window built without one
    // (a test, a tool) uses a form of its own over its own list.
    static std::unique_ptr<output::TQRListForm> own;
    if (output::QRListForm == nullptr || output::QRListForm == own.get()) {
        own = std::make_unique<output::TQRListForm>(m_watchedList);
        output::QRListForm = own.get();
    }
    output::QRListForm->QRLabel1.setText("File " + FileNameLabel->text());
    output::QRListForm->QuickReport.Preview(*m_services.dialogs);
}

}  // namespace pelmora::ui
