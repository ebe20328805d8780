// Where recorded report pages go: a print job, which is a PDF file here or the system's current
// printer (output/gui/SystemPrinter.h, above this library). The printer sits behind
// PrintBackend so that tests can take the pages instead of a real printer.
#pragma once

#include <QIODevice>
#include <QPageSize>
#include <QPainter>
#include <QPicture>
#include <QRectF>
#include <QString>
#include <memory>
#include <vector>

#include "output/ReportEngine.h"

namespace pelmora::output {

// One open print job. The first page is begun when the job starts.
class PrintJob {
  public:
    virtual ~PrintJob() = default;
    virtual QPainter& painter() = 0;
    // The area a page may cover, in the painter's coordinates.
    virtual QRectF printableArea() const = 0;
    virtual bool newPage() = 0;
    // Ends the job; false when the device reported a failure.
    virtual bool finish() = 0;
    // Drops the job: nothing more is drawn, and a printer receives none of it.
    virtual void abort() = 0;
    // Why newPage() or finish() failed, for the user; empty when the device gave no reason.
    virtual QString failure() const { return {}; }
};

// A job drawn with a painter of its own, begun on the job's device by the subclass.
class PainterJob : public PrintJob {
  public:
    QPainter& painter() override { return m_painter; }
    void abort() override {
        if (m_painter.isActive()) m_painter.end();
    }

  protected:
    QPainter m_painter;
};

class PrintBackend {
  public:
    virtual ~PrintBackend() = default;
    // Starts a job named `name` on the system's current printer, without a dialog; nullptr
    // with the reason in `error` when there is no printer or it cannot start. The job reaches
    // the printer's queue only when it finishes.
    virtual std::unique_ptr<PrintJob> startJob(const QString& name, const QPageSize& paper,
                                               QString& error) = 0;
};

// A job writing a PDF file of `paper`'s size with no margins; nullptr with the reason in
// `error` when the file cannot be written.
std::unique_ptr<PrintJob> startPdfJob(const QString& path, const QPageSize& paper,
                                      const QString& title, QString& error);

// The margin on every side of a stand-alone PDF's pages, that of a typical printer (a quarter
// inch), so that no text touches the paper's edge when the file is printed.
inline constexpr double kPdfMarginMm = 6.35;

// A job writing a PDF of `paper`'s size to `device` (open for writing, not owned), the pages
// scaled into the paper less kPdfMarginMm on every side.
std::unique_ptr<PrintJob> startPdfJob(QIODevice* device, const QPageSize& paper,
                                      const QString& title);

// Print job names are limited to 31 characters.
QString printJobName(const QString& title);

enum class PrintOutcome { Done, Cancelled, Failed };

// Sends every page in order, each scaled to the job's printable area. A cancel through
// `progress` aborts the job. The progress window is opened and closed by the caller.
PrintOutcome printPages(const std::vector<QPicture>& pages, const QSizeF& paper, PrintJob& job,
                        ProgressSink* progress);

// Paper named by the locale (LC_PAPER): Letter where the locale's paper is Letter, else A4.
QPageSize localePaperSize();

}  // namespace pelmora::output
