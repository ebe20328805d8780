// Pelmora: how much lies in a directory tree.
//
// The map of the modules, their layers, where each rule lives and the seams tests replace is
// ARCHITECTURE.md at the top of the tree. Here the program starts: the services are built and
// handed to the windows, in the start-up order of the window's description.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <exception>

#include "app/CommandLine.h"
#include "app/Identity.h"
#include "app/ListFolder.h"
#include "app/Registry.h"
#include "output/gui/SystemPrinter.h"
#include "platform/gui/helpviewer.h"
#include "platform/locale.h"
#include "platform/gui/dialogs.h"
#include "platform/paths.h"
#include "platform/volumes.h"
#include "ui/Services.h"
#include "ui/Unit1.h"
#include "ui/AboutBox.h"
#include "ui/ErrorPolicy.h"

namespace {

// Qt lets no exception pass through its event loop. One that escapes an event handler outside
// the commands (memory running out while the window paints, say) is shown in the error box as
// a command's would be, and the program goes on.
class PelmoraApplication : public QApplication {
  public:
    PelmoraApplication(int& argc, char** argv, pelmora::platform::Dialogs& dialogs)
        : QApplication(argc, argv), m_dialogs(dialogs) {}
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            pelmora::ui::showException(m_dialogs, e);
            return false;
        }
    }

  private:
    pelmora::platform::Dialogs& m_dialogs;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace pelmora;
    // What the windows use of the system.
    ui::Services services;
    services.dialogs = &platform::qtDialogs();
    services.volumes = &platform::systemVolumes();
    services.help = &platform::qtHelpViewer();
    services.locale = &platform::systemLocale();
    services.printer = &output::systemPrintBackend();
    services.programPath = platform::programPath();
    services.listFolder = app::listFolder(platform::programDirectory());
    app::FileRegistry registry(app::systemRoot());
    services.registry = &registry;

    PelmoraApplication application(argc, argv, *services.dialogs);
    std::setlocale(LC_ALL, "");

    app::setApplicationIdentity();
    platform::setApplicationHelpFile("Pelmora.hlp");

    // The main window; its creation runs FormCreate, which may carry out a whole batch run.
    ui::TForm1 form(services, app::programArguments(argc, argv), &app::findBatchList);
    if (form.windowState() & Qt::WindowMinimized)
        form.showMinimized();
    else
        form.show();

    // The About box, hidden until Help > About...; its creation writes the registry entries.
    ui::TAboutBox aboutBox(services, &form);
    form.setAboutBox(&aboutBox);

    // A quit request made during start-up ends the loop on its first turn.
    if (form.quitRequested()) QTimer::singleShot(0, &application, &QCoreApplication::quit);
    const int loopStatus = QApplication::exec();
    return std::max(loopStatus, form.batchExitStatus());
}
