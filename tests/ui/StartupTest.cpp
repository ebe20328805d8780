// Creating the main window: the list file beside the program, the batch run's start, and
// errors inside creation.
#include <QLabel>
#include <QStatusBar>
#include <sys/stat.h>

#include "app/CommandLine.h"
#include "list/listfile.h"
#include "tests/ui/ShellFixture.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"

namespace pelmora::test {
namespace {

using Startup = ShellTest;

std::string namedList(const std::vector<std::string>& folders, std::string_view arg) {
    return folders.front() + "LIST_" + std::string(arg) + ".PML";
}

TEST_F(Startup, WithoutDefaultListTheListIsEmptyAndNothingIsShown) {
    ui::TForm1& f = createForm();
    EXPECT_EQ(list::ListFileName, programDir + "/DEFAULT.PML");
    EXPECT_FALSE(list::ListModified);
    EXPECT_EQ(f.FileNameLabel->text(), "DEFAULT.PML");
    EXPECT_EQ(f.watchedList().count(), 0);
    EXPECT_TRUE(dialogs.calls().empty());
    EXPECT_FALSE(f.quitRequested());
    EXPECT_EQ(f.batchExitStatus(), 0);
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(f.windowTitle(), "Pelmora");
    EXPECT_EQ(platform::applicationHelpFile(), programDir + "/Pelmora.hlp");
}

TEST_F(Startup, FilesAreLookedForBesideTheProgramNotInTheCurrentDirectory) {
    tree.write("work/DEFAULT.PML", "/somewhere\r\n");
    ui::TForm1& f = createForm();
    EXPECT_EQ(list::ListFileName, programDir + "/DEFAULT.PML");
    EXPECT_EQ(f.watchedList().count(), 0);
    EXPECT_EQ(platform::currentDirectory(), workDir);
    EXPECT_EQ(f.DirectoryListBox1->directory(), workDir);
}

TEST_F(Startup, ADirectoryNamedLikeTheListCountsAsMissing) {
    tree.dir("prog/DEFAULT.PML");
    ui::TForm1& f = createForm();
    EXPECT_EQ(f.watchedList().count(), 0);
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(Startup, TheDefaultListBesideTheProgramIsLoaded) {
    tree.write("prog/DEFAULT.PML", "/b/two\r\n/a/one\r\n");
    ui::TForm1& f = createForm();
    EXPECT_EQ(f.watchedList().entries(), (std::vector<std::string>{"/a/one", "/b/two"}));
    EXPECT_FALSE(list::ListModified);
    EXPECT_TRUE(f.close());  // nothing changed: no question
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(Startup, AnErrorWhileLoadingIsShownAndCreationCompletes) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    const std::string pml = tree.write("prog/DEFAULT.PML", "/a\r\n");
    ASSERT_EQ(::chmod(pml.c_str(), 0), 0);
    ui::TForm1& f = createForm();
    EXPECT_EQ(dialogs.errors().size(), 1u);
    EXPECT_TRUE(f.isVisible());
}

TEST_F(Startup, OneArgumentStartsMinimizedWithTheBatchList) {
    tree.write("prog/LIST_week.PML", "");
    auto form1 =
        std::make_unique<ui::TForm1>(services, std::vector<std::string>{"week"}, &namedList);
    EXPECT_EQ(list::ListFileName, programDir + "/LIST_week.PML");
    EXPECT_EQ(form1->FileNameLabel->text(), "LIST_week.PML");
    EXPECT_TRUE(form1->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(form1->quitRequested());
    EXPECT_EQ(form1->batchExitStatus(), 0);
    EXPECT_TRUE(dialogs.callsOf(DialogCall::Kind::Message).empty());
}

TEST_F(Startup, AMissingBatchListIsReportedAndTheRunFails) {
    dialogs.answer(platform::mrAbort);
    ui::TForm1 f(services, {"nothere"}, &namedList);
    ASSERT_EQ(dialogs.calls().size(), 1u);
    const DialogCall& w = dialogs.calls()[0];
    EXPECT_EQ(w.text, "Pelmora: File " + programDir + "/LIST_nothere.PML not found.");
    EXPECT_EQ(w.type, platform::MsgDlgType::Warning);
    EXPECT_EQ(w.buttons, platform::mbAbort);
    EXPECT_EQ(w.defaultButton, 0u);
    EXPECT_EQ(w.cancelButton, 0u);
    EXPECT_TRUE(f.quitRequested());
    EXPECT_EQ(f.batchExitStatus(), 1);
}

TEST_F(Startup, TheBatchListIsFoundWhateverTheCaseItWasSavedIn) {
    struct Case {
        std::vector<std::string> lists;
        const char* used;  // nullptr: reported missing as the upper-cased name
    } cases[] = {
        {{"weekly.PML"}, "weekly.PML"},  // Save As "weekly"
        {{"Weekly.pml"}, "Weekly.pml"},
        {{"weekly.PML", "Weekly.pml"}, nullptr},
    };
    for (const Case& c : cases) {
        TempTree lists;
        services.programPath = lists.dir("prog") + "/pelmora";
        for (const std::string& name : c.lists) lists.write("prog/" + name, "");
        dialogs.clear();
        if (!c.used) dialogs.answer(platform::mrAbort);
        ui::TForm1 f(services, {"weekly"}, &app::findBatchList);
        const std::string used = lists.path("prog/") + (c.used ? c.used : "WEEKLY.PML");
        EXPECT_EQ(list::ListFileName, used);
        EXPECT_EQ(f.FileNameLabel->text().toStdString(), platform::bareName(used));
        if (c.used) {
            ASSERT_EQ(dialogs.callsOf(DialogCall::Kind::Notice).size(), 1u);
            EXPECT_EQ(dialogs.calls()[0].text, "The list is empty.");
            EXPECT_EQ(f.batchExitStatus(), 0);
        } else {
            ASSERT_EQ(dialogs.calls().size(), 1u);
            EXPECT_EQ(dialogs.calls()[0].text, "Pelmora: File " + used + " not found.");
            EXPECT_EQ(f.batchExitStatus(), 1);
        }
        EXPECT_TRUE(f.quitRequested());
    }
}

TEST_F(Startup, TwoArgumentsStartInteractively) {
    ui::TForm1& f = createForm({"a", "b"});
    EXPECT_EQ(list::ListFileName, programDir + "/DEFAULT.PML");
    EXPECT_FALSE(f.quitRequested());
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(Startup, TheHintHandlerIsInstalledByCreation) {
    ui::TForm1& f = createForm();
    f.hintIdleStep(f.StatusLine);
    EXPECT_EQ(f.StatusLine->currentMessage(), "Hints appear here");
}

}  // namespace
}  // namespace pelmora::test
