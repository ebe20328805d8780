// Form1's creation, the start-up handler, closing and the window's own commands.
#include "ui/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QLabel>
#include <QStatusBar>

#include "list/listfile.h"
#include "platform/qt/displayname.h"
#include "platform/gui/helpviewer.h"
#include "platform/gui/dialogs.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "ui/AutoSize.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"
#include "ui/AboutBox.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

TForm1::TForm1(const Services& services, std::vector<std::string> arguments,
               BatchListNamer batchListName, QWidget* parent)
    : QMainWindow(parent),
      m_services(services),
      m_arguments(std::move(arguments)),
      m_batchListName(batchListName),
      m_thousandsSeparator(services.locale->thousandsSeparator()) {
    buildLayout();
    buildMenus();
    connectCommands();
    installHintDisplay();
    // The client area is 542 x 334 below the menu bar.
    resize(542, 334 + menuBar()->sizeHint().height());

    guarded([this] {
        DriveComboBox1->setDirList(DirectoryListBox1);
        if (DirectoryListBox1->directory().empty())
            DirectoryListBox1->setDirectory(platform::currentDirectory());
    });
    // An error inside FormCreate ends it there; the window is still created.
    if (!guarded([this] { FormCreate(); }) && isBatchRun()) m_batchExitStatus = 1;
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    m_hintInstalled = true;
    platform::setApplicationHelpFile(programDirectory() + "Pelmora.hlp");
    setAutoSizeText(CompressedLabel,
                    QString::fromStdString(stats::ProbeVolume(*m_services.volumes)));
    list::ListModified = false;
    // The list to load: the batch run's, or DEFAULT.PML in the user's folder; a user without a
    // DEFAULT.PML of their own starts from the program's folder's, if it has one.
    std::string loadFrom;
    if (isBatchRun()) {
        list::ListFileName = m_batchListName(batchListFolders(), m_arguments[0]);
        setWindowState(windowState() | Qt::WindowMinimized);
        loadFrom = list::ListFileName;
    } else {
        list::ListFileName = listDirectory() + std::string(list::kDefaultListName);
        loadFrom = list::ListFileName;
        const std::string systemDefault = programDirectory() + std::string(list::kDefaultListName);
        if (!platform::fileExists(loadFrom) && platform::fileExists(systemDefault))
            loadFrom = systemDefault;
    }
    setAutoSizeText(FileNameLabel, platform::displayName(platform::bareName(list::ListFileName)));
    if (platform::fileExists(loadFrom)) {
        list::loadList(m_watchedList, loadFrom);
        if (isBatchRun()) {
            CreateDataFileClick();
            requestQuit();
        }
    } else if (isBatchRun()) {
        m_services.dialogs->messageDlgEx("Pelmora: File " + list::ListFileName + " not found.",
                                         platform::MsgDlgType::Warning, platform::mbAbort, 0, 0);
        m_batchExitStatus = 1;
        requestQuit();
    }
}

std::string TForm1::programDirectory() const {
    return std::string(platform::directoryPart(m_services.programPath));
}

std::string TForm1::listDirectory() const {
    return m_services.listFolder.empty() ? programDirectory() : m_services.listFolder;
}

std::vector<std::string> TForm1::batchListFolders() const {
    std::vector<std::string> folders{listDirectory()};
    if (programDirectory() != folders.front()) folders.push_back(programDirectory());
    return folders;
}

void TForm1::requestQuit() {
    m_quitRequested = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    if (!guarded([&] { canClose = FormCloseQuery(); }) || !canClose) {
        event->ignore();
        return;
    }
    guarded([this] { FormClose(); });
    event->accept();
    // Closing the main window ends the program, whatever other windows exist.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TForm1::Button8Click() {
    close();
}

void TForm1::FormClose() {
    m_services.help->winHelp(this, platform::applicationHelpFile(), platform::HELP_QUIT, 0);
}

void TForm1::Button10Click() {
    m_services.help->winHelp(this, platform::applicationHelpFile(), platform::HELP_FINDER, 0);
}

void TForm1::SearchforHelpOn1Click() {
    m_services.help->winHelp(this, platform::applicationHelpFile(), platform::HELP_PARTIALKEY, 0);
}

void TForm1::Button4Click() {
    if (m_aboutBox != nullptr) m_aboutBox->exec();
}

void TForm1::DriveComboBox1Change() {
    setAutoSizeText(CompressedLabel,
                    QString::fromStdString(stats::ProbeVolume(*m_services.volumes)));
}

void TForm1::DirectoryListBox1Change() {
    for (QLabel* figure : {TotDirsLabel, TotFilesLabel, TotSizeLabel, OverheadLabel})
        setStatsLabel(figure, std::string());
}

void TForm1::changeEvent(QEvent* event) {
    // The thousands separator follows the system's settings.
    if (event->type() == QEvent::LocaleChange)
        m_thousandsSeparator = m_services.locale->thousandsSeparator();
    QMainWindow::changeEvent(event);
}

}  // namespace pelmora::ui
