#include "output/Printer.h"

#include <langinfo.h>

#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <cstdint>

#include "output/ReportPainter.h"

namespace pelmora::output {

namespace {

class PainterJob : public PrintJob {
  public:
    QPainter& painter() override { return m_painter; }
    void abort() override {
        if (m_painter.isActive()) m_painter.end();
    }

  protected:
    QPainter m_painter;
};

class SystemPrinterJob : public PainterJob {
  public:
    SystemPrinterJob(const QPrinterInfo& info, const QString& name, const QPageSize& paper)
        : m_printer(info, QPrinter::HighResolution) {
        m_printer.setDocName(name);
        m_printer.setPageSize(paper);
        m_printer.setPageOrientation(QPageLayout::Portrait);
        m_printer.setFullPage(false);
    }
    bool begin() { return m_painter.begin(&m_printer); }
    QRectF printableArea() const override {
        return {QPointF(0, 0), m_printer.pageRect(QPrinter::DevicePixel).size()};
    }
    bool newPage() override { return m_printer.newPage(); }
    bool finish() override {
        return m_painter.end() && m_printer.printerState() != QPrinter::Error;
    }
    void abort() override {
        m_printer.abort();
        PainterJob::abort();
    }

  private:
    QPrinter m_printer;
};

class SystemPrintBackend : public PrintBackend {
  public:
    std::unique_ptr<PrintJob> startJob(const QString& name, const QPageSize& paper,
                                       QString& error) override {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) {
            error = QStringLiteral("There is no printer installed");
            return nullptr;
        }
        auto job = std::make_unique<SystemPrinterJob>(info, name, paper);
        if (!job->begin()) {
            error = "Cannot print on " + info.printerName();
            return nullptr;
        }
        return job;
    }
};

class PdfJob : public PainterJob {
  public:
    PdfJob(const QString& path, const QPageSize& paper, const QString& title) : m_writer(path) {
        m_writer.setPageSize(paper);
        m_writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        m_writer.setResolution(300);
        m_writer.setTitle(title);
        m_writer.setCreator(QStringLiteral("Pelmora"));
    }
    bool begin() { return m_painter.begin(&m_writer); }
    QRectF printableArea() const override {
        return QRectF(0, 0, m_writer.width(), m_writer.height());
    }
    bool newPage() override { return m_writer.newPage(); }
    bool finish() override { return m_painter.end(); }

  private:
    QPdfWriter m_writer;
};

PrintBackend* g_backend = nullptr;

}  // namespace

PrintBackend& printBackend() {
    static SystemPrintBackend system;
    return g_backend != nullptr ? *g_backend : system;
}

void setPrintBackend(PrintBackend* backend) {
    g_backend = backend;
}

std::unique_ptr<PrintJob> startPdfJob(const QString& path, const QPageSize& paper,
                                      const QString& title, QString& error) {
    auto job = std::make_unique<PdfJob>(path, paper, title);
    if (!job->begin()) {
        error = "Cannot create file " + path;
        return nullptr;
    }
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

QPageSize defaultPaperSize() {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (!info.isNull()) {
        const QPageSize size = info.defaultPageSize();
        if (size.isValid()) return size;
    }
    return localePaperSize();
}

}  // namespace pelmora::output
