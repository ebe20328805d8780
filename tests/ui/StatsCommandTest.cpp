// The Stats command: the figures of the current directory, the question before counting a
// volume's root, and the figures emptied when the directory changes.
#include <QLabel>
#include <QPushButton>
#include <sys/stat.h>

#include "tests/ui/ShellFixture.h"
#include "ui/Navigator.h"

namespace pelmora::test {
namespace {

using StatsCommand = ShellTest;

long long sizeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Three files of 1,234,567 bytes in all and two empty subdirectories.
std::string buildExample(const TempTree& tree, long long& dirBytes) {
    const std::string top = tree.dir("work/example");
    tree.file("work/example/one.dat", 1000000);
    tree.file("work/example/two.dat", 234000);
    tree.file("work/example/three.dat", 567);
    dirBytes = sizeOf(tree.dir("work/example/empty1")) + sizeOf(tree.dir("work/example/empty2"));
    return top;
}

TEST_F(StatsCommand, ShowsTheFourFiguresOfTheCurrentDirectory) {
    long long dirBytes = 0;
    const std::string top = buildExample(tree, dirBytes);
    volumes.cluster = 4096;
    ui::TForm1& f = createForm();
    f.DriveComboBox1Change();  // probes the (fake) volume: EntryOverhead 2048
    ASSERT_EQ(stats::EntryOverhead, 2048);
    f.DirectoryListBox1->setDirectory(top);
    f.StatsButton->click();
    EXPECT_TRUE(dialogs.calls().empty());
    EXPECT_EQ(f.TotDirsLabel->text(), "Total Directories 2");
    EXPECT_EQ(f.TotFilesLabel->text(), "Total Files 3");
    EXPECT_EQ(f.TotSizeLabel->text().toStdString(),
              "Total Bytes " + stats::FormatCount(1234567 + dirBytes, ','));
    EXPECT_EQ(f.OverheadLabel->text(), "Cluster Overhead 10,240");
    EXPECT_EQ(f.TotSizeLabel->width(), f.TotSizeLabel->sizeHint().width());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(StatsCommand, TheFiguresUseTheLocalesSeparator) {
    tree.file("work/big.dat", 1234567);
    locale.separator = '.';
    ui::TForm1& f = createForm();
    f.StatsButton->click();
    EXPECT_EQ(f.TotSizeLabel->text(), "Total Bytes 1.234.567");
}

TEST_F(StatsCommand, ACompressedVolumeShowsNoOverhead) {
    tree.file("work/a.dat", 10);
    volumes.flags |= platform::kFsCompressed;
    ui::TForm1& f = createForm();
    EXPECT_EQ(f.CompressedLabel->text(), "(Compressed)");
    f.StatsButton->click();
    EXPECT_EQ(f.OverheadLabel->text(), "Cluster Overhead 0");
}

TEST_F(StatsCommand, AVolumeRootAsksFirstAndNoLeavesTheFigures) {
    tree.file("work/a.dat", 10);
    volumes.mountPoints = {workDir};
    ui::TForm1& f = createForm();
    f.TotDirsLabel->setText("Total Directories 77");
    dialogs.answer(platform::mrNo);
    f.StatsButton->click();
    ASSERT_EQ(dialogs.calls().size(), 1u);
    const DialogCall& q = dialogs.calls()[0];
    EXPECT_EQ(q.text, "This might take some time.\r\nGet stats for entire " + workDir + " drive?");
    EXPECT_EQ(q.type, platform::MsgDlgType::Information);
    EXPECT_EQ(q.buttons, platform::mbYes | platform::mbNo);
    EXPECT_EQ(q.defaultButton, platform::mbYes);
    EXPECT_EQ(q.cancelButton, platform::mbNo);
    EXPECT_EQ(f.TotDirsLabel->text(), "Total Directories 77");
    EXPECT_TRUE(f.TotFilesLabel->text().isEmpty());
}

TEST_F(StatsCommand, TheQuestionNamesALongMountPointWhole) {
    const std::string mountPoint =
        tree.dir("work/srv/exports/department-archives/2026-projects-and-quarterly-reviews");
    volumes.mountPoints = {mountPoint};
    ui::TForm1& f = createForm();
    f.DirectoryListBox1->setDirectory(mountPoint);
    ASSERT_TRUE(f.DirectoryLabel->text().contains(".../")) << "the label shortens it";
    dialogs.answer(platform::mrNo);
    f.StatsButton->click();
    ASSERT_EQ(dialogs.calls().size(), 1u);
    EXPECT_EQ(dialogs.calls()[0].text,
              "This might take some time.\r\nGet stats for entire " + mountPoint + " drive?");
}

TEST_F(StatsCommand, AVolumeRootIsCountedOnYesAndOnTheCloseBox) {
    tree.file("work/a.dat", 10);
    tree.file("work/b.dat", 10);
    volumes.mountPoints = {workDir};
    ui::TForm1& f = createForm();
    for (int answer : {int(platform::mrYes), int(platform::mrCancel)}) {
        f.DirectoryListBox1Change();
        dialogs.answer(answer);
        f.StatsButton->click();
        EXPECT_EQ(f.TotFilesLabel->text(), "Total Files 2") << answer;
    }
    EXPECT_EQ(dialogs.calls().size(), 2u);
}

TEST_F(StatsCommand, ADirectoryBelowTheRootIsCountedWithoutAQuestion) {
    volumes.mountPoints = {workDir};
    const std::string sub = tree.dir("work/sub");
    tree.file("work/sub/x", 1);
    ui::TForm1& f = createForm();
    f.DirectoryListBox1->setDirectory(sub);
    f.StatsButton->click();
    EXPECT_TRUE(dialogs.calls().empty());
    EXPECT_EQ(f.TotFilesLabel->text(), "Total Files 1");
}

TEST_F(StatsCommand, ChangingDirectoryEmptiesOnlyTheFigures) {
    volumes.flags |= platform::kFsCompressed;
    const std::string other = tree.dir("work/other");
    ui::TForm1& f = createForm();
    f.StatsButton->click();
    ASSERT_FALSE(f.TotDirsLabel->text().isEmpty());
    f.DirectoryListBox1->setDirectory(other);
    for (const QLabel* l : {f.TotDirsLabel, f.TotFilesLabel, f.TotSizeLabel, f.OverheadLabel})
        EXPECT_TRUE(l->text().isEmpty()) << l->objectName().toStdString();
    EXPECT_EQ(f.CurrentDirectory->text(), "Current Directory");
    EXPECT_EQ(f.CompressedLabel->text(), "(Compressed)");
    EXPECT_FALSE(f.DirectoryLabel->text().isEmpty());
}

}  // namespace
}  // namespace pelmora::test
