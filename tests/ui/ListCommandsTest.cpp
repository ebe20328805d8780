// The list commands of the main window, driven through its menu items with scripted answers:
// New, Open, Save, Save As and the close question (state after each, questions and dialogs),
// and the commands that add directories to the watched list and delete entries from it.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "list/listfile.h"
#include "list/watchedlist.h"
#include "platform/gui/helpviewer.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/volumes.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempTree.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"
#include "ui/Unit1.h"

namespace pelmora::ui {
namespace {

using list::ListFileName;
using list::ListModified;
using Lines = std::vector<std::string>;
using platform::mrCancel;
using platform::mrNo;
using platform::mrYes;
using test::readFile;

const std::string kClearQuestion = "Modified list not saved.  Clear list without saving?";
const std::string kSaveQuestion = "Modified list not saved.  Save changes?";

class ListCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        defaultPath = platform::programDirectory() + "DEFAULT.PML";
        ASSERT_FALSE(platform::fileExists(defaultPath)) << "a stray " << defaultPath;
        form = std::make_unique<TForm1>(services);
    }
    void TearDown() override {
        form.reset();
        EXPECT_FALSE(platform::fileExists(defaultPath)) << "a test wrote " << defaultPath;
        // The navigator moved the process into the tree, which is about to go.
        if (::chdir("/") != 0) ADD_FAILURE() << "chdir /";
    }

    list::WatchedList& list() { return form->watchedList(); }
    Lines entries() { return list().entries(); }
    std::string label() { return form->FileNameLabel->text().toStdString(); }

    // Opens `path` through File > Open with an unmodified list.
    void open(const std::string& path) {
        ASSERT_FALSE(ListModified);
        dialogs.answerFile(path);
        form->Open1->trigger();
    }
    // A list file in the tree, opened; the list then holds its lines.
    std::string openFile(const std::string& name, const std::string& bytes) {
        const std::string path = tree.write(name, bytes);
        open(path);
        return path;
    }
    // An edit of the list, as the add commands make it.
    void edit(const std::string& dir) {
        form->DirectoryListBox1->setDirectory(tree.dir(dir));
        form->AddThisDirectory1->trigger();
        ASSERT_TRUE(ListModified);
    }
    void highlight(std::initializer_list<int> rows) {
        for (int r : rows)
            form->ListBox1->selectionModel()->select(form->ListBox1->model()->index(r, 0),
                                                     QItemSelectionModel::Select);
    }
    void setFocusRow(int row) {
        form->ListBox1->selectionModel()->setCurrentIndex(form->ListBox1->model()->index(row, 0),
                                                          QItemSelectionModel::NoUpdate);
    }

    using Kind = test::DialogCall::Kind;
    std::vector<test::DialogCall> questions() const { return dialogs.callsOf(Kind::Message); }
    std::vector<std::string> errors() const { return dialogs.errors(); }
    std::vector<platform::FileDialogOptions> fileDialogs(Kind kind) const {
        std::vector<platform::FileDialogOptions> out;
        for (const test::DialogCall& c : dialogs.callsOf(kind)) out.push_back(c.fileOptions);
        return out;
    }
    std::vector<platform::FileDialogOptions> openDialogs() const {
        return fileDialogs(Kind::OpenFile);
    }
    std::vector<platform::FileDialogOptions> saveDialogs() const {
        return fileDialogs(Kind::SaveFile);
    }
    bool silent() const { return dialogs.calls().empty(); }

    test::ScriptedDialogs dialogs;
    Services services{.dialogs = &dialogs,
                      .volumes = &platform::systemVolumes(),
                      .help = &platform::qtHelpViewer(),
                      .locale = &platform::systemLocale(),
                      .programPath = platform::programPath()};
    test::TempTree tree;
    std::string defaultPath;
    std::unique_ptr<TForm1> form;
};

// --- start-up and the state after each file command --------------------------------------

TEST_F(ListCommands, StartsWithTheDefaultNameAndAnEmptyList) {
    EXPECT_EQ(ListFileName, defaultPath);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "DEFAULT.PML");
    EXPECT_EQ(list().count(), 0);
    EXPECT_TRUE(form->FormCloseQuery());
    EXPECT_TRUE(silent());
}

TEST_F(ListCommands, OpenLoadsTheFileSorted) {
    const std::string path = openFile("Mine.pml", "/b\r\n\r\n/A\n");
    EXPECT_EQ(ListFileName, path);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "Mine.pml");
    EXPECT_EQ(entries(), (Lines{"", "/A", "/b"}));
    ASSERT_EQ(openDialogs().size(), 1u);
    const platform::FileDialogOptions o = openDialogs()[0];
    EXPECT_EQ(o.title, "Open Directory List");
    EXPECT_EQ(o.defaultExt, "PML");
    EXPECT_EQ(o.filter, "Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*");
    EXPECT_EQ(o.filterIndex, 1);
    EXPECT_TRUE(o.hideReadOnly);
    EXPECT_FALSE(o.overwritePrompt);
    EXPECT_EQ(o.initialDir, platform::programDirectory());
    EXPECT_EQ(o.fileName, "");
    EXPECT_TRUE(questions().empty());
}

TEST_F(ListCommands, OpenRemembersTheLastPathAndStartsInTheListsFolder) {
    const std::string first = openFile("one.pml", "/x\r\n");
    tree.dir("sub");
    const std::string second = tree.write("sub/two.pml", "/y\r\n");
    open(second);
    dialogs.answerFile(std::nullopt);
    form->Open1->trigger();
    ASSERT_EQ(openDialogs().size(), 3u);
    EXPECT_EQ(openDialogs()[1].fileName, first);
    EXPECT_EQ(openDialogs()[1].initialDir, tree.root() + "/");
    EXPECT_EQ(openDialogs()[2].fileName, second);
    EXPECT_EQ(openDialogs()[2].initialDir, tree.path("sub/"));
    // The cancelled dialog changed nothing.
    EXPECT_EQ(ListFileName, second);
    EXPECT_EQ(entries(), Lines{"/y"});
    EXPECT_EQ(label(), "two.pml");
}

TEST_F(ListCommands, NewGoesBackToTheDefaultNameAndLoadsNothing) {
    openFile("l.pml", "/a\r\n/b\r\n");
    tree.write("DEFAULT.PML", "/should/not/load\r\n");
    form->New1->trigger();
    EXPECT_EQ(ListFileName, defaultPath);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "DEFAULT.PML");
    EXPECT_EQ(list().count(), 0);
    EXPECT_TRUE(questions().empty());
}

TEST_F(ListCommands, SaveRewritesTheNamedFileEvenWhenUnchanged) {
    const std::string path = openFile("l.pml", "/b\n/a");
    form->Save1->trigger();
    EXPECT_EQ(readFile(path), "/a\r\n/b\r\n");
    EXPECT_EQ(ListFileName, path);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "l.pml");

    edit("c");
    form->Save1->trigger();
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(readFile(path), "/a\r\n/b\r\n" + tree.path("c") + "\r\n");
    EXPECT_TRUE(saveDialogs().empty());
    EXPECT_TRUE(errors().empty());
}

TEST_F(ListCommands, SaveOfAnEmptyNamedListWritesZeroBytes) {
    const std::string path = openFile("l.pml", "");
    tree.write("l.pml", "/old\r\n");
    form->Save1->trigger();
    EXPECT_EQ(readFile(path), "");
    EXPECT_TRUE(platform::fileExists(path));
}

TEST_F(ListCommands, SaveOfADefaultNameInAnyFolderAsksForAName) {
    const std::string path = openFile("default.pml", "/a\r\n");
    tree.write("default.pml", "untouched");
    dialogs.answerFile(std::nullopt);
    form->Save1->trigger();
    ASSERT_EQ(saveDialogs().size(), 1u);
    EXPECT_EQ(saveDialogs()[0].fileName, "default.pml");
    EXPECT_EQ(saveDialogs()[0].initialDir, tree.root() + "/");
    EXPECT_EQ(readFile(path), "untouched");
    EXPECT_EQ(ListFileName, path);
}

TEST_F(ListCommands, SaveAsWritesTheChosenFileAndTakesItsName) {
    openFile("old.pml", "/z\r\n/y\r\n");
    edit("x");
    const std::string target = tree.path("New List.pml");
    dialogs.answerFile(target);
    form->SaveAs1->trigger();
    ASSERT_EQ(saveDialogs().size(), 1u);
    const platform::FileDialogOptions o = saveDialogs()[0];
    EXPECT_EQ(o.title, "Save Directory List");
    EXPECT_EQ(o.defaultExt, "PML");
    EXPECT_EQ(o.filter, "Pelmora Files (*.PML)|*.PML|All Files (*.*)|*.*");
    EXPECT_EQ(o.filterIndex, 1);
    EXPECT_TRUE(o.overwritePrompt);
    EXPECT_TRUE(o.hideReadOnly);
    EXPECT_EQ(o.fileName, "old.pml");
    EXPECT_EQ(o.initialDir, tree.root() + "/");

    EXPECT_EQ(readFile(target), tree.path("x") + "\r\n/y\r\n/z\r\n");
    EXPECT_EQ(readFile(tree.path("old.pml")), "/z\r\n/y\r\n");
    EXPECT_EQ(ListFileName, target);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "New List.pml");
}

TEST_F(ListCommands, SaveAsCancelledChangesNothing) {
    const std::string path = openFile("l.pml", "/a\r\n");
    edit("b");
    dialogs.answerFile(std::nullopt);
    form->SaveAs1->trigger();
    EXPECT_EQ(ListFileName, path);
    EXPECT_TRUE(ListModified);
    EXPECT_EQ(label(), "l.pml");
    EXPECT_EQ(readFile(path), "/a\r\n");
}

TEST_F(ListCommands, SaveAsOfAnEmptyListDoesNothingAtAll) {
    form->SaveAs1->trigger();
    EXPECT_TRUE(silent());
    edit("a");
    form->DeleteHighlighted1->trigger();
    ASSERT_EQ(list().count(), 0);
    ASSERT_TRUE(ListModified);
    form->SaveAs1->trigger();
    EXPECT_TRUE(silent());
    EXPECT_TRUE(ListModified);
    EXPECT_EQ(ListFileName, defaultPath);
}

TEST_F(ListCommands, AnEditMarksTheListModifiedAndKeepsTheName) {
    const std::string path = openFile("l.pml", "/a\r\n");
    edit("b");
    EXPECT_EQ(ListFileName, path);
    EXPECT_EQ(label(), "l.pml");
    EXPECT_EQ(entries(), (Lines{"/a", tree.path("b")}));
}

// --- the questions -------------------------------------------------------------------------

TEST_F(ListCommands, NewAsksBeforeDroppingChanges) {
    const std::string path = openFile("l.pml", "/a\r\n");
    edit("b");
    dialogs.answer(mrNo);
    form->New1->trigger();
    ASSERT_EQ(questions().size(), 1u);
    EXPECT_EQ(questions()[0].text, kClearQuestion);
    EXPECT_EQ(questions()[0].type, platform::MsgDlgType::Information);
    EXPECT_EQ(questions()[0].buttons, unsigned(platform::mbYes | platform::mbNo));
    EXPECT_EQ(list().count(), 2);
    EXPECT_TRUE(ListModified);
    EXPECT_EQ(ListFileName, path);

    dialogs.answer(mrYes);
    form->New1->trigger();
    EXPECT_EQ(list().count(), 0);
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(ListFileName, defaultPath);
    EXPECT_EQ(label(), "DEFAULT.PML");
}

TEST_F(ListCommands, NewClosedThroughTheCloseBoxClearsAsYesDoes) {
    edit("a");
    dialogs.answer(mrCancel);
    form->New1->trigger();
    EXPECT_EQ(questions().size(), 1u);
    EXPECT_EQ(list().count(), 0);
    EXPECT_FALSE(ListModified);
}

TEST_F(ListCommands, OpenWithChangesCancelStopsEverything) {
    edit("a");
    dialogs.answer(mrCancel);
    form->Open1->trigger();
    ASSERT_EQ(questions().size(), 1u);
    EXPECT_EQ(questions()[0].text, kSaveQuestion);
    EXPECT_EQ(questions()[0].type, platform::MsgDlgType::Information);
    EXPECT_EQ(questions()[0].buttons,
              unsigned(platform::mbYes | platform::mbNo | platform::mbCancel));
    EXPECT_TRUE(openDialogs().empty());
    EXPECT_TRUE(saveDialogs().empty());
    EXPECT_EQ(list().count(), 1);
    EXPECT_TRUE(ListModified);
}

TEST_F(ListCommands, OpenWithChangesNoDiscardsThem) {
    edit("a");
    const std::string path = tree.write("other.pml", "/o\r\n");
    dialogs.answer(mrNo);
    dialogs.answerFile(path);
    form->Open1->trigger();
    EXPECT_TRUE(saveDialogs().empty());
    EXPECT_EQ(entries(), Lines{"/o"});
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(label(), "other.pml");
}

TEST_F(ListCommands, OpenWithChangesYesOffersSaveAsEvenForANamedList) {
    const std::string named = openFile("named.pml", "/n\r\n");
    edit("a");
    const std::string other = tree.write("other.pml", "/o\r\n");
    // Yes, then Cancel in the save dialog: the open dialog still comes.
    dialogs.answer(mrYes);
    dialogs.answerFile(std::nullopt);
    dialogs.answerFile(other);
    form->Open1->trigger();
    EXPECT_EQ(saveDialogs().size(), 1u);
    EXPECT_EQ(openDialogs().size(), 2u);
    EXPECT_EQ(readFile(named), "/n\r\n");
    EXPECT_EQ(entries(), Lines{"/o"});
    EXPECT_FALSE(ListModified);

    // Yes and a name: the list is saved there, then the chosen file opens.
    edit("b");
    const std::string saved = tree.path("saved.pml");
    dialogs.answer(mrYes);
    dialogs.answerFile(saved);
    dialogs.answerFile(named);
    form->Open1->trigger();
    EXPECT_EQ(readFile(saved), "/o\r\n" + tree.path("b") + "\r\n");
    EXPECT_EQ(entries(), Lines{"/n"});
    EXPECT_EQ(ListFileName, named);
    EXPECT_EQ(label(), "named.pml");
}

TEST_F(ListCommands, OpenCancelledChangesNothing) {
    const std::string path = openFile("l.pml", "/a\r\n");
    dialogs.answerFile(std::nullopt);
    form->Open1->trigger();
    EXPECT_EQ(entries(), Lines{"/a"});
    EXPECT_EQ(ListFileName, path);
    EXPECT_EQ(label(), "l.pml");
}

TEST_F(ListCommands, CloseQuestionAnswers) {
    EXPECT_TRUE(form->FormCloseQuery());
    EXPECT_TRUE(questions().empty());

    edit("a");
    dialogs.answer(mrCancel);
    EXPECT_FALSE(form->FormCloseQuery());
    EXPECT_EQ(questions().back().text, kSaveQuestion);
    EXPECT_EQ(questions().back().buttons,
              unsigned(platform::mbYes | platform::mbNo | platform::mbCancel));

    dialogs.answer(mrYes);
    dialogs.answerFile(std::nullopt);
    EXPECT_FALSE(form->FormCloseQuery());
    EXPECT_TRUE(ListModified);

    dialogs.answer(mrNo);
    EXPECT_TRUE(form->FormCloseQuery());
    EXPECT_TRUE(ListModified);

    const std::string target = tree.path("kept.pml");
    dialogs.answer(mrYes);
    dialogs.answerFile(target);
    EXPECT_TRUE(form->FormCloseQuery());
    EXPECT_EQ(readFile(target), tree.path("a") + "\r\n");
    EXPECT_FALSE(ListModified);
    EXPECT_EQ(ListFileName, target);
}

TEST_F(ListCommands, ClosingAnEmptiedModifiedList) {
    edit("a");
    form->DeleteHighlighted1->trigger();
    ASSERT_EQ(list().count(), 0);
    dialogs.answer(mrYes);
    EXPECT_FALSE(form->FormCloseQuery());
    EXPECT_TRUE(saveDialogs().empty());
    dialogs.answer(mrNo);
    EXPECT_TRUE(form->FormCloseQuery());
}

TEST_F(ListCommands, TheWindowStaysOpenWhenClosingIsRefused) {
    form->show();
    edit("a");
    dialogs.answer(mrCancel);
    form->Exit1->trigger();
    EXPECT_TRUE(form->isVisible());

    // Yes with a save that fails: the error is shown, the window stays.
    const std::string bad = tree.path("missing/l.pml");
    dialogs.answer(mrYes);
    dialogs.answerFile(bad);
    form->close();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(errors(), Lines{"Cannot create file " + bad});
    EXPECT_TRUE(ListModified);

    dialogs.answer(mrNo);
    form->close();
    EXPECT_FALSE(form->isVisible());
}

// --- failures ------------------------------------------------------------------------------

TEST_F(ListCommands, OpeningAMissingFile) {
    openFile("first.pml", "/a\r\n");
    const std::string missing = tree.path("typed.pml");
    dialogs.answerFile(missing);
    form->Open1->trigger();
    EXPECT_EQ(errors(), Lines{"Cannot open file " + missing});
    EXPECT_EQ(list().count(), 0);
    EXPECT_EQ(ListFileName, missing);
    EXPECT_EQ(label(), "first.pml");
    EXPECT_FALSE(ListModified);

    // A following Save writes the typed path.
    edit("b");
    form->Save1->trigger();
    EXPECT_EQ(readFile(missing), tree.path("b") + "\r\n");
    EXPECT_FALSE(ListModified);
}

TEST_F(ListCommands, AFailedSaveKeepsTheStateAndTheOldFile) {
    const std::string path = openFile("l.pml", "/a\r\n");
    edit("b");
    const std::string bad = tree.path("no/such/folder/x.pml");
    dialogs.answerFile(bad);
    form->SaveAs1->trigger();
    EXPECT_EQ(errors(), Lines{"Cannot create file " + bad});
    EXPECT_EQ(ListFileName, path);
    EXPECT_TRUE(ListModified);
    EXPECT_EQ(label(), "l.pml");
    EXPECT_EQ(list().count(), 2);

    // Save onto a name that has become a folder: refused, the folder stays.
    ::unlink(path.c_str());
    tree.dir("l.pml");
    form->Save1->trigger();
    EXPECT_EQ(errors().back(), "Cannot create file " + path);
    EXPECT_TRUE(ListModified);
    EXPECT_EQ(list().count(), 2);
}

TEST_F(ListCommands, ALoadThatOverfillsTheListKeepsWhatItTook) {
    const std::string path = tree.write("big.pml", "/c\r\n/a\r\n/b\r\n");
    list().setMaxCount(2);
    dialogs.answerFile(path);
    form->Open1->trigger();
    EXPECT_EQ(errors(), Lines{"Unable to insert a line"});
    EXPECT_EQ(entries(), (Lines{"/a", "/c"}));
    EXPECT_EQ(ListFileName, path);
    EXPECT_EQ(label(), "DEFAULT.PML");
}

// --- adding directories --------------------------------------------------------------------

TEST_F(ListCommands, AddThisDirectoryAddsTheNavigatorsDirectoryOnce) {
    const std::string data = tree.dir("Data");
    form->DirectoryListBox1->setDirectory(data);
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(entries(), Lines{data});
    EXPECT_TRUE(ListModified);
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(list().count(), 1);
    EXPECT_TRUE(silent());
}

TEST_F(ListCommands, ARightClickInTheDirectoryListMovesNothingSoAddThisDirectoryAddsTheCurrent) {
    const std::string data = tree.dir("Data");
    tree.dir("Data/inner");
    TDirectoryListBox& dirs = *form->DirectoryListBox1;
    dirs.setDirectory(data);
    form->show();
    QApplication::processEvents();
    const int current = dirs.currentRow();
    const int inner = dirs.count() - 1;
    ASSERT_NE(inner, current);
    const QPoint at = dirs.visualItemRect(dirs.item(inner)).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent e(type, QPointF(at), QPointF(dirs.viewport()->mapToGlobal(at)), Qt::RightButton,
                      down ? Qt::RightButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dirs.viewport(), &e);
    }
    EXPECT_EQ(dirs.currentRow(), current);
    EXPECT_TRUE(dirs.item(current)->isSelected());
    EXPECT_FALSE(dirs.item(inner)->isSelected());
    EXPECT_EQ(dirs.directory(), data);
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(entries(), Lines{data});
}

TEST_F(ListCommands, AddThisDirectorySkipsADirectoryListedInOtherLetters) {
    const std::string data = tree.dir("Data");
    std::string upper = data.substr(0, data.size() - 4) + "DATA";
    openFile("l.pml", upper + "\r\n");
    form->DirectoryListBox1->setDirectory(data);
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(entries(), Lines{upper});
    EXPECT_FALSE(ListModified);
}

TEST_F(ListCommands, AddThisDirectoryOnTheRoot) {
    form->DirectoryListBox1->setDirectory("/");
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(entries(), Lines{"/"});
}

TEST_F(ListCommands, AddedEntriesLandAtTheirSortedPlace) {
    tree.dir("A");
    tree.dir("Z");
    openFile("l.pml", tree.path("A") + "\r\n" + tree.path("Z") + "\r\n");
    form->DirectoryListBox1->setDirectory(tree.dir("b"));
    form->AddThisDirectory1->trigger();
    EXPECT_EQ(entries(), (Lines{tree.path("A"), tree.path("b"), tree.path("Z")}));
}

TEST_F(ListCommands, AddSubdirectoriesAddsOnlyTheVisibleImmediateOnes) {
    tree.dir("Top/Mid/Low");
    tree.dir("Top/.hidden");
    tree.dir("Top/beta");
    tree.file("Top/file.txt");
    tree.symlink("Top/link", tree.path("Top/beta"));
    form->DirectoryListBox1->setDirectory(tree.path("Top"));
    form->AddSubdirectories1->trigger();
    EXPECT_EQ(entries(), (Lines{tree.path("Top/beta"), tree.path("Top/Mid")}));
    EXPECT_TRUE(ListModified);
    EXPECT_TRUE(silent());
}

TEST_F(ListCommands, AddSubdirectoriesWhenAllAreListedChangesNothing) {
    tree.dir("Top/one");
    tree.dir("Top/Two");
    openFile("l.pml", tree.path("Top/ONE") + "\r\n" + tree.path("Top/two") + "\r\n");
    form->DirectoryListBox1->setDirectory(tree.path("Top"));
    form->AddSubdirectories1->trigger();
    EXPECT_EQ(entries(), (Lines{tree.path("Top/ONE"), tree.path("Top/two")}));
    EXPECT_FALSE(ListModified);
}

TEST_F(ListCommands, AddSubdirectoriesOfTheRootHasNoDoubleSlash) {
    form->DirectoryListBox1->setDirectory("/");
    form->AddSubdirectories1->trigger();
    ASSERT_GT(list().count(), 0);
    for (const std::string& e : entries()) {
        EXPECT_EQ(e.rfind('/'), 0u) << e;
        EXPECT_NE(e.substr(0, 2), "//") << e;
    }
    EXPECT_NE(list().indexOf("/usr"), -1);
}

TEST_F(ListCommands, AddSubdirectoriesOfAnEmptyOrVanishedDirectoryAddsNothing) {
    const std::string gone = tree.dir("gone");
    form->DirectoryListBox1->setDirectory(gone);
    form->AddSubdirectories1->trigger();
    ::rmdir(gone.c_str());
    form->AddSubdirectories1->trigger();
    EXPECT_EQ(list().count(), 0);
    EXPECT_FALSE(ListModified);
    EXPECT_TRUE(silent());
}

TEST_F(ListCommands, NamesWithLineBreaksAreRefused) {
    const std::string odd = tree.dir("odd\nname");
    form->DirectoryListBox1->setDirectory(odd);
    form->AddThisDirectory1->trigger();
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_NE(errors()[0].find("line break"), std::string::npos) << errors()[0];
    EXPECT_EQ(list().count(), 0);
    EXPECT_FALSE(ListModified);

    tree.dir("Top/fine");
    tree.dir("Top/bad\rname");
    form->DirectoryListBox1->setDirectory(tree.path("Top"));
    form->AddSubdirectories1->trigger();
    ASSERT_EQ(errors().size(), 2u);
    EXPECT_NE(errors()[1].find("line break"), std::string::npos);
    EXPECT_EQ(entries(), Lines{tree.path("Top/fine")});
    EXPECT_TRUE(ListModified);
}

TEST_F(ListCommands, AFullListStopsAnAdd) {
    tree.dir("Top/a");
    tree.dir("Top/b");
    tree.dir("Top/c");
    list().setMaxCount(2);
    form->DirectoryListBox1->setDirectory(tree.path("Top"));
    form->AddSubdirectories1->trigger();
    EXPECT_EQ(errors(), Lines{"Unable to insert a line"});
    EXPECT_EQ(list().count(), 2);
    EXPECT_TRUE(ListModified);
}

// --- deleting ------------------------------------------------------------------------------

class DeleteHighlighted : public ListCommands {
  protected:
    void SetUp() override {
        ListCommands::SetUp();
        openFile("l.pml", "/a\r\n/b\r\n/c\r\n/d\r\n/e\r\n");
    }
};

TEST_F(DeleteHighlighted, RemovesExactlyTheHighlightedEntries) {
    highlight({0, 2, 3});
    setFocusRow(3);
    form->DeleteHighlighted1->trigger();
    EXPECT_EQ(entries(), (Lines{"/b", "/e"}));
    EXPECT_TRUE(ListModified);
}

TEST_F(DeleteHighlighted, OneHighlightedWithTheFocusOnIt) {
    highlight({2});
    setFocusRow(2);
    form->DeleteHighlighted1->trigger();
    EXPECT_EQ(entries(), (Lines{"/a", "/b", "/d", "/e"}));
}

TEST_F(DeleteHighlighted, OneHighlightedRemovesTheFocusedEntry) {
    highlight({1});
    setFocusRow(3);
    form->DeleteHighlighted1->trigger();
    EXPECT_EQ(entries(), (Lines{"/a", "/b", "/c", "/e"}));
}

TEST_F(DeleteHighlighted, NoneHighlightedRemovesTheFirstWhenTheFocusNeverMoved) {
    form->DeleteHighlighted1->trigger();
    EXPECT_EQ(entries(), (Lines{"/b", "/c", "/d", "/e"}));
    EXPECT_TRUE(ListModified);
}

TEST_F(DeleteHighlighted, NoneHighlightedRemovesTheFocusedEntry) {
    setFocusRow(4);
    form->DeleteHighlighted1->trigger();
    EXPECT_EQ(entries(), (Lines{"/a", "/b", "/c", "/d"}));
}

TEST_F(DeleteHighlighted, AnEmptyListIsLeftAlone) {
    form->New1->trigger();
    ASSERT_EQ(list().count(), 0);
    form->DeleteHighlighted1->trigger();
    EXPECT_FALSE(ListModified);
    EXPECT_TRUE(errors().empty());
}

}  // namespace
}  // namespace pelmora::ui
