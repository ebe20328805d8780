#include "output/Printer.h"

#include <langinfo.h>

#include <QPdfWriter>
#include <cstdint>

#include "output/ReportPainter.h"

namespace pelmora::output {

namespace {

class PdfJob : public PainterJob {
  public:
    PdfJob(const QString& path, const QPageSize& paper, const QString& title) : m_writer(path) {
        setUp(paper, title, QMarginsF(0, 0, 0, 0));
    }
    PdfJob(QIODevice* device, const QPageSize& paper, const QString& title, double marginMm)
        : m_writer(device) {
        setUp(paper, title, QMarginsF(marginMm, marginMm, marginMm, marginMm));
    }
    bool begin() { return m_painter.begin(&m_writer); }
    // The painter's origin is the margin's corner; width() and height() are inside it.
    QRectF printableArea() const override {
        return QRectF(0, 0, m_writer.width(), m_writer.height());
    }
    bool newPage() override { return m_writer.newPage(); }
    bool finish() override { return m_painter.end(); }

  private:
    void setUp(const QPageSize& paper, const QString& title, const QMarginsF& margins) {
        m_writer.setPageSize(paper);
        m_writer.setPageMargins(margins, QPageLayout::Millimeter);
        m_writer.setResolution(300);
        m_writer.setTitle(title);
        m_writer.setCreator(QStringLiteral("Pelmora"));
    }

    QPdfWriter m_writer;
};

}  // namespace

std::unique_ptr<PrintJob> startPdfJob(const QString& path, const QPageSize& paper,
                                      const QString& title, QString& error) {
    auto job = std::make_unique<PdfJob>(path, paper, title);
    if (!job->begin()) {
        error = "Cannot create file " + path;
        return nullptr;
    }
    return job;
}

std::unique_ptr<PrintJob> startPdfJob(QIODevice* device, const QPageSize& paper,
                                      const QString& title) {
    auto job = std::make_unique<PdfJob>(device, paper, title, kPdfMarginMm);
    if (!job->begin()) return nullptr;
    return job;
}

QString printJobName(const QString& title) {
    return title.left(31);
}

PrintOutcome printPages(const std::vector<QPicture>& pages, const QSizeF& paper, PrintJob& job,
                        ProgressSink* progress) {
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (progress && !progress->step()) {
            job.abort();
            return PrintOutcome::Cancelled;
        }
        if (i > 0 && !job.newPage()) {
            job.abort();
            return PrintOutcome::Failed;
        }
        drawRecordedPage(job.painter(), pages[i], paper, job.printableArea());
    }
    return job.finish() ? PrintOutcome::Done : PrintOutcome::Failed;
}

QPageSize localePaperSize() {
    // glibc answers LC_PAPER's size in millimetres through nl_langinfo.
    const auto width =
        static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo(_NL_PAPER_WIDTH)));
    const auto height =
        static_cast<int>(reinterpret_cast<std::intptr_t>(nl_langinfo(_NL_PAPER_HEIGHT)));
    if (width == 216 && height == 279) return QPageSize(QPageSize::Letter);
    return QPageSize(QPageSize::A4);
}

}  // namespace pelmora::output
