// The main menu, the two popup menus and the command map: every item and control runs its
// handler under the application's error handling.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "platform/gui/dialogs.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"
#include "ui/Unit1.h"
#include "ui/ErrorPolicy.h"

namespace pelmora::ui {

namespace {

QAction* addItem(QMenu* menu, const char* name, const QString& caption, const QString& hint,
                 int helpContext = 0) {
    auto* a = new QAction(caption, menu);
    a->setObjectName(QString::fromLatin1(name));
    a->setStatusTip(hint);
    a->setProperty("helpContext", helpContext);
    a->setMenuRole(QAction::NoRole);
    a->setShortcutVisibleInContextMenu(false);
    menu->addAction(a);
    return a;
}

QMenu* addMenu(QMenuBar* bar, const char* name, const QString& caption) {
    auto* m = new QMenu(caption, bar);
    m->setObjectName(QString::fromLatin1(name));
    m->setProperty("helpContext", 3);
    m->menuAction()->setObjectName(QString::fromLatin1(name));
    m->menuAction()->setProperty("helpContext", 3);
    bar->addMenu(m);
    return m;
}

}  // namespace

void TForm1::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setNativeMenuBar(false);

    File1 = addMenu(bar, "File1", QStringLiteral("&File"));
    New1 = addItem(File1, "New1", QStringLiteral("&New"), QStringLiteral("Start a new list"));
    Open1 = addItem(File1, "Open1", QStringLiteral("&Open..."),
                    QStringLiteral("Open an existing list"));
    Save1 = addItem(File1, "Save1", QStringLiteral("&Save"), QStringLiteral("Save current list"));
    SaveAs1 = addItem(File1, "SaveAs1", QStringLiteral("Save &As..."),
                      QStringLiteral("Save current list under another name"));
    File1->addSeparator()->setObjectName(QStringLiteral("N2"));
    Exit1 = addItem(File1, "Exit1", QStringLiteral("E&xit"), QStringLiteral("Exit this program"));

    Report1 = addMenu(bar, "Report1", QStringLiteral("&Report"));
    CreateReport = addItem(Report1, "CreateReport", QStringLiteral("Create &Report"),
                           QStringLiteral("Report on directories in list"), 15);
    CreateDataFile =
        addItem(Report1, "CreateDataFile", QStringLiteral("Create &Data File"), QString(), 10);

    Help1 = addMenu(bar, "Help1", QStringLiteral("&Help"));
    Contents1 =
        addItem(Help1, "Contents1", QStringLiteral("&Topics"), QStringLiteral("Help topics"));
    SearchforHelpOn1 = addItem(Help1, "SearchforHelpOn1", QStringLiteral("&Search..."),
                               QStringLiteral("Help index"));
    About1 = addItem(Help1, "About1", QStringLiteral("&About..."), QStringLiteral("About Pelmora"));

    DirectoryPopup = new QMenu(this);
    DirectoryPopup->setObjectName(QStringLiteral("DirectoryPopup"));
    AddThisDirectory1 =
        addItem(DirectoryPopup, "AddThisDirectory1", QStringLiteral("Add &This Directory"),
                QStringLiteral("Add selected directory to list"));
    AddSubdirectories1 =
        addItem(DirectoryPopup, "AddSubdirectories1", QStringLiteral("Add &Subdirectories"),
                QStringLiteral("Add subdirectories of selected directory to list"));

    ListPopup = new QMenu(this);
    ListPopup->setObjectName(QStringLiteral("ListPopup"));
    DeleteHighlighted1 =
        addItem(ListPopup, "DeleteHighlighted1", QStringLiteral("&Delete Highlighted"),
                QStringLiteral("Delete the highlighted directory from list"));
}

void TForm1::connectCommands() {
    auto wire = [this](QAction* action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    };
    wire(New1, &TForm1::Button5Click);
    wire(Open1, &TForm1::Button7Click);
    wire(Save1, &TForm1::Save1Click);
    wire(SaveAs1, &TForm1::Button6Click);
    wire(Exit1, &TForm1::Button8Click);
    wire(CreateReport, &TForm1::CreateReportClick);
    wire(CreateDataFile, &TForm1::CreateDataFileClick);
    wire(Contents1, &TForm1::Button10Click);
    wire(SearchforHelpOn1, &TForm1::SearchforHelpOn1Click);
    wire(About1, &TForm1::Button4Click);
    wire(AddThisDirectory1, &TForm1::AddThisDirectory1Click);
    wire(AddSubdirectories1, &TForm1::AddSubdirectories1Click);
    wire(DeleteHighlighted1, &TForm1::DeleteHighlighted1Click);

    connect(StatsButton, &QPushButton::clicked, this,
            [this] { guarded([this] { StatsPanelClick(); }); });
    connect(DriveComboBox1, &TDriveComboBox::changed, this,
            [this] { guarded([this] { DriveComboBox1Change(); }); });
    connect(DirectoryListBox1, &TDirectoryListBox::changed, this,
            [this] { guarded([this] { DirectoryListBox1Change(); }); });

    connect(DirectoryListBox1, &QWidget::customContextMenuRequested, this, [this](QPoint pos) {
        DirectoryPopup->popup(DirectoryListBox1->viewport()->mapToGlobal(pos));
    });
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this](QPoint pos) { ListPopup->popup(ListBox1->viewport()->mapToGlobal(pos)); });
}

}  // namespace pelmora::ui
