#include "output/gui/SystemPrinter.h"

#include <cups/cups.h>

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>
#include <cstdlib>

namespace pelmora::output {

namespace {

// A job on a CUPS printer. Qt's CUPS engine lays the pages out for the printer (its paper and
// printable area) but is told to write the document to a file of ours: that engine sends a job
// even when it is aborted (ending the painter submits the pages drawn so far) and ignores the
// print system's answer. So the job is submitted here, once it is complete, and a refusal
// reaches the user.
class SystemPrinterJob : public PainterJob {
  public:
    SystemPrinterJob(const QPrinterInfo& info, const QString& name, const QPageSize& paper)
        : m_printer(info, QPrinter::HighResolution), m_name(name) {
        m_printer.setDocName(name);
        m_printer.setPageSize(paper);
        m_printer.setPageOrientation(QPageLayout::Portrait);
        m_printer.setFullPage(false);
        // All of the printable area: the printer's own margins rather than Qt's default ones.
        const QPageLayout layout = m_printer.pageLayout();
        m_printer.setPageMargins(layout.minimumMargins(), layout.units());
        m_file.setFileTemplate(QDir::tempPath() + QStringLiteral("/pelmora-print-XXXXXX"));
    }
    ~SystemPrinterJob() override {
        if (m_painter.isActive()) m_painter.end();
    }
    bool begin() {
        // The file name has no ".pdf", which would make QPrinter leave the printer's engine.
        if (!m_file.open()) return false;
        m_file.close();
        m_printer.setOutputFileName(m_file.fileName());
        return m_painter.begin(&m_printer);
    }
    QRectF printableArea() const override {
        return {QPointF(0, 0), m_printer.pageRect(QPrinter::DevicePixel).size()};
    }
    bool newPage() override { return m_printer.newPage(); }
    bool finish() override {
        if (!m_painter.end() || m_printer.printerState() == QPrinter::Error) return false;
        return submit();
    }
    // The document was never submitted: dropping the file drops the job.
    void abort() override { PainterJob::abort(); }
    QString failure() const override { return m_failure; }

  private:
    bool submit() {
        const QString printer = m_printer.printerName();
        const QByteArray queue = printer.section(QLatin1Char('/'), 0, 0).toLocal8Bit();
        const QByteArray instance = printer.section(QLatin1Char('/'), 1).toLocal8Bit();
        QByteArray media = m_printer.pageLayout().pageSize().key().toLocal8Bit();
        char mediaName[] = "media";
        cups_option_t options[] = {{mediaName, media.data()}};
        const int id = cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(),
                                      QFile::encodeName(m_file.fileName()).constData(),
                                      m_name.toLocal8Bit().constData(), 1, options);
        if (id <= 0) {
            QString reason = QString::fromLocal8Bit(cupsLastErrorString()).trimmed();
            while (reason.endsWith(QLatin1Char('.'))) reason.chop(1);
            m_failure = "Cannot print on " + printer;
            if (!reason.isEmpty()) m_failure += ": " + reason;
            return false;
        }
        // A stopped printer takes the job into its queue but prints nothing until restarted.
        cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(),
                                             instance.isEmpty() ? nullptr : instance.constData());
        const char* state =
            dest ? cupsGetOption("printer-state", dest->num_options, dest->options) : nullptr;
        const bool stopped = state != nullptr && std::atoi(state) == IPP_PSTATE_STOPPED;
        cupsFreeDests(dest ? 1 : 0, dest);
        if (stopped) {
            m_failure = "The printer " + printer + " is stopped; the report waits in its queue";
            return false;
        }
        return true;
    }

    QPrinter m_printer;
    QString m_name;
    QTemporaryFile m_file;
    QString m_failure;
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

}  // namespace

PrintBackend& systemPrintBackend() {
    static SystemPrintBackend system;
    return system;
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
