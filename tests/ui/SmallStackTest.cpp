// A stack of 64 KiB (ulimit -s 64): every pelmora-cli subcommand that needs no fonts, counting
// threads included (they take the limit as their stack size), and what the window's list and
// export commands take of the stack.
#include <QAction>
#include <QApplication>
#include <QProgressBar>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/Child.h"
#include "tests/support/TempTree.h"
#include "tests/ui/ShellFixture.h"

using namespace pelmora;

namespace {

constexpr rlim_t kKiB = 1024;

std::function<bool()> stackOf(rlim_t bytes) {
    return [bytes] {
        const rlimit limit{bytes, bytes};
        return ::setrlimit(RLIMIT_STACK, &limit) == 0;
    };
}

TEST(SmallStack, EveryCliSubcommandRunsIn64KiB) {
    test::TempTree t;
    t.dir("tree/a/b");
    t.file("tree/a/f", 100);
    std::string deep = "deep";
    for (int i = 0; i < 500; ++i) deep += "/d";
    t.dir(deep);
    const std::string list = t.write("L.PML", t.path("tree") + "\r\n" + t.path("deep") + "\r\n");
    const std::vector<std::vector<std::string>> commands = {
        {"count", "--jobs", "1", t.path("tree"), t.path("deep")},
        {"count", "--jobs", "4", t.path("tree"), t.path("deep")},
        {"export", "--jobs", "1", list},
        {"export", "--jobs", "4", list},
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(args[0] + " " + args[2]);
        const test::CliRun r = test::runCli(args, t.root(), stackOf(64 * kKiB));
        EXPECT_EQ(r.status, 0) << r.err;
    }
}

// The window cannot start with a stack of 64 KiB on this platform: the system's font libraries
// (fontconfig's parser, FreeType's glyph loader) need more than that of their own. What the
// window adds is measured instead: the stack below a command, painted with a pattern
// beforehand, shows how deep the command went. The window is not shown, so no painting (and no
// font library) takes part: what is measured is the list and export code.
constexpr unsigned char kPaint = 0xA5;
constexpr std::size_t kPainted = 1024 * 1024;

// Fills the kPainted bytes below the caller's frame with the pattern.
__attribute__((noinline, no_sanitize_address)) void paintStackBelow() {
    volatile unsigned char* p = static_cast<unsigned char*>(__builtin_alloca(kPainted));
    for (std::size_t i = 0; i < kPainted; ++i) p[i] = kPaint;
}

// How many of the painted bytes, counted from the top, something has overwritten since.
__attribute__((noinline, no_sanitize_address)) std::size_t stackUsedBelow(const char* top) {
    const volatile unsigned char* low = reinterpret_cast<const unsigned char*>(top) - kPainted;
    std::size_t untouched = 0;
    while (untouched < kPainted && low[untouched] == kPaint) ++untouched;
    return kPainted - untouched;
}

class SmallStackWindow : public test::ShellTest {};

TEST_F(SmallStackWindow, ListAndExportCommandsUseLittleStack) {
    createForm();
    form->hide();
    QApplication::processEvents();
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += tree.dir("d/" + std::to_string(i)) + "\r\n";
    const std::string list = tree.write("W.PML", lines);
    // Well inside the 64 KiB of a small stack, also with AddressSanitizer's larger frames; the
    // deepest part is Qt laying out the file-name label's text (about 36 KiB).
    constexpr std::size_t kBudget = 48 * 1024;
    struct Command {
        const char* what;
        std::function<void()> run;
    };
    const std::vector<Command> commands = {
        {"Open",
         [&] {
             dialogs.answerFile(list);
             form->Open1->trigger();
         }},
        {"Create Data File", [&] { form->CreateDataFile->trigger(); }},
        {"Save", [&] { form->Save1->trigger(); }},
        {"Save As",
         [&] {
             dialogs.answerFile(tree.path("S.PML"));
             form->SaveAs1->trigger();
         }},
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.what);
        const char top = 0;
        paintStackBelow();
        c.run();
        const std::size_t used = stackUsedBelow(&top);
        EXPECT_LT(used, kBudget);
        std::printf("%s: %zu bytes of stack\n", c.what, used);
    }
    EXPECT_TRUE(dialogs.errors().empty());
    EXPECT_EQ(form->watchedList().count(), 200);
    EXPECT_EQ(test::readFile(tree.path("S.PML")), test::readFile(list));
}

}  // namespace
