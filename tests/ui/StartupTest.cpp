// Creating the main window: the list file beside the program, the batch run's start, and
// errors inside creation.
#include <QLabel>
#include <QStatusBar>
#include <cstdio>
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

// ---- an installed program: the user's lists in the user's data folder ---------------------

class InstalledStartup : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        services.listFolder = userDir;
    }
    // Not there until the program first needs it.
    const std::string userDir = tree.path("home/.local/share/pelmora/");
};

TEST_F(InstalledStartup, ListsComeFromTheUsersFolderElseFromTheProgramsFolder) {
    struct Case {
        const char* what;
        std::vector<std::string> userLists, programLists;  // each list holds its own name
        std::vector<std::string> arguments;
        std::string listFile;    // "user/NAME" or "prog/NAME"
        std::string loadedFrom;  // "user", "prog", or "" (none; a batch run reports it missing)
    } cases[] = {
        {"the user's default", {"DEFAULT.PML"}, {"DEFAULT.PML"}, {}, "user/DEFAULT.PML", "user"},
        {"the system-wide default", {}, {"DEFAULT.PML"}, {}, "user/DEFAULT.PML", "prog"},
        {"no default at all", {}, {}, {}, "user/DEFAULT.PML", ""},
        {"batch, the user's first",
         {"WEEKLY.PML"},
         {"WEEKLY.PML"},
         {"weekly"},
         "user/WEEKLY.PML",
         "user"},
        {"batch, any case", {"weekly.PML"}, {"WEEKLY.PML"}, {"weekly"}, "user/weekly.PML", "user"},
        {"batch, else the program's", {}, {"WEEKLY.PML"}, {"weekly"}, "prog/WEEKLY.PML", "prog"},
        {"batch, two candidates",
         {"weekly.PML", "Weekly.pml"},
         {},
         {"weekly"},
         "user/WEEKLY.PML",
         ""},
        {"batch, none", {}, {}, {"weekly"}, "user/WEEKLY.PML", ""},
    };
    for (const Case& c : cases) {
        removeTree(tree.path("home"));
        for (const std::string& name : c.userLists) {
            tree.dir("home/.local/share/pelmora");
            tree.write("home/.local/share/pelmora/" + name, "/from/user/" + name + "\r\n");
        }
        for (const std::string& name : c.programLists)
            tree.write("prog/" + name, "/from/prog/" + name + "\r\n");
        dialogs.clear();
        const bool reported = !c.arguments.empty() && c.loadedFrom.empty();
        if (reported) dialogs.answer(platform::mrAbort);
        ui::TForm1 f(services, c.arguments, &app::findBatchList);
        const std::string name = c.listFile.substr(5);
        const std::string listFile =
            (c.listFile.rfind("user/", 0) == 0 ? userDir : programDir + "/") + name;
        EXPECT_EQ(list::ListFileName, listFile) << c.what;
        EXPECT_EQ(f.FileNameLabel->text().toStdString(), name) << c.what;
        const std::vector<std::string> loaded =
            c.loadedFrom.empty() ? std::vector<std::string>{}
                                 : std::vector<std::string>{"/from/" + c.loadedFrom + "/" + name};
        EXPECT_EQ(f.watchedList().entries(), loaded) << c.what;
        if (reported) {
            ASSERT_FALSE(dialogs.calls().empty()) << c.what;
            EXPECT_EQ(dialogs.calls()[0].text, "Pelmora: File " + listFile + " not found.");
        }
        for (const char* n : {"DEFAULT.PML", "WEEKLY.PML", "WEEKLY.TXT"})
            std::remove((programDir + "/" + n).c_str());
    }
}

TEST_F(InstalledStartup, TheUsersFolderIsMadeWhenAListOrDataFileFirstGoesThere) {
    struct Case {
        const char* what;
        bool dataFile;  // else Save As, whose dialog starts there
    } cases[] = {{"Save As", false}, {"Create Data File", true}};
    for (const Case& c : cases) {
        removeTree(tree.path("home"));
        ui::TForm1& f = createForm();
        f.watchedList().add(workDir);
        struct stat st {};
        EXPECT_NE(::stat(userDir.c_str(), &st), 0) << c.what;  // not before it is needed
        if (c.dataFile) {
            f.CreateDataFile->trigger();
            EXPECT_FALSE(readFile(userDir + "DEFAULT.TXT").empty()) << c.what;
        } else {
            dialogs.answerFile(std::nullopt);
            f.SaveAs1->trigger();
            ASSERT_EQ(dialogs.callsOf(DialogCall::Kind::SaveFile).size(), 1u);
            EXPECT_EQ(dialogs.callsOf(DialogCall::Kind::SaveFile)[0].fileOptions.initialDir,
                      userDir);
        }
        ASSERT_EQ(::stat(userDir.c_str(), &st), 0) << c.what;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.what;
        dialogs.clear();
        form.reset();
    }
}

TEST_F(InstalledStartup, NewStartsAgainFromTheUsersDefault) {
    ui::TForm1& f = createForm();
    list::ListFileName = workDir + "/OTHER.PML";
    f.New1->trigger();
    EXPECT_EQ(list::ListFileName, userDir + "DEFAULT.PML");
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
