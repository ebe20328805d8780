#include "tests/print/PrintQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>

namespace pelmora::test {

namespace {

// Where cups-pdf puts the files of the queue: the "Out" of its own configuration.
QString outputFolder() {
    QFile conf(QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(PrintQueue::kName));
    if (!conf.open(QIODevice::ReadOnly)) return {};
    while (!conf.atEnd()) {
        const QString line = QString::fromLocal8Bit(conf.readLine()).trimmed();
        if (line.startsWith(QLatin1String("Out "))) return line.mid(4).trimmed();
    }
    return {};
}

double hundredthsOfMmToPoints(int v) {
    return v / 100.0 / 25.4 * 72.0;
}

// The default paper of the queue as CUPS reports it (hundredths of a millimetre).
std::optional<cups_size_t> defaultMedia() {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, PrintQueue::kName, nullptr);
    if (!dest) return std::nullopt;
    std::optional<cups_size_t> result;
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
        // The queue's default paper ("media-default"), which Qt prints on, with its margins.
        cups_size_t size{};
        const char* media =
            ippGetString(cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "media"), 0, nullptr);
        if (media && cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest, info, media, 0, &size))
            result = size;
        cupsFreeDestInfo(info);
    }
    cupsFreeDests(1, dest);
    return result;
}

}  // namespace

bool runTool(const QString& program, const QStringList& arguments, QByteArray* output) {
    QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) path = QStandardPaths::findExecutable(program, {"/usr/sbin", "/sbin"});
    if (path.isEmpty()) return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(path, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (output) *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

PrintQueue::PrintQueue() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
        m_unavailable = QStringLiteral("pdftotext (poppler-utils) is missing");
        return;
    }
    if (QPrinterInfo::defaultPrinter().printerName() != QLatin1String(kName)) {
        m_unavailable = QStringLiteral(
                            "the default printer is not the test queue %1; "
                            "scripts/print-setup.sh start adds it (CUPS and cups-pdf)")
                            .arg(kName);
        return;
    }
    m_out = outputFolder();
    if (m_out.isEmpty() || !QFileInfo(m_out).isDir()) {
        m_unavailable = QStringLiteral("the output folder of %1 cannot be found").arg(kName);
        return;
    }
    if (!defaultMedia()) m_unavailable = QStringLiteral("%1 reports no paper").arg(kName);
}

std::vector<QueuedJob> PrintQueue::jobs() const {
    cups_job_t* list = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, kName, 0, CUPS_WHICHJOBS_ALL);
    std::vector<QueuedJob> out;
    for (int i = 0; i < n; ++i)
        out.push_back({list[i].id, QString::fromUtf8(list[i].title), list[i].state});
    cupsFreeJobs(n, list);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return out;
}

int PrintQueue::lastJobId() const {
    const std::vector<QueuedJob> all = jobs();
    return all.empty() ? 0 : all.back().id;
}

std::vector<QueuedJob> PrintQueue::jobsAfter(int id) const {
    std::vector<QueuedJob> out;
    for (const QueuedJob& job : jobs())
        if (job.id > id) out.push_back(job);
    return out;
}

std::optional<ipp_jstate_t> PrintQueue::waitForEnd(int id, int seconds) const {
    for (int i = 0; i < seconds * 10; ++i) {
        for (const QueuedJob& job : jobs())
            if (job.id == id && job.state >= IPP_JSTATE_CANCELED) return job.state;
        QThread::msleep(100);
    }
    return std::nullopt;
}

void PrintQueue::cancel(int id) const {
    cupsCancelJob2(CUPS_HTTP_DEFAULT, kName, id, 1);
}

QString PrintQueue::pdfOf(int id) const {
    // Files are named "<title>-job_<id>.pdf".
    const QRegularExpression name(QStringLiteral("-job_%1\\.pdf$").arg(id));
    QDir dir(m_out);
    for (const QString& file : dir.entryList(QDir::Files))
        if (name.match(file).hasMatch()) return dir.filePath(file);
    return {};
}

QSizeF PrintQueue::paper() const {
    const std::optional<cups_size_t> media = defaultMedia();
    if (!media) return {};
    return {hundredthsOfMmToPoints(media->width), hundredthsOfMmToPoints(media->length)};
}

QRectF PrintQueue::printableArea() const {
    const std::optional<cups_size_t> m = defaultMedia();
    if (!m) return {};
    const double left = hundredthsOfMmToPoints(m->left);
    const double top = hundredthsOfMmToPoints(m->top);
    return {left, top, hundredthsOfMmToPoints(m->width - m->left - m->right),
            hundredthsOfMmToPoints(m->length - m->top - m->bottom)};
}

std::vector<PdfPage> readPdfWords(const QString& path) {
    QByteArray xhtml;
    if (!runTool(QStringLiteral("pdftotext"), {"-bbox", path, "-"}, &xhtml)) return {};
    static const QRegularExpression page(
        QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">)re"));
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">(.*)</word>)re"));
    std::vector<PdfPage> pages;
    for (const QByteArray& line : xhtml.split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (const auto m = page.match(text); m.hasMatch()) {
            pages.push_back({QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()), {}});
        } else if (const auto w = word.match(text); w.hasMatch() && !pages.empty()) {
            const QPointF topLeft(w.captured(1).toDouble(), w.captured(2).toDouble());
            const QPointF bottomRight(w.captured(3).toDouble(), w.captured(4).toDouble());
            pages.back().words.push_back({w.captured(5), QRectF(topLeft, bottomRight)});
        }
    }
    return pages;
}

}  // namespace pelmora::test
