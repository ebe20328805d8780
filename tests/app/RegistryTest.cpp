// The program's entries in the machine-wide store, under a temporary root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "app/Registry.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "tests/support/TempTree.h"

namespace pelmora::test {
namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { root = tree.dir("root"); }
    // Writes the entries of `program` into the store below `at` (the test's root unless given).
    bool record(const std::string& at = {}) {
        app::FileRegistry registry(at.empty() ? root : at);
        return registry.WriteRegistryEntries(program, "Quillon", "Pelmora", "2.0");
    }
    // The program whose entries are written.
    std::string program = "/opt/pelmora/bin/pelmora";
    std::string root;
    std::string keyFile() const { return tree.path("root/etc/xdg/Quillon/Pelmora.conf"); }
    std::string desktopFile() const {
        return tree.path("root/usr/local/share/applications/pelmora.desktop");
    }
    static bool fileExists(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    TempTree tree;
};

TEST_F(Registry, RecordsTheVersionAndTheApplicationPath) {
    EXPECT_TRUE(record());
    EXPECT_EQ(readFile(keyFile()), "[2.0]\n");
    EXPECT_EQ(readFile(desktopFile()),
              "[Desktop Entry]\nType=Application\nName=Pelmora\n"
              "Exec=/opt/pelmora/bin/pelmora\nPath=/opt/pelmora/bin/\n");
}

TEST_F(Registry, ASecondStartRewritesThePathOfTheMovedProgram) {
    ASSERT_TRUE(record());
    program = "/usr/bin/pelmora";
    EXPECT_TRUE(record());
    EXPECT_EQ(readFile(keyFile()), "[2.0]\n");  // the group is not added twice
    const std::string entry = readFile(desktopFile());
    EXPECT_NE(entry.find("\nExec=/usr/bin/pelmora\nPath=/usr/bin/\n"), std::string::npos);
    EXPECT_EQ(entry.find("/opt/"), std::string::npos);
}

TEST_F(Registry, OtherVersionsInTheKeyFileStay) {
    tree.dir("root/etc/xdg/Quillon");
    tree.write("root/etc/xdg/Quillon/Pelmora.conf", "[1.0]\nkeep=yes");
    EXPECT_TRUE(record());
    EXPECT_EQ(readFile(keyFile()), "[1.0]\nkeep=yes\n[2.0]\n");
}

TEST_F(Registry, AnUnwritableRootFailsSilently) {
    const std::string blocked = tree.write("plainfile", "x");
    bool result = true;
    EXPECT_NO_THROW(result = record(blocked));
    EXPECT_FALSE(result);
    EXPECT_EQ(readFile(blocked), "x");
}

TEST_F(Registry, ABlockedMakerKeyStillWritesTheApplicationPath) {
    tree.dir("root/etc/xdg");
    tree.write("root/etc/xdg/Quillon", "not a folder");
    EXPECT_FALSE(record());
    EXPECT_NE(readFile(desktopFile()).find("Exec=/opt/pelmora/bin/pelmora"), std::string::npos);
}

TEST_F(Registry, AKeyThatCannotBeCreatedRaisesItsError) {
    tree.dir("root/etc/xdg/Quillon/Pelmora.conf");
    try {
        record();
        ADD_FAILURE() << "no error raised";
    } catch (const platform::PelmoraError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to create key " + keyFile());
    }
    tree.dir("root/usr/local/share/applications/pelmora.desktop");
    std::remove(keyFile().c_str());
    ::rmdir(keyFile().c_str());
    try {
        record();
        ADD_FAILURE() << "no error raised";
    } catch (const platform::PelmoraError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to create key " + desktopFile());
    }
}

TEST_F(Registry, TheSystemRootComesFromTheEnvironment) {
    ::setenv("PELMORA_SYSTEM_ROOT", tree.path("envroot").c_str(), 1);
    EXPECT_EQ(app::systemRoot(), tree.path("envroot") + "/");
    ::unsetenv("PELMORA_SYSTEM_ROOT");
    EXPECT_EQ(app::systemRoot(), "/");
}

TEST_F(Registry, ProgramPathsWithSpecialCharactersStayOneCommand) {
    EXPECT_EQ(app::desktopEntryText("/opt/my tools/pel%mora", "/opt/my tools/"),
              "[Desktop Entry]\nType=Application\nName=Pelmora\n"
              "Exec=\"/opt/my tools/pel%%mora\"\nPath=/opt/my tools/\n");
    EXPECT_EQ(app::desktopEntryText("/a\\b/$x", "/a\\b/"),
              "[Desktop Entry]\nType=Application\nName=Pelmora\n"
              "Exec=\"/a\\\\\\\\b/\\\\$x\"\nPath=/a\\\\b/\n");
}

// Sets an environment variable for one scope, and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Whether the program at `program` (below the root) gets its desktop entry, with the folders
// and files that `prepare` lays out below the root first.
struct PlaceCase {
    const char* what;
    std::string program;
    std::vector<std::pair<std::string, std::string>> files;  // path -> content
    bool written;
};

TEST_F(Registry, TheEntryIsWrittenOnlyForAProgramThatStays) {
    const std::vector<PlaceCase> cases = {
        {"a lasting folder", "opt/pelmora/pelmora", {}, true},
        {"a folder whose name only begins like tmp", "tmpfiles/pelmora", {}, true},
        {"the temporary folder", "tmp/build/pelmora", {}, false},
        {"var/tmp", "var/tmp/x/pelmora", {}, false},
        {"TMPDIR", "scratch/me/pelmora", {}, false},
        {"a build tree",
         "src/pelmora/build/bin/pelmora",
         {{"src/pelmora/build/CMakeCache.txt", ""}},
         false},
    };
    const ScopedEnv tmpdir("TMPDIR", "/scratch/");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const PlaceCase& c = cases[i];
        const std::string caseRoot = tree.dir("case" + std::to_string(i));
        for (const auto& [path, content] : c.files) {
            tree.dir("case" + std::to_string(i) + "/" + std::string(platform::directoryPart(path)));
            tree.write("case" + std::to_string(i) + "/" + path, content);
        }
        program = caseRoot + "/" + c.program;
        EXPECT_TRUE(record(caseRoot)) << c.what;
        EXPECT_EQ(fileExists(caseRoot + "/usr/local/share/applications/pelmora.desktop"), c.written)
            << c.what;
        EXPECT_EQ(readFile(caseRoot + "/etc/xdg/Quillon/Pelmora.conf"), "[2.0]\n") << c.what;
    }
}

// An installed program: the real file in usr/lib/pelmora, a link in usr/bin.
class InstalledRegistry : public Registry {
  protected:
    void SetUp() override {
        Registry::SetUp();
        tree.dir("root/usr/lib/pelmora");
        program = tree.write("root/usr/lib/pelmora/pelmora", "#!/bin/sh\n");
        ::chmod(program.c_str(), 0755);
        tree.dir("root/usr/bin");
        tree.symlink("root/usr/bin/pelmora", "../lib/pelmora/pelmora");
    }
    void installEntry(const std::string& dir, const std::string& exec) {
        tree.dir("root/" + dir);
        tree.write(
            "root/" + dir + "/pelmora.desktop",
            "[Desktop Entry]\nType=Application\nName=Pelmora\nExec=" + exec + "\nIcon=pelmora\n");
    }
};

TEST_F(InstalledRegistry, AnInstalledEntryThatStartsTheProgramKeepsItsEntryUnwritten) {
    struct Case {
        const char* what;
        std::string dir, exec, path;
        bool written;
    };
    const std::vector<Case> cases = {
        {"by name", "usr/share/applications", "pelmora", "/usr/local/bin:/usr/bin", false},
        {"by the link's path", "usr/share/applications", "/usr/bin/pelmora %U", "/bin", false},
        {"by its quoted path", "opt/share/applications", "\"/usr/lib/pelmora/pelmora\"", "/bin",
         false},
        {"a name PATH leads elsewhere", "usr/share/applications", "pelmora", "/usr/games:/usr/bin",
         true},
        {"another program", "usr/share/applications", "/usr/bin/pelmora-cli", "/usr/bin", true},
    };
    tree.dir("root/usr/games");
    tree.write("root/usr/games/pelmora", "another");
    ::chmod(tree.path("root/usr/games/pelmora").c_str(), 0755);
    const ScopedEnv dataDirs("XDG_DATA_DIRS", "/opt/share/:/usr/share");
    for (const Case& c : cases) {
        const ScopedEnv path("PATH", c.path);
        installEntry(c.dir, c.exec);
        EXPECT_TRUE(record()) << c.what;
        EXPECT_EQ(fileExists(desktopFile()), c.written) << c.what;
        std::remove(tree.path("root/" + c.dir + "/pelmora.desktop").c_str());
        std::remove(desktopFile().c_str());
    }
}

TEST_F(InstalledRegistry, AnEntryTheProgramDidNotWriteIsNeverTouched) {
    installEntry("usr/local/share/applications", "/opt/elsewhere/pelmora");
    const std::string before = readFile(desktopFile());
    EXPECT_TRUE(record());
    EXPECT_EQ(readFile(desktopFile()), before);
}

TEST_F(InstalledRegistry, AnEntryWrittenEarlierGoesWhenItWouldNotBeWrittenNow) {
    installEntry("usr/share/applications", "pelmora");
    tree.dir("other");
    const std::string other = tree.write("other/pelmora", "");
    const std::string stays = app::desktopEntryText(other, tree.path("other/"));
    tree.dir("root/tmp/old");
    const std::string passing = tree.write("root/tmp/old/pelmora", "");
    const std::vector<std::pair<std::string, bool>> cases = {
        {app::desktopEntryText("/gone/pelmora", "/gone/"), false},
        {app::desktopEntryText(program, "/usr/lib/pelmora/"), false},
        {app::desktopEntryText(passing, tree.path("root/tmp/old/")), false},
        {stays, true},
    };
    const ScopedEnv path("PATH", "/usr/bin");
    for (const auto& [entry, kept] : cases) {
        tree.dir("root/usr/local/share/applications");
        tree.write("root/usr/local/share/applications/pelmora.desktop", entry);
        EXPECT_TRUE(record()) << entry;
        EXPECT_EQ(readFile(desktopFile()), kept ? entry : "") << entry;
    }
}

TEST_F(Registry, AnEntryForAPathWithSpecialCharactersIsRewrittenWhenTheProgramMoves) {
    program = "/opt/a \"b\" \\c$d%e\tf/pelmora";
    ASSERT_TRUE(record());
    program = "/opt/moved/pelmora";
    EXPECT_TRUE(record());
    EXPECT_EQ(readFile(desktopFile()), app::desktopEntryText("/opt/moved/pelmora", "/opt/moved/"));
}

}  // namespace
}  // namespace pelmora::test
