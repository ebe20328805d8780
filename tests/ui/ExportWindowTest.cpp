// Report > Create Data File in the main window, and the batch run that ends in it.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QProgressBar>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "list/watchedlist.h"
#include "stats/counting.h"
#include "tests/support/PrivateTmpfs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempTree.h"
#include "tests/ui/ShellFixture.h"
#include "ui/Unit1.h"

using namespace pelmora;
using test::DialogCall;

namespace {

// What the progress bar and the cursor showed at each step of the bar.
struct Step {
    int value;
    int maximum;
    bool visible;
    bool hourglass;
};

class ExportWindowTest : public test::ShellTest {
  protected:
    // Starts the window as the program does with one argument.
    void createBatchForm(const std::string& argument) {
        form = std::make_unique<ui::TForm1>(services, std::vector<std::string>{argument},
                                            &app::findBatchList);
        form->show();
        QApplication::processEvents();
    }

    // Watches the bar of the window in force from now on.
    void watchProgress() {
        QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged, [this](int v) {
            const QCursor* c = QApplication::overrideCursor();
            steps.push_back({v, form->ProgressBar1->maximum(), form->ProgressBar1->isVisible(),
                             c != nullptr && c->shape() == Qt::WaitCursor});
        });
    }

    void expectRestored() {
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(form->ProgressBar1->isVisible());
    }

    std::vector<std::string> notices() const {
        std::vector<std::string> out;
        for (const DialogCall& c : dialogs.callsOf(DialogCall::Kind::Notice)) out.push_back(c.text);
        return out;
    }

    std::vector<Step> steps;
};

}  // namespace

TEST_F(ExportWindowTest, EmptyListOnlySaysSo) {
    createForm();
    list::ListFileName = tree.path("week.PML");
    tree.write("week.TXT", "previous");
    dialogs.clear();
    form->CreateDataFile->trigger();
    EXPECT_EQ(notices(), std::vector<std::string>{"The list is empty."});
    EXPECT_TRUE(dialogs.errors().empty());
    EXPECT_EQ(test::readFile(tree.path("week.TXT")), "previous");
    expectRestored();
}

TEST_F(ExportWindowTest, WritesTheFileAndConfirms) {
    createForm();
    const std::string a = tree.dir("data/a");
    tree.write("data/a/f1", std::string(100, 'x'));
    tree.write("data/a/f2", std::string(23, 'y'));
    const std::string b = tree.path("data/b-gone");
    form->watchedList().add(b);
    form->watchedList().add(a);
    form->watchedList().add("");
    list::ListFileName = tree.path("lists.d/Week.pml");
    tree.dir("lists.d");
    ASSERT_EQ(stats::EntryOverhead, 2048);  // half the 4096-byte cluster of the probed volume
    watchProgress();
    dialogs.clear();

    form->CreateDataFile->trigger();

    const std::string name = tree.path("lists.d/Week.TXT");
    EXPECT_TRUE(dialogs.errors().empty());
    EXPECT_EQ(notices(), std::vector<std::string>{"File " + name + " created."});
    EXPECT_EQ(test::readFile(name),
              "\"\",0,0,0,0\r\n\"" + a + "\",0,2,123,4096\r\n\"" + b + "\",0,0,0,0\r\n");
    // The bar stepped once per entry up to the number of entries, shown, under the hourglass.
    std::vector<int> values;
    for (const Step& s : steps) {
        values.push_back(s.value);
        EXPECT_EQ(s.maximum, 3);
        EXPECT_TRUE(s.visible) << s.value;
        EXPECT_TRUE(s.hourglass) << s.value;
    }
    ASSERT_GE(values.size(), 3u);
    EXPECT_EQ(std::vector<int>(values.end() - 3, values.end()), (std::vector<int>{1, 2, 3}));
    expectRestored();
}

TEST_F(ExportWindowTest, NormalPointerAfterwardsWhateverWasShownBefore) {
    createForm();
    form->watchedList().add(tree.dir("x"));
    list::ListFileName = tree.path("L.PML");
    QApplication::setOverrideCursor(Qt::CrossCursor);
    form->CreateDataFile->trigger();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A full disk is a small tmpfs filled to the brim.
TEST_F(ExportWindowTest, FullDiskShowsTheErrorAndNoConfirmation) {
    const test::PrivateTmpfs full(tree.dir("full"), "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    tree.write("full/L.TXT", "previous");
    ASSERT_TRUE(test::fillUp(tree.path("full/filler")));
    createForm();
    form->watchedList().add(tree.dir("x"));
    form->watchedList().add(tree.dir("y"));
    list::ListFileName = tree.path("full/L.PML");
    dialogs.clear();
    form->CreateDataFile->trigger();
    EXPECT_EQ(dialogs.errors(), std::vector<std::string>{"Disk full"});
    EXPECT_TRUE(notices().empty());
    expectRestored();
    // The last good export stays, and nothing else is left beside it.
    EXPECT_EQ(test::readFile(tree.path("full/L.TXT")), "previous");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tree.path("full")))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"L.TXT", "filler"}));
}

TEST_F(ExportWindowTest, AListNamedLikeItsDataFileIsNotOverwritten) {
    createForm();
    const std::string listBytes = tree.dir("x") + "\r\n";
    list::ListFileName = tree.write("X.TXT", listBytes);
    form->watchedList().add(tree.path("x"));
    dialogs.clear();
    form->CreateDataFile->trigger();
    EXPECT_EQ(dialogs.errors(),
              std::vector<std::string>{"Cannot create file " + tree.path("X.TXT") +
                                       ": it is the list file itself"});
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(test::readFile(tree.path("X.TXT")), listBytes);
    expectRestored();
}

TEST_F(ExportWindowTest, FileThatCannotBeCreatedIsReported) {
    createForm();
    form->watchedList().add(tree.dir("x"));
    list::ListFileName = tree.path("missing/L.PML");
    dialogs.clear();
    form->CreateDataFile->trigger();
    EXPECT_EQ(dialogs.errors(),
              std::vector<std::string>{"Cannot create file " + tree.path("missing/L.TXT")});
    EXPECT_TRUE(notices().empty());
    expectRestored();
}

// ---- batch runs -----------------------------------------------------------------------------

TEST_F(ExportWindowTest, BatchRunWritesConfirmsAndQuits) {
    const std::string dir = tree.dir("d");
    tree.write("d/f", "12345");
    tree.write("prog/WEEKLY.PML", dir + "\r\n");
    createBatchForm("weekly.pml");
    EXPECT_EQ(notices(), std::vector<std::string>{"File " + programDir + "/WEEKLY.TXT created."});
    EXPECT_EQ(test::readFile(programDir + "/WEEKLY.TXT"), "\"" + dir + "\",0,1,5,2048\r\n");
    EXPECT_TRUE(form->quitRequested());
    EXPECT_EQ(form->batchExitStatus(), 0);
    expectRestored();
}

TEST_F(ExportWindowTest, BatchRunWithEmptyListSaysSoAndQuits) {
    tree.write("prog/NONE.PML", "");
    createBatchForm("none");
    EXPECT_EQ(notices(), std::vector<std::string>{"The list is empty."});
    EXPECT_TRUE(form->quitRequested());
    EXPECT_EQ(form->batchExitStatus(), 0);
}

TEST_F(ExportWindowTest, BatchRunThatCannotCreateTheFileFailsAndQuits) {
    tree.write("prog/WEEKLY.PML", tree.dir("d") + "\r\n");
    tree.dir("prog/WEEKLY.TXT");
    createBatchForm("weekly");
    EXPECT_EQ(dialogs.errors(),
              std::vector<std::string>{"Cannot create file " + programDir + "/WEEKLY.TXT"});
    EXPECT_TRUE(notices().empty());
    EXPECT_TRUE(form->quitRequested());
    EXPECT_EQ(form->batchExitStatus(), 1);
    expectRestored();
}

TEST_F(ExportWindowTest, BatchRunWithAWriteErrorStaysOpenAndFails) {
    const test::PrivateTmpfs full(programDir, "size=256k");
    if (!full.ok()) GTEST_SKIP() << full.why();
    tree.write("prog/WEEKLY.PML", tree.dir("d") + "\r\n");
    ASSERT_TRUE(test::fillUp(tree.path("prog/filler")));
    createBatchForm("weekly");
    EXPECT_EQ(dialogs.errors(), std::vector<std::string>{"Disk full"});
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(form->quitRequested());
    EXPECT_EQ(form->batchExitStatus(), 1);
    expectRestored();
}
