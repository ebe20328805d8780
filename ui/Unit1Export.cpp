// Report > Create Data File: one line per watched directory in the data file beside the list.
#include <QApplication>
#include <QProgressBar>
#include <memory>
#include <optional>

#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/gui/dialogs.h"
#include "platform/ioerror.h"
#include "ui/Unit1.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

namespace {

// The hourglass and the progress bar for the duration of one export: however the export ends,
// the normal pointer comes back (not whatever was shown before) and the bar is hidden.
class ExportFeedback {
  public:
    ExportFeedback(QProgressBar* bar, int steps) : m_bar(bar) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // Qt's bar counts in int, as the list does, so every list gets one step per entry.
        m_bar->setRange(0, steps);
        m_bar->setValue(0);
        m_bar->show();
    }
    ~ExportFeedback() {
        while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
        m_bar->hide();
    }
    ExportFeedback(const ExportFeedback&) = delete;
    ExportFeedback& operator=(const ExportFeedback&) = delete;

    void step(int done) { m_bar->setValue(done); }

  private:
    QProgressBar* m_bar;
};

}  // namespace

void TForm1::CreateDataFileClick() {
    const list::WatchedList& entries = m_watchedList;
    if (entries.count() == 0) {
        m_services.dialogs->notice("The list is empty.");
        return;
    }

    prepareListFolder();  // a list not saved yet may name a folder not made yet
    const std::string name = output::dataFileName(list::ListFileName);
    std::optional<platform::PelmoraError> notCreated;
    {
        ExportFeedback feedback(ProgressBar1, entries.count());
        // The data file is replaced only once every line is on the disk: a failure, or an
        // error anywhere in between, leaves the previous one whole.
        std::unique_ptr<output::FileSink> sink;
        try {
            sink = std::make_unique<output::FileSink>(name, list::ListFileName);
        } catch (const platform::PelmoraError& e) {
            notCreated = e;
        }
        // The list is counted in one walk per enclosing entry, each line written as soon as
        // its entry is counted, so the file shows the disk as it is now; a write or close
        // error stops the export and reaches the caller. DirStats follows each line.
        if (sink) {
            stats::ListCount counts(
                static_cast<std::size_t>(entries.count()),
                [&entries](std::size_t i) { return entries.at(static_cast<int>(i)); }, {});
            output::writeDataFile(
                entries, *sink, output::countEach(counts), stats::EntryOverhead,
                [](std::size_t, std::string_view, const stats::CountResult& counted) {
                    stats::DirStats = stats::dirStatsOf(counted);
                    return std::string();
                },
                [&feedback](int done) { feedback.step(done); });
        }
    }
    if (notCreated) {
        // Not silently skipped: the user learns that no data file was written. A batch run
        // still ends as it would have, but with a failing exit status.
        if (!isBatchRun()) throw *notCreated;
        showException(*m_services.dialogs, *notCreated);
        m_batchExitStatus = 1;
        return;
    }
    m_services.dialogs->notice("File " + name + " created.");
}

}  // namespace pelmora::ui
