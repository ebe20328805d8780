// The print system of the printing tests: the cups-pdf queue that scripts/print-setup.sh adds
// as the default printer, its jobs, the PDF files it writes, and those files read back.
#pragma once

#include <cups/cups.h>

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace pelmora::test {

struct QueuedJob {
    int id = 0;
    QString title;
    ipp_jstate_t state = IPP_JSTATE_PENDING;
};

class PrintQueue {
  public:
    static constexpr const char* kName = "PelmoraPDF";

    PrintQueue();
    // Empty when the queue is the default printer and its output can be read back; else
    // why the printing tests cannot run here.
    const QString& unavailable() const { return m_unavailable; }

    // Every job of the queue, of any state, oldest first.
    std::vector<QueuedJob> jobs() const;
    int lastJobId() const;
    std::vector<QueuedJob> jobsAfter(int id) const;
    // Waits at most `seconds` for job `id` to end; its state then, nullopt if it has not ended.
    std::optional<ipp_jstate_t> waitForEnd(int id, int seconds = 60) const;
    void cancel(int id) const;
    // The PDF that cups-pdf wrote for job `id` (empty when there is none).
    QString pdfOf(int id) const;
    // The printable area of the queue's default paper, in points from the paper's top-left
    // corner, as the print system reports it.
    QRectF printableArea() const;
    QSizeF paper() const;

  private:
    QString m_unavailable;
    QString m_out;
};

// Runs `program` with `arguments`, at most 30 seconds; true when it ran and exited with 0.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);

struct PdfWord {
    QString text;
    QRectF box;  // points, from the page's top-left corner
};

struct PdfPage {
    QSizeF size;
    std::vector<PdfWord> words;
};

// The words of every page of a PDF with their boxes, as pdftotext reads them.
std::vector<PdfPage> readPdfWords(const QString& path);

}  // namespace pelmora::test
