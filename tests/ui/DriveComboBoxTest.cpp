// The drive box over scripted volumes whose mount points are temporary directories.
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "NavFixture.h"
#include "platform/paths.h"

using pelmora::platform::DriveKind;
using pelmora::ui::NavPicture;
using pelmora::ui::TDirectoryListBox;
using pelmora::ui::TDriveComboBox;

namespace navtest {
namespace {

class DriveBoxTest : public NavTest {
  protected:
    void SetUp() override {
        NavTest::SetUp();
        volA = mkdirs("volA");
        mkdirs("volA/work");
        volB = mkdirs("volB");
        mkdirs("volB/inside");
        volumes.add("/", DriveKind::Fixed, "system");
        volumes.add(volA, DriveKind::Fixed, "DATA");
        volumes.add(volB, DriveKind::Remote, "", "server:/export");
        volumes.add(root + "/floppy", DriveKind::Removable, "never shown");
        volumes.add(root + "/ram", DriveKind::Fixed, "covered by the next mount");
        volumes.add(root + "/ram", DriveKind::Ram);
        volumes.add(root + "/disc", DriveKind::CdRom, "Disc & Co");
        services.volumes = &volumes;
    }

    // Records the list's and the box's change events in the order they come.
    void watch(TDirectoryListBox& list, TDriveComboBox& box) {
        QObject::connect(&list, &TDirectoryListBox::changed, &list,
                         [this, &list] { events.push_back("list " + list.directory()); });
        QObject::connect(&box, &TDriveComboBox::changed, &box,
                         [this, &box] { events.push_back("box " + box.drive()); });
    }

    int indexOf(const TDriveComboBox& box, const std::string& mountPoint) {
        return box.findData(QByteArray::fromStdString(mountPoint), TDriveComboBox::MountPointRole);
    }

    FakeVolumes volumes;
    std::string volA, volB;
    std::vector<std::string> events;
};

TEST_F(DriveBoxTest, ListsEveryVisibleVolumeWithItsNameAndPicture) {
    enter(volA);
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    box.setDirList(&list);

    ASSERT_EQ(box.count(), 6);
    const std::vector<std::pair<std::string, NavPicture>> expected = {
        {"/ [system]", NavPicture::Hard},
        {volA + " [DATA]", NavPicture::Hard},
        {volB + " server:/export", NavPicture::Network},
        {root + "/floppy", NavPicture::Floppy},
        {root + "/ram []", NavPicture::Ram},
        {root + "/disc [Disc & Co]", NavPicture::CdRom},
    };
    for (int i = 0; i < box.count(); ++i) {
        EXPECT_EQ(box.itemText(i).toStdString(), expected[i].first);
        EXPECT_EQ(static_cast<NavPicture>(box.itemData(i, TDriveComboBox::PictureRole).toInt()),
                  expected[i].second);
    }
}

TEST_F(DriveBoxTest, FirstBuildSelectsTheVolumeOfTheCurrentDirectoryAndFiresOnce) {
    enter(volA + "/work");
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    watch(list, box);
    box.setDirList(&list);

    EXPECT_EQ(events, std::vector<std::string>{"box " + volA});
    EXPECT_EQ(box.currentIndex(), indexOf(box, volA));
    EXPECT_EQ(list.directory(), volA + "/work");  // the list stays where it was
}

TEST_F(DriveBoxTest, ChoosingAnotherVolumeMovesTheListThenFiresListAndBox) {
    enter(volA + "/work");
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);
    TDriveComboBox box(services);
    box.setDirList(&list);
    watch(list, box);

    // The keyboard picks the next volume in the closed box.
    box.setFocus();
    pressKey(&box, Qt::Key_Down);

    EXPECT_EQ(events, (std::vector<std::string>{"list " + volB, "box " + volB}));
    EXPECT_EQ(box.currentIndex(), indexOf(box, volB));
    EXPECT_EQ(list.directory(), volB);
    EXPECT_EQ(pelmora::platform::currentDirectory(), volB);
    EXPECT_TRUE(label.text().endsWith("/volB"));
    EXPECT_EQ(list.item(list.count() - 1)->text(), "inside");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(DriveBoxTest, ChoosingTheShownVolumeAgainDoesNothing) {
    enter(volA + "/work");
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    box.setDirList(&list);
    watch(list, box);

    emit box.activated(indexOf(box, volA));

    EXPECT_TRUE(events.empty());
    EXPECT_EQ(list.directory(), volA + "/work");
    EXPECT_EQ(pelmora::platform::currentDirectory(), volA + "/work");
}

TEST_F(DriveBoxTest, VolumeThatCannotBeEnteredShowsErrorAndKeepsEverything) {
    enter(volA + "/work");
    TDirectoryListBox list(services);
    QLabel label;
    label.setFixedSize(249, 17);
    list.setDirLabel(&label);
    TDriveComboBox box(services);
    box.setDirList(&list);
    watch(list, box);
    const auto items = texts(list);
    const QString labelText = label.text();

    // The floppy's mount point does not exist: nothing is in the drive.
    emit box.activated(indexOf(box, root + "/floppy"));

    EXPECT_EQ(dialogs.errors, std::vector<std::string>{"File not found"});
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(list.directory(), volA + "/work");
    EXPECT_EQ(pelmora::platform::currentDirectory(), volA + "/work");
    EXPECT_EQ(texts(list), items);
    EXPECT_EQ(label.text(), labelText);
    EXPECT_EQ(box.currentIndex(), indexOf(box, volA));
    EXPECT_EQ(box.drive(), volA);

    // Once it is there, choosing it again works.
    fs::create_directory(root + "/floppy");
    emit box.activated(indexOf(box, root + "/floppy"));
    EXPECT_EQ(events,
              (std::vector<std::string>{"list " + root + "/floppy", "box " + root + "/floppy"}));
}

TEST_F(DriveBoxTest, OpeningAMountPointInTheListMovesTheBoxAlong) {
    enter(root);
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    box.setDirList(&list);
    ASSERT_EQ(box.drive(), "/");
    watch(list, box);
    list.resize(268, 400);
    list.show();
    QApplication::processEvents();

    int row = -1;
    for (int i = list.currentRow() + 1; i < list.count(); ++i)
        if (list.item(i)->text() == "volB") row = i;
    ASSERT_GE(row, 0);
    doubleClickRow(list, row);
    EXPECT_EQ(events, (std::vector<std::string>{"list " + volB, "box " + volB}));
    EXPECT_EQ(box.currentIndex(), indexOf(box, volB));

    // Moving within the volume leaves the box alone.
    events.clear();
    list.setDirectory(volB + "/inside");
    EXPECT_EQ(events, std::vector<std::string>{"list " + volB + "/inside"});
}

TEST_F(DriveBoxTest, ClosedBoxDrawsThePictureOfTheChosenVolume) {
    enter(volA);
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    box.setDirList(&list);
    box.resize(257, 22);
    const QImage hard = box.grab().toImage();
    emit box.activated(indexOf(box, volB));
    const QImage network = box.grab().toImage();
    EXPECT_NE(hard, network);
    // The network picture's bottom line is navy across its 16 columns, 2 pixels into the
    // box's text field.
    QStyleOptionComboBox option;
    option.initFrom(&box);
    option.editable = false;
    const QRect field = box.style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, &box);
    int first = -1, last = -1;
    for (int y = 0; y < network.height(); ++y)
        for (int x = 0; x < network.width(); ++x)
            if (network.pixelColor(x, y) == QColor(0, 0, 128)) {
                if (first < 0 || x < first) first = x;
                last = std::max(last, x);
            }
    EXPECT_EQ(first, field.left() + 2);
    EXPECT_EQ(last, field.left() + 17);
}

TEST_F(NavTest, SystemVolumesListTheRootAndSelectTheVolumeOfTheCurrentDirectory) {
    enter(root);
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    SignalCounter spy(&box, &TDriveComboBox::changed);
    box.setDirList(&list);
    EXPECT_EQ(spy.count(), 1);
    ASSERT_GE(box.currentIndex(), 0);
    const std::string drive = box.drive();
    EXPECT_TRUE(root == drive || root.rfind(drive == "/" ? "/" : drive + "/", 0) == 0)
        << drive << " does not hold " << root;
    EXPECT_GE(box.findData(QByteArray("/"), TDriveComboBox::MountPointRole), 0);
}

}  // namespace
}  // namespace navtest
