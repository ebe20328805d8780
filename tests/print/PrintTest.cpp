// Printing through the real print system: Create Report in the main window, Print report in
// its preview, and the job followed into a cups-pdf queue and read back from the PDF it writes.
// Without the queue (scripts/print-setup.sh) these tests skip, except the one without a printer.
#include <QDir>
#include <QLabel>
#include <QLockFile>
#include <QPainter>
#include <QPdfWriter>
#include <QPicture>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include "output/Report.h"
#include "output/ReportPainter.h"
#include "output/gui/ReportPreview.h"
#include "tests/print/PrintQueue.h"
#include "tests/ui/ShellFixture.h"

using namespace pelmora;
using output::TQRPreview;
using output::TQRProgressWindow;
using test::PdfPage;
using test::PrintQueue;

namespace {

// Watches the printing windows: what each showed, how many pages it stepped through, which
// other windows were up meanwhile; presses Cancel before page `cancelAtPage`.
class PrintingWatch : public QObject {
  public:
    PrintingWatch() { qApp->installEventFilter(this); }
    ~PrintingWatch() override { qApp->removeEventFilter(this); }

    int cancelAtPage = 0;  // 0: never
    std::vector<QString> captions;
    std::vector<QString> texts;
    std::vector<QString> buttons;
    std::vector<int> steps;  // per print run
    QStringList otherWindows;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* window = qobject_cast<TQRProgressWindow*>(object);
        if (event->type() != QEvent::Show || window == nullptr) return false;
        const QString text = window->findChild<QLabel*>("Info")->text();
        if (!text.startsWith(QLatin1String("Printing report"))) return false;  // preparation
        captions.push_back(window->windowTitle());
        texts.push_back(text);
        buttons.push_back(window->cancelButton()->text());
        steps.push_back(0);
        connect(window, &TQRProgressWindow::stepped, this, [this, window](int step) {
            steps.back() = step;
            noteOtherWindows();
            if (step == cancelAtPage) window->cancelButton()->click();
        });
        return false;
    }

  private:
    void noteOtherWindows() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !qobject_cast<ui::TForm1*>(w) && !qobject_cast<TQRPreview*>(w) &&
                !qobject_cast<TQRProgressWindow*>(w))
                otherWindows << QString::fromLatin1(w->metaObject()->className());
    }
};

// Runs Create Report in `w`; once the preview is up, `act` on it, then closes it.
void withPreview(ui::TForm1& w, const std::function<void(TQRPreview&)>& act) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* preview = qobject_cast<TQRPreview*>(QApplication::activeModalWidget());
        if (!preview || !preview->isVisible()) return;
        timer.stop();
        act(*preview);
        preview->reject();
    });
    timer.start(0);
    w.CreateReportClick();
}

void pressPrint(TQRPreview& preview) {
    preview.findChild<QToolButton*>("PrintButton")->click();
}

bool progressWindowShown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TQRProgressWindow*>(w) && w->isVisible()) return true;
    return false;
}

// The preview's pages drawn as the preview draws them, into `area` of a PDF of `paper` (both
// in points), and read back: what the printer's page should hold, word by word.
std::vector<PdfPage> previewPagesIn(const std::vector<QPicture>& pages, const QSizeF& paper,
                                    const QRectF& area, const QString& path) {
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(paper, QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(1200);
    const double k = 1200 / 72.0;
    const QSizeF formPaper = paper * (output::kFormDpi / 72.0);
    QPainter painter(&writer);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) writer.newPage();
        output::drawRecordedPage(painter, pages[i], formPaper,
                                 QRectF(area.topLeft() * k, area.size() * k));
    }
    painter.end();
    return test::readPdfWords(path);
}

QStringList wordsOf(const PdfPage& page) {
    QStringList words;
    for (const test::PdfWord& w : page.words) words << w.text;
    return words;
}

// Same words at the same places, within `tolerance` points. The tops of the boxes are not
// compared: they come from the font's ascent, which the print system's PostScript round trip
// re-embeds with other metrics; the baseline side and the horizontal extent are the glyphs'.
void expectSamePage(const PdfPage& actual, const PdfPage& expected, double tolerance) {
    ASSERT_EQ(wordsOf(actual), wordsOf(expected));
    for (std::size_t i = 0; i < actual.words.size(); ++i) {
        const QRectF a = actual.words[i].box;
        const QRectF e = expected.words[i].box;
        EXPECT_NEAR(a.left(), e.left(), tolerance) << actual.words[i].text.toStdString();
        EXPECT_NEAR(a.right(), e.right(), tolerance) << actual.words[i].text.toStdString();
        EXPECT_NEAR(a.bottom(), e.bottom(), tolerance) << actual.words[i].text.toStdString();
    }
}

class PrintSystem : public test::ShellTest {
  protected:
    void SetUp() override {
        test::ShellTest::SetUp();
        if (!queue.unavailable().isEmpty())
            GTEST_SKIP() << "no print system: " << queue.unavailable().toStdString();
        // Test runs in other build trees may share the queue: one prints at a time.
        ASSERT_TRUE(m_queueLock.tryLock(120000)) << "the print queue stays busy";
    }
    void TearDown() override { test::ShellTest::TearDown(); }

    // The window with a list of `n` directories, each holding one file.
    ui::TForm1& windowWithList(int n) {
        ui::TForm1& w = createForm();
        for (int i = 0; i < n; ++i) {
            const std::string dir = "data/d" + std::to_string(1000 + i);
            tree.dir(dir);
            tree.file(dir + "/f", 1000LL * (i + 1));
            w.watchedList().add(tree.path(dir));
        }
        return w;
    }

    PrintQueue queue;

  private:
    QLockFile m_queueLock{QDir::tempPath() + QStringLiteral("/pelmora-print-tests.lock")};
};

}  // namespace

TEST_F(PrintSystem, PrintReportSendsOneJobLikeThePreviewScaledIntoThePrintableArea) {
    ui::TForm1& w = windowWithList(120);
    PrintingWatch watch;
    const int before = queue.lastJobId();
    std::vector<QPicture> pages;
    std::size_t jobsAfterFirst = 0;
    bool previewOpen = false;
    withPreview(w, [&](TQRPreview& preview) {
        pages = preview.pages();
        pressPrint(preview);
        jobsAfterFirst = queue.jobsAfter(before).size();
        pressPrint(preview);
        previewOpen = preview.isVisible() && !progressWindowShown();
    });
    ASSERT_GE(pages.size(), 3u);
    EXPECT_TRUE(previewOpen);
    EXPECT_EQ(dialogs.errors(), std::vector<std::string>{});
    // The printing window, and no printer dialog or other window, each time.
    EXPECT_EQ(watch.captions, (std::vector<QString>{"Creating report...", "Creating report..."}));
    EXPECT_EQ(watch.texts, (std::vector<QString>(2, "Printing report Pelmora Report")));
    EXPECT_EQ(watch.buttons, (std::vector<QString>(2, "Cancel")));
    EXPECT_EQ(watch.steps, (std::vector<int>(2, static_cast<int>(pages.size()))));
    EXPECT_TRUE(watch.otherWindows.isEmpty()) << watch.otherWindows.join(' ').toStdString();

    // One job per print, named after the report.
    EXPECT_EQ(jobsAfterFirst, 1u);
    const std::vector<test::QueuedJob> jobs = queue.jobsAfter(before);
    ASSERT_EQ(jobs.size(), 2u);
    std::vector<std::vector<PdfPage>> printed;
    for (const test::QueuedJob& job : jobs) {
        EXPECT_EQ(job.title, "Pelmora Report");
        ASSERT_EQ(queue.waitForEnd(job.id), IPP_JSTATE_COMPLETED) << "job " << job.id;
        printed.push_back(test::readPdfWords(queue.pdfOf(job.id)));
    }

    // Page for page the preview's, scaled by one factor to fit the printable area and placed
    // at its top-left corner.
    const QSizeF paper = queue.paper();
    const QRectF area = queue.printableArea();
    ASSERT_TRUE(area.isValid());
    ASSERT_LT(area.width(), paper.width());  // the queue keeps margins
    const std::vector<PdfPage> expected =
        previewPagesIn(pages, paper, area, QString::fromStdString(tree.path("preview.pdf")));
    ASSERT_EQ(printed[0].size(), pages.size());
    ASSERT_EQ(expected.size(), pages.size());
    const double scale = std::min(area.width() / paper.width(), area.height() / paper.height());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const PdfPage& page = printed[0][i];
        EXPECT_NEAR(page.size.width(), paper.width(), 1);
        EXPECT_NEAR(page.size.height(), paper.height(), 1);
        expectSamePage(page, expected[i], 0.5);
        ASSERT_FALSE(page.words.empty());
        double left = paper.width();
        double right = 0;
        for (const test::PdfWord& word : page.words) {
            EXPECT_TRUE(area.adjusted(-0.1, -0.1, 0.1, 0.1).contains(word.box))
                << word.text.toStdString();
            left = std::min(left, word.box.left());
            right = std::max(right, word.box.right());
        }
        // The directory column starts at the paper's left edge and the date of the page
        // header ends at its right edge.
        EXPECT_NEAR(left, area.left(), 1);
        EXPECT_NEAR(right, area.left() + scale * paper.width(), 1);
        // Printing again from the same preview gives the same printout.
        ASSERT_EQ(printed[1].size(), pages.size());
        expectSamePage(printed[1][i], page, 0.01);
    }
}

TEST_F(PrintSystem, ALongReportTitleNamesTheJobWithItsFirst31Characters) {
    ui::TForm1& w = windowWithList(1);
    w.reportForm().QuickReport.ReportTitle = "Pelmora Report of Every Watched Directory";
    PrintingWatch watch;
    const int before = queue.lastJobId();
    withPreview(w, pressPrint);
    const std::vector<test::QueuedJob> jobs = queue.jobsAfter(before);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].title, "Pelmora Report of Every Watched");
    EXPECT_EQ(watch.texts,
              (std::vector<QString>{"Printing report Pelmora Report of Every Watched Directory"}));
    EXPECT_EQ(queue.waitForEnd(jobs[0].id), IPP_JSTATE_COMPLETED);
}

TEST_F(PrintSystem, CancelInThePrintingWindowSendsNoJobAndKeepsThePreview) {
    ui::TForm1& w = windowWithList(120);
    PrintingWatch watch;
    watch.cancelAtPage = 2;
    const int before = queue.lastJobId();
    int pageCount = 0;
    bool previewOpen = false;
    withPreview(w, [&](TQRPreview& preview) {
        pageCount = preview.pageCount();
        pressPrint(preview);
        previewOpen = preview.isVisible() && !progressWindowShown();
    });
    ASSERT_GE(pageCount, 3);
    EXPECT_EQ(watch.steps, std::vector<int>{2});
    EXPECT_TRUE(previewOpen);
    EXPECT_TRUE(queue.jobsAfter(before).empty());
    EXPECT_TRUE(dialogs.errors().empty());
}

TEST_F(PrintSystem, APrinterThatRefusesOrHoldsTheJobSaysSoInTheErrorBox) {
    const QString name = QString::fromLatin1(PrintQueue::kName);
    struct Case {
        const char* what;
        const char* stop;
        const char* restart;
        std::string error;  // the text, or its start when the print system's reason follows
        bool reasonFollows;
        std::size_t jobs;  // left in the queue
    };
    const std::vector<Case> cases = {
        {"rejecting jobs", "cupsreject", "cupsaccept", "Cannot print on PelmoraPDF: ", true, 0},
        {"stopped", "cupsdisable", "cupsenable",
         "The printer PelmoraPDF is stopped; the report waits in its queue", false, 1},
    };
    ui::TForm1& w = windowWithList(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.clear();
        if (!test::runTool(c.stop, {name}))
            GTEST_SKIP() << "cannot change the state of " << PrintQueue::kName;
        struct Restart {
            const Case& c;
            const QString& name;
            ~Restart() { EXPECT_TRUE(test::runTool(c.restart, {name})); }
        } restart{c, name};
        const int before = queue.lastJobId();
        withPreview(w, pressPrint);
        const std::vector<test::QueuedJob> jobs = queue.jobsAfter(before);
        for (const test::QueuedJob& job : jobs) queue.cancel(job.id);
        EXPECT_EQ(jobs.size(), c.jobs);
        ASSERT_EQ(dialogs.errors().size(), 1u);
        const std::string error = dialogs.errors()[0];
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(error.size() > c.error.size(), c.reasonFollows) << error;
    }
}

// No printer at all: the print system answers from a server that does not exist.
class NoPrinter : public test::ShellTest {
  protected:
    void SetUp() override {
        test::ShellTest::SetUp();
        cupsSetServer("/nonexistent/pelmora-test/cups.sock");
    }
    void TearDown() override {
        cupsSetServer(nullptr);
        test::ShellTest::TearDown();
    }
};

TEST_F(NoPrinter, PrintReportSaysThereIsNoPrinterInstalled) {
    ASSERT_TRUE(QPrinterInfo::availablePrinters().isEmpty());
    ui::TForm1& w = createForm();
    w.watchedList().add(tree.dir("data/A"));
    PrintingWatch watch;
    bool previewOpen = false;
    withPreview(w, [&](TQRPreview& preview) {
        pressPrint(preview);
        previewOpen = preview.isVisible();
    });
    EXPECT_EQ(dialogs.errors(), std::vector<std::string>{"There is no printer installed"});
    EXPECT_TRUE(watch.texts.empty());
    EXPECT_TRUE(previewOpen);
}
