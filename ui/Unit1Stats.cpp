// The Stats command: counts the navigator's current directory into the four figure labels.
#include <QApplication>
#include <QLabel>

#include "platform/gui/dialogs.h"
#include "platform/paths.h"
#include "platform/volumes.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "ui/Navigator.h"
#include "ui/Unit1.h"
#include "ui/AutoSize.h"

namespace pelmora::ui {

namespace {

// The hourglass for the whole application while a count runs.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void TForm1::setStatsLabel(QLabel* label, const std::string& text) {
    setAutoSizeText(label, QString::fromStdString(text));
    // A screen reader reads the figure with its caption, as drawn ("Total Files 18,337"), and
    // the caption alone while there is no figure.
    label->setAccessibleName(text.empty() ? label->property("caption").toString() : QString());
}

void TForm1::StatsPanelClick() {
    const std::string dir = DirectoryListBox1->directory();
    if (dir.empty()) return;
    // Counting a whole volume can take long: ask first when the directory is a volume's root,
    // naming the whole mount point (the label may show it shortened).
    if (m_services.volumes->mountPointOf(dir) == dir) {
        const int answer = m_services.dialogs->messageDlgEx(
            "This might take some time.\r\nGet stats for entire " + dir + " drive?",
            platform::MsgDlgType::Information, platform::mbYes | platform::mbNo, platform::mbYes,
            platform::mbNo);
        if (answer == platform::mrNo) return;
    }
    BusyCursor hourglass;
    // The count runs to its end here, without letting window messages through; only its work
    // is spread over threads. The window shows the figures alone, as always.
    // CountTree leaves its figures in DirStats, read back at once with TreeOverhead.
    stats::CountTree(platform::expandFileName(dir));
    const char sep = m_thousandsSeparator;
    setStatsLabel(TotDirsLabel,
                  "Total Directories " + stats::FormatCount(stats::DirStats.DirCount, sep));
    setStatsLabel(TotFilesLabel,
                  "Total Files " + stats::FormatCount(stats::DirStats.FileCount, sep));
    setStatsLabel(TotSizeLabel,
                  "Total Bytes " + stats::FormatCount(stats::DirStats.ByteTotal, sep));
    setStatsLabel(OverheadLabel,
                  "Cluster Overhead " + stats::FormatCount(stats::TreeOverhead(), sep));
}

}  // namespace pelmora::ui
