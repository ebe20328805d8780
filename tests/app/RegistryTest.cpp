// The program's entries in the machine-wide store, under a temporary root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "app/Registry.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "tests/support/TempTree.h"

namespace pelmora::test {
namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        app::setSystemRoot(tree.dir("root"));
        platform::setProgramPath("/opt/pelmora/bin/pelmora");
    }
    void TearDown() override {
        app::setSystemRoot("");
        platform::setProgramPath("");
    }
    std::string keyFile() const { return tree.path("root/etc/xdg/Quillon/Pelmora.conf"); }
    std::string desktopFile() const {
        return tree.path("root/usr/local/share/applications/pelmora.desktop");
    }
    TempTree tree;
};

TEST_F(Registry, RecordsTheVersionAndTheApplicationPath) {
    EXPECT_TRUE(app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    EXPECT_EQ(readFile(keyFile()), "[2.0]\n");
    EXPECT_EQ(readFile(desktopFile()),
              "[Desktop Entry]\nType=Application\nName=Pelmora\n"
              "Exec=/opt/pelmora/bin/pelmora\nPath=/opt/pelmora/bin/\n");
}

TEST_F(Registry, ASecondStartRewritesThePathOfTheMovedProgram) {
    ASSERT_TRUE(app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    platform::setProgramPath("/usr/bin/pelmora");
    EXPECT_TRUE(app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    EXPECT_EQ(readFile(keyFile()), "[2.0]\n");  // the group is not added twice
    const std::string entry = readFile(desktopFile());
    EXPECT_NE(entry.find("\nExec=/usr/bin/pelmora\nPath=/usr/bin/\n"), std::string::npos);
    EXPECT_EQ(entry.find("/opt/"), std::string::npos);
}

TEST_F(Registry, OtherVersionsInTheKeyFileStay) {
    tree.dir("root/etc/xdg/Quillon");
    tree.write("root/etc/xdg/Quillon/Pelmora.conf", "[1.0]\nkeep=yes");
    EXPECT_TRUE(app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    EXPECT_EQ(readFile(keyFile()), "[1.0]\nkeep=yes\n[2.0]\n");
}

TEST_F(Registry, AnUnwritableRootFailsSilently) {
    const std::string blocked = tree.write("plainfile", "x");
    app::setSystemRoot(blocked);
    bool result = true;
    EXPECT_NO_THROW(result = app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    EXPECT_FALSE(result);
    EXPECT_EQ(readFile(blocked), "x");
}

TEST_F(Registry, ABlockedMakerKeyStillWritesTheApplicationPath) {
    tree.dir("root/etc/xdg");
    tree.write("root/etc/xdg/Quillon", "not a folder");
    EXPECT_FALSE(app::WriteRegistryEntries("Quillon", "Pelmora", "2.0"));
    EXPECT_NE(readFile(desktopFile()).find("Exec=/opt/pelmora/bin/pelmora"), std::string::npos);
}

TEST_F(Registry, AKeyThatCannotBeCreatedRaisesItsError) {
    tree.dir("root/etc/xdg/Quillon/Pelmora.conf");
    try {
        app::WriteRegistryEntries("Quillon", "Pelmora", "2.0");
        ADD_FAILURE() << "no error raised";
    } catch (const platform::PelmoraError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to create key " + keyFile());
    }
    tree.dir("root/usr/local/share/applications/pelmora.desktop");
    std::remove(keyFile().c_str());
    ::rmdir(keyFile().c_str());
    try {
        app::WriteRegistryEntries("Quillon", "Pelmora", "2.0");
        ADD_FAILURE() << "no error raised";
    } catch (const platform::PelmoraError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to create key " + desktopFile());
    }
}

TEST_F(Registry, TheRootComesFromTheEnvironmentUnlessSet) {
    app::setSystemRoot("");
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

}  // namespace
}  // namespace pelmora::test
