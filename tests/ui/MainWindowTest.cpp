// The main window: layout and resizing, menus, focus order, hints in the status line, F1 help
// and the help commands.
#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolTip>
#include <cstdlib>

#include "platform/locale.h"
#include "tests/ui/ShellFixture.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"

namespace pelmora::test {
namespace {

using ui::TForm1;

QRect inClient(const TForm1& f, const QWidget* w) {
    return QRect(w->mapTo(f.centralWidget(), QPoint(0, 0)), w->size());
}

void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

using MainWindow = ShellTest;

TEST_F(MainWindow, ControlsKeepTheirNamesAndDesignPlaces) {
    TForm1& f = createForm();
    EXPECT_EQ(f.objectName(), "Form1");
    EXPECT_EQ(f.windowTitle(), "Pelmora");
    EXPECT_EQ(f.centralWidget()->size(), QSize(542, 312));
    EXPECT_EQ(f.StatusLine->height(), 22);
    EXPECT_EQ(f.StatusLine->width(), 542);

    EXPECT_EQ(inClient(f, f.SpeedPanel), QRect(0, 0, 542, 33));
    EXPECT_EQ(inClient(f, f.LeftPanel), QRect(0, 33, 270, 279));
    EXPECT_EQ(inClient(f, f.ListBox1), QRect(270, 33, 272, 279));
    EXPECT_EQ(f.DirectoryListBox1->geometry(), QRect(1, 1, 268, 156));
    EXPECT_EQ(f.StatsPanel->geometry(), QRect(1, 157, 268, 121));
    EXPECT_EQ(f.DriveComboBox1->geometry(), QRect(8, 6, 257, 22));
    EXPECT_EQ(f.FNLabel->pos(), QPoint(280, 8));
    EXPECT_EQ(f.FileNameLabel->pos(), QPoint(368, 8));
    EXPECT_EQ(f.ProgressBar1->geometry(), QRect(272, 8, 257, 16));
    EXPECT_FALSE(f.ProgressBar1->isVisible());
    EXPECT_EQ(f.ProgressBar1->minimum(), 0);
    EXPECT_EQ(f.ProgressBar1->maximum(), 100);
    EXPECT_EQ(f.DirectoryLabel->geometry(), QRect(8, 24, 249, 17));
    EXPECT_EQ(f.StatsButton->geometry(), QRect(200, 48, 49, 25));
    EXPECT_EQ(f.StatsButton->text(), "Stats");
    EXPECT_EQ(f.CurrentDirectory->text(), "Current Directory");
    EXPECT_EQ(f.CompressedLabel->pos(), QPoint(120, 8));
    const QLabel* figures[] = {f.TotDirsLabel, f.TotFilesLabel, f.TotSizeLabel, f.OverheadLabel};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(figures[i]->pos(), QPoint(8, 40 + 16 * i));
        EXPECT_TRUE(figures[i]->text().isEmpty());
    }
    for (const char* name :
         {"SpeedPanel", "StatusLine", "LeftPanel", "ListBox1", "DirectoryListBox1", "StatsPanel",
          "DriveComboBox1", "FNLabel", "FileNameLabel", "ProgressBar1", "CurrentDirectory",
          "CompressedLabel", "DirectoryLabel", "TotDirsLabel", "TotFilesLabel", "TotSizeLabel",
          "OverheadLabel", "StatsButton"})
        EXPECT_NE(f.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(MainWindow, FontsAndColoursFollowTheDesign) {
    TForm1& f = createForm();
    EXPECT_EQ(f.font().family(), "Arial");
    EXPECT_EQ(f.font().pixelSize(), 13);
    EXPECT_EQ(f.FNLabel->palette().color(QPalette::WindowText), QColor(Qt::black));
    const QColor navy(0, 0, 0x80);
    EXPECT_EQ(f.FileNameLabel->palette().color(QPalette::WindowText), navy);
    EXPECT_EQ(f.TotDirsLabel->palette().color(QPalette::WindowText), navy);
    EXPECT_EQ(f.DirectoryLabel->palette().color(QPalette::WindowText), navy);
}

TEST_F(MainWindow, WatchedListRowsAreSixteenPixelsHigh) {
    TForm1& f = createForm();
    f.watchedList().add("/a");
    f.watchedList().add("/b");
    QApplication::processEvents();
    EXPECT_EQ(f.ListBox1->visualRect(f.ListBox1->model()->index(1, 0)).top() -
                  f.ListBox1->visualRect(f.ListBox1->model()->index(0, 0)).top(),
              16);
}

TEST_F(MainWindow, ALocaleChangeRereadsTheThousandsSeparator) {
    locale.separator = '#';
    TForm1& f = createForm();
    EXPECT_EQ(f.thousandsSeparator(), '#');
    locale.separator = ',';
    EXPECT_EQ(f.thousandsSeparator(), '#');  // read again only when the change is announced
    QEvent change(QEvent::LocaleChange);
    QApplication::sendEvent(&f, &change);
    EXPECT_EQ(f.thousandsSeparator(), ',');
}

TEST_F(MainWindow, ResizingStretchesTheListAndKeepsThePanels) {
    TForm1& f = createForm();
    f.resize(f.width() + 200, f.height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(f.SpeedPanel->size(), QSize(742, 33));
    EXPECT_EQ(f.StatusLine->width(), 742);
    EXPECT_EQ(f.LeftPanel->size(), QSize(270, 379));
    EXPECT_EQ(f.StatsPanel->height(), 121);
    EXPECT_EQ(f.DirectoryListBox1->height(), 256);
    EXPECT_EQ(inClient(f, f.ListBox1), QRect(270, 33, 472, 379));
    EXPECT_EQ(inClient(f, f.StatsPanel).bottom(), inClient(f, f.LeftPanel).bottom() - 1);
}

struct MenuItem {
    const char* name;
    const char* caption;
    const char* hint;
    int helpContext;
};

TEST_F(MainWindow, MenusCarryTheirCaptionsHintsAndHelpContexts) {
    TForm1& f = createForm();
    const MenuItem items[] = {
        {"New1", "&New", "Start a new list", 0},
        {"Open1", "&Open...", "Open an existing list", 0},
        {"Save1", "&Save", "Save current list", 0},
        {"SaveAs1", "Save &As...", "Save current list under another name", 0},
        {"Exit1", "E&xit", "Exit this program", 0},
        {"CreateReport", "Create &Report", "Report on directories in list", 15},
        {"CreateDataFile", "Create &Data File", "", 10},
        {"Contents1", "&Topics", "Help topics", 0},
        {"SearchforHelpOn1", "&Search...", "Help index", 0},
        {"About1", "&About...", "About Pelmora", 0},
        {"AddThisDirectory1", "Add &This Directory", "Add selected directory to list", 0},
        {"AddSubdirectories1", "Add &Subdirectories",
         "Add subdirectories of selected directory to list", 0},
        {"DeleteHighlighted1", "&Delete Highlighted", "Delete the highlighted directory from list",
         0},
    };
    for (const MenuItem& item : items) {
        auto* a = f.findChild<QAction*>(QString::fromLatin1(item.name));
        ASSERT_NE(a, nullptr) << item.name;
        EXPECT_EQ(a->text(), item.caption);
        EXPECT_EQ(a->statusTip(), item.hint);
        EXPECT_EQ(a->property("helpContext").toInt(), item.helpContext) << item.name;
        EXPECT_TRUE(a->shortcut().isEmpty());
    }
    const QList<QAction*> bar = f.menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[1]->text(), "&Report");
    EXPECT_EQ(bar[2]->text(), "&Help");
    QStringList fileItems;
    for (QAction* a : f.File1->actions()) fileItems << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(fileItems, QStringList({"&New", "&Open...", "&Save", "Save &As...", "-", "E&xit"}));
}

TEST_F(MainWindow, FocusStartsOnStatsAndTabFollowsTheDesignOrder) {
    TForm1& f = createForm();
    ASSERT_EQ(QApplication::focusWidget(), f.StatsButton);
    const QWidget* expected[] = {f.DirectoryListBox1, f.ListBox1, f.DriveComboBox1, f.StatsButton};
    for (const QWidget* next : expected) {
        pressKey(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{f.SpeedPanel, f.LeftPanel, f.StatsPanel,
                                                      f.StatusLine, f.ProgressBar1, f.FNLabel})
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->objectName().toStdString();
}

TEST_F(MainWindow, EnterRightAfterStartRunsTheStatsCommand) {
    tree.file("work/a.bin", 100);
    TForm1& f = createForm();
    pressKey(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(f.TotFilesLabel->text(), "Total Files 1");
}

TEST_F(MainWindow, HintOfTheControlUnderThePointerOrOfItsParent) {
    TForm1& f = createForm();
    f.hintIdleStep(f.StatsButton);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Click button for current directory stats");
    f.hintIdleStep(f.TotSizeLabel);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Click button for current directory stats");
    f.hintIdleStep(f.ListBox1->viewport());
    EXPECT_EQ(f.StatusLine->currentMessage(), "Right click for menu");
    // Neither the labels of the top strip, the strip nor the window have a hint.
    f.hintIdleStep(f.FileNameLabel);
    EXPECT_EQ(f.StatusLine->currentMessage(), "");
    f.hintIdleStep(f.FNLabel);
    EXPECT_EQ(f.StatusLine->currentMessage(), "");
    f.hintIdleStep(f.StatusLine);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Hints appear here");
    f.hintIdleStep(f.DirectoryListBox1->viewport());
    EXPECT_EQ(f.StatusLine->currentMessage(),
              "Double click to change directories.  Right click for menu");
    f.hintIdleStep(f.DriveComboBox1);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Change to another drive");
    f.hintIdleStep(nullptr);
    EXPECT_EQ(f.StatusLine->currentMessage(), "");
}

TEST_F(MainWindow, StatusLineIsWrittenOnlyWhenTheHintChanges) {
    TForm1& f = createForm();
    f.hintIdleStep(f.StatsButton);
    f.StatusLine->showMessage("marker");
    f.hintIdleStep(f.CurrentDirectory);  // same hint: the status line is not touched
    EXPECT_EQ(f.StatusLine->currentMessage(), "marker");
    f.hintIdleStep(f.StatusLine);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Hints appear here");
    EXPECT_EQ(f.applicationHint(), "Hints appear here");
}

TEST_F(MainWindow, OnlyTheTextAfterABarIsShown) {
    TForm1& f = createForm();
    f.StatsButton->setStatusTip("short|long text");
    f.hintIdleStep(f.StatsButton);
    EXPECT_EQ(f.StatusLine->currentMessage(), "long text");
}

TEST_F(MainWindow, HighlightedMenuItemsShowTheirHintsAndClosingEmptiesIt) {
    TForm1& f = createForm();
    f.hintIdleStep(f.StatsButton);
    f.File1->popup(f.mapToGlobal(QPoint(0, 0)));
    ASSERT_EQ(QApplication::activePopupWidget(), f.File1);
    f.File1->setActiveAction(f.Save1);
    f.hintIdleStep(f.StatsButton);  // the pointer's control does not count while a menu is open
    EXPECT_EQ(f.StatusLine->currentMessage(), "Save current list");
    f.File1->close();
    EXPECT_EQ(f.StatusLine->currentMessage(), "");

    f.hintIdleStep(f.ListBox1->viewport());
    f.Report1->popup(f.mapToGlobal(QPoint(0, 0)));
    f.Report1->setActiveAction(f.CreateReport);
    f.hintIdleStep(nullptr);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Report on directories in list");
    f.Report1->setActiveAction(f.CreateDataFile);
    f.hintIdleStep(nullptr);
    EXPECT_EQ(f.StatusLine->currentMessage(), "");
    f.Report1->close();
}

TEST_F(MainWindow, QtStatusTipsDoNotWriteTheStatusLine) {
    TForm1& f = createForm();
    f.hintIdleStep(f.StatsButton);
    QStatusTipEvent tip("something else");
    QApplication::sendEvent(f.ListBox1, &tip);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Click button for current directory stats");
}

TEST_F(MainWindow, F1OnAControlAsksForItsOrItsParentsContext) {
    TForm1& f = createForm();
    const std::string file = programDir + "/Pelmora.hlp";
    f.DirectoryListBox1->setFocus();
    pressKey(f.DirectoryListBox1, Qt::Key_F1);
    f.ListBox1->setFocus();
    pressKey(f.ListBox1, Qt::Key_F1);
    ASSERT_EQ(help.calls.size(), 2u);
    EXPECT_EQ(help.calls[0], (HelpCall{file, 1, 11}));
    EXPECT_EQ(help.calls[1], (HelpCall{file, 1, 1}));
    // The drive box and the Stats button have no context, nor has anything above them.
    f.DriveComboBox1->setFocus();
    pressKey(f.DriveComboBox1, Qt::Key_F1);
    f.StatsButton->setFocus();
    pressKey(f.StatsButton, Qt::Key_F1);
    EXPECT_EQ(help.calls.size(), 2u);
}

TEST_F(MainWindow, F1OnAMenuItemAsksForItsOrItsMenusContext) {
    TForm1& f = createForm();
    const std::string file = programDir + "/Pelmora.hlp";
    struct Case {
        QMenu* menu;
        QAction* item;
        unsigned long context;
    } cases[] = {{f.File1, f.Save1, 3},
                 {f.File1, f.Exit1, 3},
                 {f.Report1, f.CreateReport, 15},
                 {f.Report1, f.CreateDataFile, 10},
                 {f.Help1, f.About1, 3},
                 {f.DirectoryPopup, f.AddThisDirectory1, 0},
                 {f.ListPopup, f.DeleteHighlighted1, 0}};
    for (const Case& c : cases) {
        help.calls.clear();
        c.menu->popup(f.mapToGlobal(QPoint(10, 10)));
        c.menu->setActiveAction(c.item);
        pressKey(c.menu, Qt::Key_F1);
        c.menu->close();
        ASSERT_EQ(help.calls.size(), 1u) << c.item->objectName().toStdString();
        EXPECT_EQ(help.calls[0], (HelpCall{file, 1, c.context}))
            << c.item->objectName().toStdString();
    }
}

TEST_F(MainWindow, HelpMenuAndClosingSendTheHelpCommands) {
    TForm1& f = createForm();
    const std::string file = programDir + "/Pelmora.hlp";
    f.Contents1->trigger();
    f.SearchforHelpOn1->trigger();
    ASSERT_EQ(help.calls.size(), 2u);
    EXPECT_EQ(help.calls[0], (HelpCall{file, 11, 0}));
    EXPECT_EQ(help.calls[1], (HelpCall{file, 261, 0}));
    f.Exit1->trigger();
    EXPECT_FALSE(f.isVisible());
    ASSERT_EQ(help.calls.size(), 3u);
    EXPECT_EQ(help.calls[2], (HelpCall{file, 2, 0}));
}

TEST_F(MainWindow, NoPopUpTipsAnywhere) {
    TForm1& f = createForm();
    f.StatsButton->setToolTip("tip");
    QHelpEvent e(QEvent::ToolTip, QPoint(1, 1), f.StatsButton->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(f.StatsButton, &e);
    EXPECT_FALSE(QToolTip::isVisible());
}

}  // namespace
}  // namespace pelmora::test
