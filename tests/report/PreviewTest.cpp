// Painting, the preview window and printing: what the user sees on screen is what the printer
// gets, page for page.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "list/watchedlist.h"
#include "output/Printer.h"
#include "output/Report.h"
#include "output/ReportPainter.h"
#include "output/gui/ReportPreview.h"
#include "output/gui/SystemPrinter.h"
#include "stats/counting.h"
#include "tests/report/ReportTestSupport.h"
#include "tests/support/ScriptedDialogs.h"

using namespace pelmora::output;
using pelmora::list::WatchedList;
using pelmora::test::bandsOf;
using pelmora::test::ScriptedDialogs;
using T = TQRBandType;

namespace {

// The visible progress window, if any.
TQRProgressWindow* progressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TQRProgressWindow*>(w); p && p->isVisible()) return p;
    return nullptr;
}

// What one print job received.
struct JobRecord {
    std::vector<QImage> pages;
    bool finished = false;
    bool aborted = false;
};

// A printer that paints each page into an image of the paper's size at 96 dpi.
class ImageJob : public PrintJob {
  public:
    ImageJob(QSize size, std::shared_ptr<JobRecord> record, std::function<void()> onPaint)
        : m_size(size), m_record(std::move(record)), m_onPaint(std::move(onPaint)) {
        beginImage();
    }
    QPainter& painter() override {
        if (m_onPaint) m_onPaint();
        return m_painter;
    }
    QRectF printableArea() const override { return QRectF(QPointF(0, 0), m_size); }
    bool newPage() override {
        endImage();
        beginImage();
        return true;
    }
    bool finish() override {
        endImage();
        m_record->finished = true;
        return true;
    }
    void abort() override {
        m_painter.end();
        m_record->aborted = true;
    }

  private:
    void beginImage() {
        m_image = QImage(m_size, QImage::Format_RGB32);
        m_image.fill(Qt::white);
        m_painter.begin(&m_image);
    }
    void endImage() {
        m_painter.end();
        m_record->pages.push_back(m_image);
    }
    QSize m_size;
    std::shared_ptr<JobRecord> m_record;
    std::function<void()> m_onPaint;
    QImage m_image;
    QPainter m_painter;
};

class RecordingBackend : public PrintBackend {
  public:
    std::unique_ptr<PrintJob> startJob(const QString& name, const QPageSize& paper,
                                       QString& error) override {
        jobNames.push_back(name);
        if (!available) {
            error = "There is no printer installed";
            return nullptr;
        }
        const QSize size = (paper.size(QPageSize::Inch) * kFormDpi).toSize();
        jobs.push_back(std::make_shared<JobRecord>());
        return std::make_unique<ImageJob>(size, jobs.back(), onPaint);
    }
    bool available = true;
    std::vector<QString> jobNames;
    std::vector<std::shared_ptr<JobRecord>> jobs;
    std::function<void()> onPaint;
};

// The report form over `n` missing directories (rows of zeros), prepared on A4.
class Prepared : public ::testing::Test {
  protected:
    void SetUp() override {
        ReportRow = 0;
        ReportTotals = {};
        form.QuickReport.PageSize = QPageSize(QPageSize::A4);
    }

    PreparedReport prepare(int n, const std::string& prefix = "/nonexistent-pelmora/") {
        for (int i = 0; i < n; ++i) list.add(prefix + std::to_string(100 + i));
        return *prepareReport(form.QuickReport, {});
    }

    QImage render(const PreparedReport& r, const LaidOutPage& page) {
        QImage image(r.geometry.paper.toSize(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        paintPage(painter, r.geometry, page);
        return image;
    }

    WatchedList list;
    TQRListForm form{list};
    RecordingBackend backend;
    ScriptedDialogs dialogs;
};

bool allWhite(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255)) return false;
    return true;
}

}  // namespace

TEST_F(Prepared, NumberCellsCoverALongDirectoryTextInsideTheirBoxes) {
    const PreparedReport r = prepare(1, "/" + std::string(120, 'W') + "/");
    const PlacedBand* detail = bandsOf(r.pages[0], T::rbDetail).at(0);
    const QImage image = render(r, r.pages[0]);
    const QRectF dirs = labelBox(form.QRDirs, "0", 0, detail->top, r.geometry.bandWidth());
    ASSERT_EQ(dirs.left(), 360);
    // Inside the Directories box only its own "0" at the right end is drawn...
    EXPECT_TRUE(allWhite(image, QRect(362, int(dirs.top()) + 1, 55, int(dirs.height()) - 2)));
    // ...while the text runs on, in full, left of it and between the boxes.
    EXPECT_FALSE(allWhite(image, QRect(300, int(dirs.top()), 55, int(dirs.height()))));
    EXPECT_FALSE(allWhite(image, QRect(441, int(dirs.top()), 6, int(dirs.height()))));
    // The dotted line along the detail band's bottom.
    const int lineY = int(detail->top + 19);
    EXPECT_FALSE(allWhite(image, QRect(0, lineY - 1, 20, 3)));
    EXPECT_TRUE(allWhite(image, QRect(0, lineY - 4, 20, 1)));
}

TEST_F(Prepared, PrintedPagesAreTheRecordedPagesAndPrintingTwiceIsIdentical) {
    const PreparedReport r = prepare(120);
    ASSERT_GE(r.pages.size(), 2u);
    const std::vector<QPicture> recorded = recordPages(r);
    int callbacks = 0;
    form.QuickReport.OnNeedData = [&](bool&) { ++callbacks; };
    form.QuickReport.BeforePrint = [&](bool&) { ++callbacks; };
    list.clear();
    TQRPreview preview(recorded, r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.print();
    ASSERT_EQ(backend.jobs.size(), 1u);
    const std::vector<QImage> first = backend.jobs[0]->pages;
    EXPECT_TRUE(backend.jobs[0]->finished);
    EXPECT_EQ(callbacks, 0);
    ASSERT_EQ(first.size(), r.pages.size());
    for (std::size_t i = 0; i < r.pages.size(); ++i) {
        // What the preview shows of the page, at the printer's size.
        QImage shown(first[i].size(), QImage::Format_RGB32);
        shown.fill(Qt::white);
        QPainter painter(&shown);
        drawRecordedPage(painter, recorded[i], r.geometry.paper, QRectF(shown.rect()));
        painter.end();
        EXPECT_TRUE(shown == first[i]) << "page " << i + 1;
    }
    // Each page holds its own rows: page 2 differs from page 1.
    EXPECT_FALSE(first[0] == first[1]);
    preview.print();
    ASSERT_EQ(backend.jobNames.size(), 2u);
    EXPECT_EQ(backend.jobNames[0], "Pelmora Report");
    EXPECT_TRUE(backend.jobs[1]->pages == first);
}

TEST_F(Prepared, PrintingShowsItsProgressWindowAndCancelAbortsTheJob) {
    const PreparedReport r = prepare(120);
    QRPrinter().setProgressCaption("Creating report...");
    QString caption, text;
    backend.onPaint = [&] {
        if (TQRProgressWindow* w = progressWindow()) {
            caption = w->windowTitle();
            text = w->findChild<QLabel*>("Info")->text();
            w->cancelButton()->click();
        }
    };
    TQRPreview preview(recordPages(r), r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.print();
    EXPECT_EQ(caption, "Creating report...");
    EXPECT_EQ(text, "Printing report Pelmora Report");
    ASSERT_EQ(backend.jobs.size(), 1u);
    EXPECT_TRUE(backend.jobs[0]->aborted);
    EXPECT_FALSE(backend.jobs[0]->finished);
    EXPECT_EQ(progressWindow(), nullptr);
}

TEST_F(Prepared, WithoutAPrinterAnErrorBoxSaysSo) {
    const PreparedReport r = prepare(1);
    backend.available = false;
    TQRPreview preview(recordPages(r), r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.print();
    EXPECT_EQ(dialogs.errors(), (std::vector<std::string>{"There is no printer installed"}));
}

TEST(PrintJobName, IsCutTo31Characters) {
    EXPECT_EQ(printJobName("Pelmora Report"), "Pelmora Report");
    EXPECT_EQ(printJobName(QString(40, 'x')), QString(31, 'x'));
}

TEST_F(Prepared, PreviewControlsAndPageNavigation) {
    const PreparedReport r = prepare(120);
    ASSERT_EQ(r.pages.size(), 3u);
    QRPrinter().setShowSaveButton(false);
    QRPrinter().setShowLoadButton(true);
    TQRPreview preview(recordPages(r), r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.resize(900, 700);
    preview.show();
    auto button = [&](const char* name) { return preview.findChild<QToolButton*>(name); };
    const std::vector<std::pair<const char*, const char*>> hints = {
        {"ZoomToFit", "Fit in Window"}, {"ZoomTo100", "100%"},
        {"ZoomToWidth", "Page Width"},  {"FirstPage", "First page"},
        {"PrevPage", "Previous page"},  {"NextPage", "Next page"},
        {"LastPage", "Last page"},      {"PrintButton", "Print report"}};
    for (const auto& [name, hint] : hints) {
        ASSERT_NE(button(name), nullptr) << name;
        EXPECT_EQ(button(name)->toolTip(), hint);
    }
    EXPECT_EQ(preview.findChild<QPushButton*>("ExitButton")->text(), "&Exit");
    EXPECT_FALSE(button("SaveReport")->isVisible());
    EXPECT_TRUE(button("LoadReport")->isVisible());

    auto* indicator = preview.findChild<QLabel*>("PageIndicator");
    EXPECT_EQ(indicator->text(), "Page 1 of 3");
    EXPECT_FALSE(button("PrevPage")->isEnabled());
    EXPECT_TRUE(button("NextPage")->isEnabled());
    button("NextPage")->click();
    EXPECT_EQ(indicator->text(), "Page 2 of 3");
    EXPECT_TRUE(button("PrevPage")->isEnabled());
    button("LastPage")->click();
    EXPECT_EQ(indicator->text(), "Page 3 of 3");
    EXPECT_FALSE(button("NextPage")->isEnabled());
    button("PrevPage")->click();
    EXPECT_EQ(preview.currentPage(), 2);
    button("FirstPage")->click();
    EXPECT_EQ(indicator->text(), "Page 1 of 3");
}

TEST_F(Prepared, ZoomFitsThePageWidthOrAHundredPercent) {
    const PreparedReport r = prepare(1);
    TQRPreview preview(recordPages(r), r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.resize(900, 700);
    preview.show();
    auto* area = preview.findChild<QScrollArea*>("ScrollBox");
    const QSizeF room = area->maximumViewportSize();
    const QSizeF paper = r.geometry.paper;
    const double fit =
        0.98 * std::min(room.width() / paper.width(), room.height() / paper.height());
    EXPECT_NEAR(preview.zoom(), fit, 1e-9);  // the window opens fitted
    preview.findChild<QToolButton*>("ZoomTo100")->click();
    EXPECT_DOUBLE_EQ(preview.zoom(), 1.0);
    preview.findChild<QToolButton*>("ZoomToWidth")->click();
    EXPECT_NEAR(preview.zoom(), 0.98 * room.width() / paper.width(), 1e-9);
    preview.findChild<QToolButton*>("ZoomToFit")->click();
    EXPECT_NEAR(preview.zoom(), fit, 1e-9);
}

TEST_F(Prepared, EscapeClosesThePreview) {
    const PreparedReport r = prepare(1);
    TQRPreview preview(recordPages(r), r.geometry, form.QuickReport.ReportTitle, dialogs, backend);
    preview.show();
    ASSERT_TRUE(preview.isVisible());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&preview, &esc);
    EXPECT_FALSE(preview.isVisible());
}

TEST_F(Prepared, CancelInTheProgressWindowStopsThePreparation) {
    for (int i = 0; i < 5; ++i) list.add("/nonexistent-pelmora/" + std::to_string(i));
    int calls = 0;
    QString shownText;
    form.QuickReport.OnNeedData = [&](bool& more) {
        if (++calls == 2) {
            TQRProgressWindow* w = progressWindow();
            ASSERT_NE(w, nullptr);
            shownText = w->findChild<QLabel*>("Info")->text();
            w->cancelButton()->click();
        }
        form.QuickReportNeedData(more);
    };
    TQRProgressWindow window;
    PrepareOptions options;
    options.progress = &window;
    EXPECT_FALSE(prepareReport(form.QuickReport, options));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(shownText, "Preparing report Pelmora Report");
    EXPECT_FALSE(window.isVisible());
}

TEST_F(Prepared, PreviewOpensMaximisedOnPageOneAndRefusesASecondReportMeanwhile) {
    for (int i = 0; i < 3; ++i) list.add("/nonexistent-pelmora/" + std::to_string(i));
    int before = 0;
    form.QuickReport.BeforePrint = [&](bool& p) { ++before, form.QuickReportBeforePrint(p); };
    bool maximised = false;
    int page = 0;
    int previews = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* preview = qobject_cast<TQRPreview*>(QApplication::activeModalWidget());
        if (!preview) return;
        ++previews;
        maximised = preview->windowState().testFlag(Qt::WindowMaximized);
        page = preview->currentPage();
        previewReport(form.QuickReport, dialogs,
                      backend);  // refused: a report is already in its preview
        preview->reject();
    });
    closer.start(0);
    previewReport(form.QuickReport, dialogs, backend);
    closer.stop();
    EXPECT_EQ(previews, 1);
    EXPECT_TRUE(maximised);
    EXPECT_EQ(page, 1);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(ReportRow, 3);
}
