// The main window in a controlled world: scripted dialogs, a recording help viewer, fake
// volumes, a stand-in program directory in a temporary tree and a current directory of its own.
#pragma once

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "list/watchedlist.h"
#include "output/gui/SystemPrinter.h"
#include "platform/paths.h"
#include "stats/counting.h"
#include "stats/formatcount.h"
#include "tests/support/FakeVolumes.h"
#include "tests/support/FixedLocale.h"
#include "tests/support/RecordingHelpViewer.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempTree.h"
#include "ui/Services.h"
#include "ui/Unit1.h"

namespace pelmora::test {

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_savedCwd = platform::currentDirectory();
        programDir = tree.dir("prog");
        services.programPath = programDir + "/pelmora";
        workDir = tree.dir("work");
        ASSERT_EQ(::chdir(workDir.c_str()), 0);
        list::ListFileName.clear();
        list::ListModified = true;
    }

    void TearDown() override {
        form.reset();
        if (!m_savedCwd.empty()) static_cast<void>(::chdir(m_savedCwd.c_str()));
    }

    // Creates the window (running FormCreate), shows it and makes it the active window.
    ui::TForm1& createForm(std::vector<std::string> arguments = {}) {
        form = std::make_unique<ui::TForm1>(services, std::move(arguments));
        form->show();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
        return *form;
    }

    TempTree tree;
    ScriptedDialogs dialogs;
    RecordingHelpViewer help;
    FakeVolumes volumes;
    FixedLocale locale{','};
    ui::Services services{.dialogs = &dialogs,
                          .volumes = &volumes,
                          .help = &help,
                          .locale = &locale,
                          .printer = &output::systemPrintBackend()};
    std::string programDir;
    std::string workDir;
    std::unique_ptr<ui::TForm1> form;

  private:
    std::string m_savedCwd;
};

}  // namespace pelmora::test
