// pelmora-cli report LIST -o FILE.pdf: the directory report of a list file, prepared as in
// the window and written to a PDF file.
#include <QFile>
#include <QGuiApplication>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>

#include "cli/commands.h"
#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/Printer.h"
#include "output/Report.h"
#include "output/ReportPainter.h"
#include "platform/paths.h"
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

}  // namespace

int writeReport(const Args& args) {
    std::optional<std::string> listPath;
    std::optional<std::string> pdfPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 == args.size()) return usageError("report", "-o needs a file name");
            pdfPath = args[++i];
        } else if (!listPath) {
            listPath = args[i];
        } else {
            return usageError("report", "unexpected argument '" + args[i] + "'");
        }
    }
    if (!listPath || !pdfPath) return usageError("report", "usage: report LIST -o FILE.pdf");

    const std::unique_ptr<QGuiApplication> app = guiApplication();
    try {
        stats::ProbeVolume();
        list::WatchedList list;
        list::loadList(list, *listPath);

        output::TQRListForm form(list);
        output::ReportRow = 0;
        output::ReportTotals = {};
        form.QRLabel1.setText("File " + QFile::decodeName(QByteArray::fromStdString(
                                            std::string(platform::bareName(*listPath)))));
        output::PrepareOptions options;
        options.paper = output::localePaperSize();
        const std::optional<output::PreparedReport> prepared =
            output::prepareReport(form.QuickReport, options);
        if (!prepared) return fail("report: preparation stopped");

        QString error;
        const QString pdf = QFile::decodeName(QByteArray::fromStdString(*pdfPath));
        std::unique_ptr<output::PrintJob> job = output::startPdfJob(
            pdf, prepared->geometry.pageSize, form.QuickReport.ReportTitle, error);
        if (!job) return fail(error.toStdString());
        const std::vector<QPicture> pages = output::recordPages(*prepared);
        if (output::printPages(pages, prepared->geometry.paper, *job, nullptr) !=
            output::PrintOutcome::Done)
            return fail("Cannot write file " + *pdfPath);
        return 0;
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace pelmora::cli
