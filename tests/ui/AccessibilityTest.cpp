// What a screen reader learns of the window through Qt's accessibility interface: every control
// says what it is for, and the figures are read with their captions.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "tests/ui/ShellFixture.h"
#include "ui/ListBox.h"
#include "ui/Navigator.h"

namespace pelmora::test {
namespace {

using Accessibility = ShellTest;

std::string nameOf(QObject* o) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
    return a != nullptr ? a->text(QAccessible::Name).toStdString() : "(none)";
}

TEST_F(Accessibility, TheListsAndTheDriveBoxAreNamedForWhatTheyHold) {
    ui::TForm1& f = createForm();
    struct Case {
        QWidget* control;
        QString name;
        QAccessible::Role role;
    } cases[] = {
        {f.DirectoryListBox1, "Directories", QAccessible::List},
        {f.ListBox1, "Watched directories", QAccessible::List},
        {f.DriveComboBox1, "Drive", QAccessible::ComboBox},
    };
    for (const Case& c : cases) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c.control);
        ASSERT_NE(a, nullptr) << c.name.toStdString();
        EXPECT_EQ(a->text(QAccessible::Name).toStdString(), c.name.toStdString());
        EXPECT_EQ(a->role(), c.role) << c.name.toStdString();
    }
    // The drive box's value is the volume it shows, and its list of volumes is its child.
    QAccessibleInterface* drive = QAccessible::queryAccessibleInterface(f.DriveComboBox1);
    ASSERT_GT(f.DriveComboBox1->count(), 0);
    EXPECT_EQ(drive->text(QAccessible::Value), f.DriveComboBox1->currentText());
    ASSERT_EQ(drive->childCount(), 1);
    EXPECT_EQ(drive->child(0)->object(), f.DriveComboBox1->view());
}

TEST_F(Accessibility, FiguresAreReadWithTheirCaptionsAndDrawnUnchanged) {
    tree.dir("work/sub");
    tree.write("work/sub/a", "1234");
    tree.write("work/b", "5");
    ui::TForm1& f = createForm();
    struct Case {
        QLabel* label;
        QString caption;
        QString counted;  // as drawn; empty: the caption and a figure
    } cases[] = {
        {f.TotDirsLabel, "Total Directories", "Total Directories 1"},
        {f.TotFilesLabel, "Total Files", "Total Files 2"},
        {f.TotSizeLabel, "Total Bytes", ""},  // holds the folder's own size
        {f.OverheadLabel, "Cluster Overhead", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nameOf(c.label), c.caption.toStdString());  // nothing counted yet
        EXPECT_EQ(c.label->text().toStdString(), "");
    }
    f.StatsButton->click();
    for (const Case& c : cases) {
        const QString drawn = c.label->text();
        if (!c.counted.isEmpty()) {
            EXPECT_EQ(drawn.toStdString(), c.counted.toStdString());
        }
        EXPECT_TRUE(drawn.startsWith(c.caption + " ") && drawn.back().isDigit())
            << drawn.toStdString();
        EXPECT_EQ(nameOf(c.label), drawn.toStdString());
    }
    f.DirectoryListBox1->setDirectory(tree.path("work/sub"));  // empties the figures
    for (const Case& c : cases) {
        EXPECT_EQ(nameOf(c.label), c.caption.toStdString());
        EXPECT_EQ(c.label->text().toStdString(), "");
    }
}

}  // namespace
}  // namespace pelmora::test
