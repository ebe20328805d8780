// pelmora-cli report LIST -o FILE.pdf: the directory report of a list file, prepared as in
// the window and written to a PDF file (or standard output), its pages inside a printer's
// usual margins. Its statuses are those of export: a directory that cannot be read is named
// and gives 1 once the PDF is written.
#include <QBuffer>
#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "cli/commands.h"
#include "cli/counting.h"
#include "cli/options.h"
#include "cli/stdout.h"
#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/Printer.h"
#include "output/Report.h"
#include "output/ReportPainter.h"
#include "platform/locale.h"
#include "platform/qt/displayname.h"
#include "platform/qt/runtimedir.h"
#include "platform/paths.h"
#include "platform/replacefile.h"
#include "platform/volumes.h"
#include "stats/counting.h"

namespace pelmora::cli {

namespace {

int fail(const std::string& text) {
    message(text);
    return kExitFailed;
}

// Text painting needs a GUI application; without a display the offscreen platform serves.
std::unique_ptr<QGuiApplication> guiApplication() {
    if (QCoreApplication::instance() != nullptr) return nullptr;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "pelmora-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

// Writes the finished PDF: to standard output for "-", otherwise replacing the file in one
// step, so that a full disk never leaves a truncated PDF behind, and with the terminating
// signals held meanwhile, so that none leaves its temporary file behind.
bool writePdf(const std::string& path, const QByteArray& pdf) {
    const std::string_view bytes(pdf.constData(), static_cast<std::size_t>(pdf.size()));
    if (path == "-") {
        out().write(bytes);
        return out().finish();
    }
    const platform::HeldSignals held;
    platform::ReplacementFile file(path);
    file.write(bytes);
    file.commit();
    return true;
}

}  // namespace

int writeReport(const Args& args) {
    ParsedOptions parsed;
    if (const std::string error = parseOptions(args, kReportOptions, parsed); !error.empty())
        return usageError("report", error);
    std::optional<std::string> pdfPath;
    for (const auto& [id, value] : parsed.options)
        if (id == kOptReportOutput) pdfPath = value;
    if (parsed.operands.size() > 1)
        return usageError("report", "unexpected argument '" + parsed.operands[1] + "'");
    if (parsed.operands.empty() || !pdfPath || pdfPath->empty())
        return usageError("report", "usage: report LIST -o FILE.pdf");
    const std::string& listPath = parsed.operands.front();

    const platform::PrivateRuntimeDir runtime("pelmora");
    const std::unique_ptr<QGuiApplication> app = guiApplication();
    try {
        stats::ProbeVolume(platform::systemVolumes());
        list::WatchedList list;
        list::loadList(list, listPath);
        if (list.count() == 0) {
            out().write("The list is empty.\n");
            return out().finish() ? kExitOk : kExitFailed;
        }

        output::TQRListForm form(list);
        bool complete = true;
        form.rowCounted = [&](std::string_view entry, const stats::CountResult& counted) {
            if (entry.empty()) return;  // not counted, as in the data file
            reportErrors(entry, counted);
            complete = complete && counted.complete();
        };
        form.startReport(stats::EntryOverhead, platform::localeThousandsSeparator());
        form.QRLabel1.setText("File " + platform::displayName(platform::bareName(listPath)));
        output::PrepareOptions options;
        options.paper = output::localePaperSize();
        const std::optional<output::PreparedReport> prepared =
            output::prepareReport(form.QuickReport, options);
        if (!prepared) return fail("report: preparation stopped");

        // The whole document is made in memory and written once it is complete.
        QByteArray pdf;
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        std::unique_ptr<output::PrintJob> job =
            output::startPdfJob(&buffer, prepared->geometry.pageSize, form.QuickReport.ReportTitle);
        if (!job) return fail("Cannot create file " + *pdfPath);
        const std::vector<QPicture> pages = output::recordPages(*prepared);
        if (output::printPages(pages, prepared->geometry.paper, *job, nullptr) !=
            output::PrintOutcome::Done)
            return fail("Cannot write file " + *pdfPath);
        job.reset();
        buffer.close();
        if (!writePdf(*pdfPath, pdf)) return kExitFailed;
        return complete ? kExitOk : kExitIncomplete;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace pelmora::cli
