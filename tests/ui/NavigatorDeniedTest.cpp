// The directory navigator as a user without the right to read or enter a directory. The tests
// run as root, so the user is played by a child that has given up root.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/ui/NavFixture.h"
#include "tests/support/Child.h"

using namespace navtest;
using pelmora::ui::TDirectoryListBox;

namespace {

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& t : texts) all += "[" + t + "]";
    return all;
}

using NavigatorDenied = NavTest;

TEST_F(NavigatorDenied, EnteringADeniedDirectoryShowsAccessDeniedAndStays) {
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    mkdirs("denied/inner");
    mkdirs("open");
    ASSERT_EQ(chmod((root + "/denied").c_str(), 0700), 0);
    enter(root);
    EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                  if (!pelmora::test::dropToNobody()) return "could not drop privileges";
                  TDirectoryListBox list(services);
                  list.resize(268, 400);
                  list.show();
                  QApplication::processEvents();
                  const int deniedRow = list.currentRow() + 1;
                  if (list.item(deniedRow)->text() != "denied")
                      return "row holds " + list.item(deniedRow)->text().toStdString();
                  doubleClickRow(list, deniedRow);
                  if (dialogs.errors != std::vector<std::string>{"File access denied"})
                      return "errors: " + joined(dialogs.errors);
                  if (list.directory() != root) return "moved to " + list.directory();
                  // The navigator goes on working: the open sibling can be entered.
                  doubleClickRow(list, deniedRow + 1);
                  if (list.directory() != root + "/open") return "then at " + list.directory();
                  return "";
              }));
}

TEST_F(NavigatorDenied, UnreadableCurrentDirectoryShowsOnlyItsPath) {
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    const std::string dir = mkdirs("locked");
    mkdirs("locked/inner");
    ASSERT_EQ(chmod(dir.c_str(), 0711), 0);  // may be entered, not listed
    EXPECT_EQ("", pelmora::test::inChild([&]() -> std::string {
                  if (!pelmora::test::dropToNobody()) return "could not drop privileges";
                  if (chdir(dir.c_str()) != 0) return "cannot enter";
                  TDirectoryListBox list(services);
                  if (list.currentRow() != list.count() - 1) return "inner rows listed";
                  if (list.item(list.count() - 1)->text() != "locked")
                      return "last row " + list.item(list.count() - 1)->text().toStdString();
                  if (!dialogs.errors.empty()) return "errors: " + joined(dialogs.errors);
                  return "";
              }));
}

}  // namespace
