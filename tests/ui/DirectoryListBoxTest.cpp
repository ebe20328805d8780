// The directory list: its items, what opens a directory and what does not, failures, labels.
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QLabel>
#include <fstream>

#include "NavFixture.h"
#include "platform/ioerror.h"
#include "platform/paths.h"

using pelmora::ui::NavPicture;
using pelmora::ui::TDirectoryListBox;

namespace pelmora::platform {
// Tests always install their own dialogs; this only keeps the program linkable on its own.
[[gnu::weak]] Dialogs& qtDialogs() {
    static navtest::RecordingDialogs unused;
    ADD_FAILURE() << "the real dialogs were asked for";
    return unused;
}
}  // namespace pelmora::platform

namespace navtest {
namespace {

class DirectoryListTest : public NavTest {
  protected:
    // Shows the list so that its rows have their places on the screen.
    static void show(TDirectoryListBox& list) {
        list.resize(268, 400);
        list.show();
        QApplication::processEvents();
    }
};

std::vector<std::string> componentsOf(const std::string& path) {
    std::vector<std::string> out;
    for (const auto& part : fs::path(path))
        if (part != "/") out.push_back(part.string());
    return out;
}

TEST_F(DirectoryListTest, ThreeLevelsDownListsPathThenSortedSubdirectories) {
    const std::string dir = mkdirs("ALPHA/BETA/GAMMA");
    mkdirs("ALPHA/BETA/GAMMA/beta");
    mkdirs("ALPHA/BETA/GAMMA/Alpha");
    mkdirs("ALPHA/BETA/GAMMA/GAMMA");
    enter(dir);
    TDirectoryListBox list(services);

    const std::vector<std::string> names = componentsOf(dir);
    ASSERT_EQ(list.count(), static_cast<int>(names.size()) + 1 + 3);
    EXPECT_EQ(list.item(0)->text(), "/");
    EXPECT_EQ(indentOf(list, 0), 2);
    EXPECT_EQ(pictureOf(list, 0), NavPicture::OpenFolder);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(list.item(row)->text().toStdString(), names[i]);
        EXPECT_EQ(indentOf(list, row), 4 * row + 2) << names[i];
        EXPECT_EQ(pictureOf(list, row),
                  i + 1 == names.size() ? NavPicture::CurrentFolder : NavPicture::OpenFolder);
    }
    // The last three path items, as a user sees them.
    const int gamma = static_cast<int>(names.size());
    EXPECT_EQ(list.item(gamma - 2)->text(), "ALPHA");
    EXPECT_EQ(list.item(gamma - 1)->text(), "BETA");
    EXPECT_EQ(list.item(gamma)->text(), "GAMMA");
    EXPECT_EQ(list.currentRow(), gamma);

    // Subdirectories one step (4 pixels) right of the current directory.
    const std::vector<std::string> subs = {"Alpha", "beta", "GAMMA"};
    for (int k = 0; k < 3; ++k) {
        const int row = gamma + 1 + k;
        EXPECT_EQ(list.item(row)->text().toStdString(), subs[k]);
        EXPECT_EQ(indentOf(list, row), indentOf(list, gamma) + 4);
        EXPECT_EQ(pictureOf(list, row), NavPicture::ClosedFolder);
    }
    EXPECT_EQ(list.directory(), dir);
}

TEST_F(DirectoryListTest, RootIsTheOnlyPathItemAndSubdirectoriesStandAtTen) {
    enter("/");
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);

    ASSERT_GE(list.count(), 2);  // "/" always has tmp at least
    EXPECT_EQ(list.item(0)->text(), "/");
    EXPECT_EQ(pictureOf(list, 0), NavPicture::CurrentFolder);
    EXPECT_EQ(list.currentRow(), 0);
    const auto all = texts(list);
    EXPECT_NE(std::find(all.begin(), all.end(), "tmp"), all.end());
    for (int row = 1; row < list.count(); ++row) {
        EXPECT_EQ(indentOf(list, row), 10);
        EXPECT_EQ(pictureOf(list, row), NavPicture::ClosedFolder);
        EXPECT_NE(list.item(row)->text().front(), '.');
    }
    EXPECT_EQ(label.text(), "/");
}

TEST_F(DirectoryListTest, OnlyVisibleRealDirectoriesAreListed) {
    mkdirs("shown");
    mkdirs(".hidden");
    mkdirs(".hidden/inner");
    std::ofstream(root + "/afile") << "x";
    std::ofstream(root + "/.dotfile") << "x";
    fs::create_directory_symlink(root + "/shown", root + "/linked");
    ASSERT_EQ(mkfifo((root + "/pipe").c_str(), 0600), 0);
    enter(root);
    TDirectoryListBox list(services);

    const auto all = texts(list);
    const std::vector<std::string> subs(all.begin() + list.currentRow() + 1, all.end());
    EXPECT_EQ(subs, std::vector<std::string>{"shown"});
}

TEST_F(DirectoryListTest, UnreadableDirectoryShowsOnlyItsPath) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
    const std::string dir = mkdirs("locked");
    mkdirs("locked/inner");
    enter(dir);
    ASSERT_EQ(chmod(dir.c_str(), 0100), 0);
    TDirectoryListBox list(services);
    EXPECT_EQ(list.currentRow(), list.count() - 1);
    EXPECT_EQ(list.item(list.count() - 1)->text(), "locked");
    chmod(dir.c_str(), 0700);
}

TEST_F(DirectoryListTest, DoubleClickOnSubdirectoryEntersIt) {
    mkdirs("one/two");
    enter(root);
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);
    show(list);
    SignalCounter spy(&list, &TDirectoryListBox::changed);

    const int row = list.currentRow() + 1;
    ASSERT_EQ(list.item(row)->text(), "one");
    doubleClickRow(list, row);

    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(list.directory(), root + "/one");
    EXPECT_EQ(pelmora::platform::currentDirectory(), root + "/one");
    EXPECT_EQ(list.item(list.currentRow())->text(), "one");
    EXPECT_EQ(pictureOf(list, list.currentRow()), NavPicture::CurrentFolder);
    EXPECT_EQ(list.item(list.count() - 1)->text(), "two");
    EXPECT_TRUE(label.text().endsWith("/one"));
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(DirectoryListTest, ListAndLabelAlreadyShowTheNewDirectoryWhenChangedFires) {
    mkdirs("inner");
    enter(root);
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);
    show(list);
    std::vector<std::string> seen;
    QObject::connect(&list, &TDirectoryListBox::changed, [&] {
        seen.push_back(list.directory() + "|" + label.text().toStdString() + "|" +
                       list.item(list.currentRow())->text().toStdString());
    });
    doubleClickRow(list, list.currentRow() + 1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].substr(0, seen[0].find('|')), root + "/inner");
    EXPECT_TRUE(seen[0].ends_with("inner|inner")) << seen[0];
}

TEST_F(DirectoryListTest, NamesThatAreNotUtf8OpenByTheirOwnBytes) {
    const std::string odd = root + "/caf\xe9";
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    enter(root);
    TDirectoryListBox list(services);
    show(list);
    ASSERT_EQ(list.count(), list.currentRow() + 2);
    doubleClickRow(list, list.count() - 1);
    EXPECT_EQ(list.directory(), odd);
    EXPECT_EQ(pelmora::platform::currentDirectory(), odd);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(DirectoryListTest, EnterOpensTheHighlightedPathItem) {
    const std::string dir = mkdirs("a/b/c");
    enter(dir);
    TDirectoryListBox list(services);
    show(list);
    SignalCounter spy(&list, &TDirectoryListBox::changed);

    // Arrows only move the highlight.
    pressKey(&list, Qt::Key_Up);
    pressKey(&list, Qt::Key_Up);
    EXPECT_EQ(list.item(list.currentRow())->text(), "a");
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(list.directory(), dir);

    pressKey(&list, Qt::Key_Return);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(list.directory(), root + "/a");
    EXPECT_EQ(pelmora::platform::currentDirectory(), root + "/a");
    EXPECT_EQ(list.item(list.count() - 1)->text(), "b");

    // The root item opens "/".
    list.setCurrentRow(0);
    pressKey(&list, Qt::Key_Enter);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(list.directory(), "/");
    EXPECT_EQ(pelmora::platform::currentDirectory(), "/");
}

TEST_F(DirectoryListTest, SingleClickOnlyHighlights) {
    mkdirs("sub");
    enter(root);
    TDirectoryListBox list(services);
    show(list);
    SignalCounter spy(&list, &TDirectoryListBox::changed);
    const int row = list.currentRow() + 1;
    clickRow(list, row);
    EXPECT_EQ(list.currentRow(), row);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(list.directory(), root);
    EXPECT_EQ(pelmora::platform::currentDirectory(), root);
}

TEST_F(DirectoryListTest, OpeningTheCurrentDirectoryDoesNothing) {
    mkdirs("sub");
    enter(root);
    TDirectoryListBox list(services);
    show(list);
    SignalCounter spy(&list, &TDirectoryListBox::changed);
    const auto before = texts(list);

    doubleClickRow(list, list.currentRow());
    pressKey(&list, Qt::Key_Return);
    list.setDirectory(root);

    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(texts(list), before);
    EXPECT_EQ(list.directory(), root);
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(DirectoryListTest, VanishedDirectoryShowsErrorAndChangesNothing) {
    const std::string gone = mkdirs("gone");
    mkdirs("stays");
    enter(root);
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);
    show(list);
    SignalCounter spy(&list, &TDirectoryListBox::changed);
    const auto before = texts(list);
    const QString labelBefore = label.text();

    const int row = list.currentRow() + 1;
    ASSERT_EQ(list.item(row)->text(), "gone");
    fs::remove(gone);
    doubleClickRow(list, row);

    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"File not found"});
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(list.directory(), root);
    EXPECT_EQ(pelmora::platform::currentDirectory(), root);
    EXPECT_EQ(texts(list), before);
    EXPECT_EQ(label.text(), labelBefore);
}

TEST_F(DirectoryListTest, SetDirectoryRaisesTheErrorOfTheFailedEntry) {
    std::ofstream(root + "/plain") << "x";
    mkdirs("sub");
    enter(root);
    TDirectoryListBox list(services);
    SignalCounter spy(&list, &TDirectoryListBox::changed);
    const auto before = texts(list);

    try {
        list.setDirectory(root + "/missing");
        ADD_FAILURE() << "no error raised";
    } catch (const pelmora::platform::InOutError& e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        list.setDirectory(root + "/plain");
        ADD_FAILURE() << "no error raised";
    } catch (const pelmora::platform::InOutError& e) {
        EXPECT_EQ(e.code(), 3);
    }
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(list.directory(), root);
    EXPECT_EQ(pelmora::platform::currentDirectory(), root);
    EXPECT_EQ(texts(list), before);
}

TEST_F(DirectoryListTest, DeniedDirectoryShowsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root enters every directory";
    const std::string denied = mkdirs("denied");
    ASSERT_EQ(chmod(denied.c_str(), 0600), 0);
    enter(root);
    TDirectoryListBox list(services);
    list.resize(268, 400);
    list.show();
    QApplication::processEvents();
    doubleClickRow(list, list.currentRow() + 1);
    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"File access denied"});
    EXPECT_EQ(list.directory(), root);
    chmod(denied.c_str(), 0700);
}

TEST_F(DirectoryListTest, CaselessVolumeShowsNamesInLowerCaseButLabelAsReported) {
    FakeVolumes volumes;
    volumes.flags = 0;
    services.volumes = &volumes;
    const std::string dir = mkdirs("MixedCase");
    mkdirs("MixedCase/SubDir");
    enter(dir);
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);

    EXPECT_TRUE(list.showsLowerCase());
    EXPECT_EQ(list.item(list.currentRow())->text(), "mixedcase");
    EXPECT_EQ(list.item(list.count() - 1)->text(), "subdir");
    EXPECT_TRUE(label.text().endsWith("/MixedCase"));
    // Texts are compared ignoring case here: the same directory in other letters is current.
    SignalCounter spy(&list, &TDirectoryListBox::changed);
    std::string other = dir;
    other.replace(other.size() - 9, 9, "MIXEDCASE");
    list.setDirectory(other);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(list.directory(), dir);
    // The item still opens the directory by its stored name.
    show(list);
    doubleClickRow(list, list.count() - 1);
    EXPECT_EQ(list.directory(), dir + "/SubDir");
}

TEST_F(DirectoryListTest, CasePreservingVolumeKeepsNames) {
    FakeVolumes volumes;
    volumes.flags = pelmora::platform::kFsCasePreserving;
    services.volumes = &volumes;
    const std::string dir = mkdirs("MixedCase");
    enter(dir);
    TDirectoryListBox list(services);
    EXPECT_FALSE(list.showsLowerCase());
    EXPECT_EQ(list.item(list.currentRow())->text(), "MixedCase");
}

TEST_F(DirectoryListTest, LabelIsShortenedToItsWidthAndEndsWithTheLastName) {
    const std::string deep = mkdirs(
        "a-rather-long-directory-name/another-rather-long-directory-name/"
        "yet-another-long-name/final");
    enter(deep);
    TDirectoryListBox list(services);
    QLabel label;
    label.setFont(labelFont());
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);

    const QString text = label.text();
    EXPECT_TRUE(text.endsWith("/final")) << text.toStdString();
    EXPECT_TRUE(text.startsWith("/.../")) << text.toStdString();
    EXPECT_LE(QFontMetrics(labelFont()).horizontalAdvance(text), 249);
    EXPECT_EQ(list.directory(), deep);  // the path itself is never shortened

    // A wider label shows more of the path.
    label.show();
    label.setFixedSize(2000, 17);
    QApplication::processEvents();
    EXPECT_EQ(label.text().toStdString(), deep);
}

TEST_F(DirectoryListTest, RowsDrawPictureAtIndentAndAreAtLeastSixteenHigh) {
    mkdirs("x/sub");
    enter(root + "/x");
    TDirectoryListBox list(services);
    show(list);
    const QImage image = list.viewport()->grab().toImage();
    const QColor base = list.palette().color(QPalette::Base);
    for (int row : {0, list.currentRow(), list.count() - 1}) {
        if (row == list.currentRow()) continue;  // highlighted: another background
        const QRect r = list.visualItemRect(list.item(row));
        EXPECT_GE(r.height(), 16);
        int first = -1;
        for (int x = 0; x < image.width() && first < 0; ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                if (image.pixelColor(x, y) != base) {
                    first = x;
                    break;
                }
        EXPECT_EQ(first, indentOf(list, row)) << "row " << row;
    }
}

}  // namespace
}  // namespace navtest
