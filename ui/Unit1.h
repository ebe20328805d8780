// The main window Form1: navigator on the left, the watched list on the right, the drive box
// and the list-file name along the top, hints in the status line.
//
// The window is split by concern:
//   Unit1.cpp        creation and FormCreate (the list at start, the batch run), closing, the
//                    help and About commands, the navigator's change handlers
//   Unit1Layout.cpp  the controls and their properties, the focus order
//   Unit1Menus.cpp   the menus and the command map
//   Unit1Hints.cpp   status-line hints and F1 help
//   Unit1Files.cpp   New, Open, Save, Save As, the close question, adding and deleting entries
//   Unit1Stats.cpp   the Stats command
//   Unit1Export.cpp  Report > Create Data File
//   Unit1Report.cpp  Report > Create Report
#pragma once

#include <QMainWindow>
#include <QString>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "list/watchedlist.h"
#include "output/Report.h"
#include "platform/gui/dialogs.h"
#include "ui/Services.h"
#include "ui/ErrorPolicy.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace pelmora::ui {

class ListBox;
class TAboutBox;
class TDirectoryListBox;
class TDriveComboBox;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // The batch run's list file for (the folders to look in, the one argument); start-up passes
    // app::findBatchList.
    using BatchListNamer = std::string (*)(const std::vector<std::string>& folders,
                                           std::string_view argument);

    // Builds the window and runs FormCreate. `services` are what the window and its controls
    // use of the world around them. `arguments` are the program's arguments after the
    // command-line rules (exactly one starts a batch run, whose list file `batchListName`
    // names; a window built without a namer has no batch run and starts interactively).
    explicit TForm1(const Services& services, std::vector<std::string> arguments = {},
                    BatchListNamer batchListName = nullptr, QWidget* parent = nullptr);
    ~TForm1() override;

    // --- controls ---------------------------------------------------------------------------
    QFrame* SpeedPanel = nullptr;
    QStatusBar* StatusLine = nullptr;
    QFrame* LeftPanel = nullptr;
    ListBox* ListBox1 = nullptr;
    TDirectoryListBox* DirectoryListBox1 = nullptr;
    QFrame* StatsPanel = nullptr;
    TDriveComboBox* DriveComboBox1 = nullptr;
    QLabel* FNLabel = nullptr;
    QLabel* FileNameLabel = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* CurrentDirectory = nullptr;
    QLabel* CompressedLabel = nullptr;
    QLabel* DirectoryLabel = nullptr;
    QLabel* TotDirsLabel = nullptr;
    QLabel* TotFilesLabel = nullptr;
    QLabel* TotSizeLabel = nullptr;
    QLabel* OverheadLabel = nullptr;
    QPushButton* StatsButton = nullptr;

    // --- menus ------------------------------------------------------------------------------
    QMenu* File1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* SaveAs1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Report1 = nullptr;
    QAction* CreateReport = nullptr;
    QAction* CreateDataFile = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* SearchforHelpOn1 = nullptr;
    QAction* About1 = nullptr;
    QMenu* DirectoryPopup = nullptr;
    QAction* AddThisDirectory1 = nullptr;
    QAction* AddSubdirectories1 = nullptr;
    QMenu* ListPopup = nullptr;
    QAction* DeleteHighlighted1 = nullptr;

    // --- commands (each menu item and control runs its handler under runGuarded) -----------
    void Button5Click();           // File > New
    void Button7Click();           // File > Open...
    void Save1Click();             // File > Save
    void Button6Click();           // File > Save As...
    void Button8Click();           // File > Exit: close the window as its close box does
    void CreateReportClick();      // Report > Create Report
    void CreateDataFileClick();    // Report > Create Data File
    void Button10Click();          // Help > Topics
    void SearchforHelpOn1Click();  // Help > Search...
    void Button4Click();           // Help > About...
    void AddThisDirectory1Click();
    void AddSubdirectories1Click();
    void DeleteHighlighted1Click();
    void StatsPanelClick();          // the Stats button
    void DriveComboBox1Change();     // after a change of drive: probe the volume
    void DirectoryListBox1Change();  // after a change of directory: empty the four figures

    // Window events.
    void FormCreate();
    bool FormCloseQuery();  // false keeps the window open
    void FormClose();
    void ShowHint();  // copies the application hint into the status line

    // --- state ------------------------------------------------------------------------------
    const Services& services() const { return m_services; }
    // The folder of the program's path, with a trailing '/'.
    std::string programDirectory() const;
    // The folder of the user's lists, with a trailing '/': Services::listFolder, else the
    // program's folder.
    std::string listDirectory() const;
    list::WatchedList& watchedList() { return m_watchedList; }
    // The report form over this window's list, the program's only one; Report > Create Report
    // prepares and previews it.
    output::TQRListForm& reportForm() { return m_reportForm; }
    const std::vector<std::string>& arguments() const { return m_arguments; }
    // The separator of the figures the window shows and reports: the locale's when the window
    // was built, read again when the system announces a change of locale.
    char thousandsSeparator() const { return m_thousandsSeparator; }
    bool isBatchRun() const { return m_arguments.size() == 1 && m_batchListName != nullptr; }

    // Outcome of a batch run: 0 when it succeeded (or there was none), 1 when it failed.
    int batchExitStatus() const { return m_batchExitStatus; }
    void setBatchExitStatus(int status) { m_batchExitStatus = status; }

    // The quit request made during creation: start-up lets the event loop end on its first turn.
    bool quitRequested() const { return m_quitRequested; }
    void requestQuit();

    // The About box that Help > About... shows (created by start-up after this window).
    void setAboutBox(TAboutBox* box) { m_aboutBox = box; }

    // The application hint as last stored, and one idle step of the hint display with
    // `underPointer` as the widget under the mouse pointer (nullptr: none).
    const QString& applicationHint() const { return m_hint; }
    void hintIdleStep(QWidget* underPointer);
    // The hint a widget shows: its own, else its nearest ancestor's; after the first "|".
    static QString hintOf(const QWidget* w);
    // F1: the help context of a widget (its own, else its nearest ancestor's; 0 = none).
    static int helpContextOf(const QWidget* w);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildLayout();
    void buildMenus();
    void connectCommands();
    void installHintDisplay();
    void setHint(const QString& hint);
    void helpForWidget(QWidget* w);
    bool helpForMenu(QWidget* menu);
    void setStatsLabel(QLabel* label, const std::string& text);
    // The folders where a batch run looks for its list: the user's lists, then the program's.
    std::vector<std::string> batchListFolders() const;
    // Creates the folder of the user's lists, when the current list lies there and it does not
    // exist yet, so that the list dialogs can start there and a data file can be written there.
    void prepareListFolder() const;

    // Runs `command` under the application's error handling, with this window's error box.
    template <typename F>
    bool guarded(F&& command) {
        return runGuarded(*m_services.dialogs, std::forward<F>(command));
    }

    Services m_services;
    std::vector<std::string> m_arguments;
    BatchListNamer m_batchListName;
    char m_thousandsSeparator;
    list::WatchedList m_watchedList;
    output::TQRListForm m_reportForm{m_watchedList};  // lives as long as the window
    TAboutBox* m_aboutBox = nullptr;
    QString m_hint;
    bool m_hintInstalled = false;
    bool m_quitRequested = false;
    int m_batchExitStatus = 0;
};

}  // namespace pelmora::ui
