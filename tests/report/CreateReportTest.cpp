// Report > Create Report in the main window: the list check, the reset of the running state,
// the page header's file name and the preview.
#include <QAction>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include "output/Report.h"
#include "output/gui/ReportPreview.h"
#include "tests/ui/ShellFixture.h"

using namespace pelmora;

namespace {

// Closes every preview that opens while it lives, noting what the preview and the report
// form showed at that moment.
class PreviewCloser {
  public:
    explicit PreviewCloser(ui::TForm1& window) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, &window] {
            auto* preview = qobject_cast<output::TQRPreview*>(QApplication::activeModalWidget());
            if (!preview) return;
            ++previews;
            pageCount = preview->pageCount();
            header = window.reportForm().QRLabel1.text();
            if (onPreview) onPreview();
            preview->reject();
        });
        m_timer.start(0);
    }
    int previews = 0;
    int pageCount = 0;
    QString header;
    std::function<void()> onPreview;

  private:
    QTimer m_timer;
};

class CreateReport : public test::ShellTest {};

}  // namespace

TEST_F(CreateReport, AnEmptyListDoesNothing) {
    ui::TForm1& w = createForm();
    w.watchedList().clear();
    output::ReportRow = 7;
    output::ReportTotals.TotalFiles = 9;
    PreviewCloser closer(w);
    w.CreateReportClick();
    QApplication::processEvents();
    EXPECT_EQ(closer.previews, 0);
    EXPECT_EQ(output::ReportRow, 7);
    EXPECT_EQ(output::ReportTotals.TotalFiles, 9);
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(CreateReport, StartsFromZeroEveryTimeAndNamesTheListFile) {
    ui::TForm1& w = createForm();
    tree.dir("data/A/sub");
    tree.file("data/A/one", 10);
    tree.file("data/A/sub/two", 20);
    tree.dir("data/B");
    tree.file("data/B/three", 30);
    w.watchedList().add(tree.path("data/A"));
    w.watchedList().add(tree.path("data/B"));
    output::ReportRow = 5;
    output::ReportTotals.TotalFiles = 1000;
    output::ReportTotals.TotalSize = stats::Real48::fromInt(12345);
    PreviewCloser closer(w);
    w.CreateReportClick();
    EXPECT_EQ(closer.previews, 1);
    EXPECT_EQ(closer.pageCount, 1);
    EXPECT_EQ(closer.header, "File " + w.FileNameLabel->text());
    EXPECT_FALSE(w.FileNameLabel->text().isEmpty());
    EXPECT_EQ(output::ReportRow, 2);
    EXPECT_EQ(output::ReportTotals.TotalFiles, 3);
    EXPECT_EQ(output::ReportTotals.TotalDirs, 1);

    // A second report counts everything again.
    tree.file("data/B/four", 40);
    w.CreateReportClick();
    EXPECT_EQ(closer.previews, 2);
    EXPECT_EQ(output::ReportTotals.TotalFiles, 4);
}

TEST_F(CreateReport, TheMenuItemOpensThePreviewAndASecondReportIsRefusedMeanwhile) {
    ui::TForm1& w = createForm();
    w.watchedList().add(tree.dir("data/A"));
    PreviewCloser closer(w);
    closer.onPreview = [&] {
        output::ReportRow = 42;
        w.CreateReportClick();  // refused while this report is in its preview
        EXPECT_EQ(output::ReportRow, 42);
    };
    w.CreateReport->trigger();
    EXPECT_EQ(closer.previews, 1);
}
