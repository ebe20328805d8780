// The drive box over a mount table given as text: which mounts it lists and how, and the
// compression and case flags read from the same table.
#include <map>
#include <set>

#include "NavFixture.h"
#include "platform/mounts.h"

using pelmora::platform::DriveKind;
using pelmora::ui::NavPicture;
using pelmora::ui::TDirectoryListBox;
using pelmora::ui::TDriveComboBox;

namespace navtest {
namespace {

// A machine as a desktop user meets it, with the mounts that clutter a naive list.
const char* const kMountInfo =
    R"(1 0 254:0 / / rw,relatime - ext4 /dev/vda1 rw
24 23 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw,mode=755
26 25 0:23 / /dev/shm rw - tmpfs tmpfs rw
27 1 0:24 / /run rw - tmpfs tmpfs rw,mode=755
30 1 0:42 / /tmp rw - tmpfs tmpfs rw
31 1 254:1 / /home rw shared:1 - ext4 /dev/vdb1 rw
32 1 254:1 /ada/www /srv/www rw shared:1 - ext4 /dev/vdb1 rw
33 1 8:33 / /media/ada/My\040Disk rw - vfat /dev/sdc1 rw,codepage=437
34 1 254:4 / /mnt/back\134slash rw - ext4 /dev/sdd1 rw
35 1 7:0 / /snap/core22/1380 ro - squashfs /dev/loop0 ro
36 1 7:1 / /opt/tools ro - squashfs /dev/loop1 ro
37 1 0:50 / /srv/btrfs rw - btrfs /dev/vde rw,compress=zstd:3,space_cache=v2,subvolid=5,subvol=/
38 1 0:51 / /srv/forced rw - btrfs /dev/vdf rw,compress-force=lzo,subvol=/
39 1 0:52 / /srv/plain rw - btrfs /dev/vdg rw,space_cache=v2,subvol=/
40 1 0:70 /@data /srv/data rw - btrfs /dev/vdj rw,subvol=/@data
41 1 0:70 /@media /srv/media rw - btrfs /dev/vdj rw,subvol=/@media
42 1 0:53 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw,lowerdir=/a,upperdir=/b
43 1 0:54 / /net/archive rw - nfs4 server:/export/archive rw,vers=4.2
44 1 0:55 / /net/share rw - cifs //nas/share rw
45 1 0:56 / /net/ssh rw - fuse.sshfs ada@host:/home/ada rw,user_id=1000
this line is not a mount
47 1 254:9 /containers/abc/hosts /etc/hosts rw - ext4 /dev/vdz rw
48 1 254:9 /containers/abc/data /data rw - ext4 /dev/vdz rw
49 1 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro
50 1 254:7 / /mnt/stack rw - ext4 /dev/vdh1 rw
51 50 254:8 / /mnt/stack rw - ext4 /dev/vdi1 rw
53 1 0:90 / /mnt/sandbox/hidden ro,nosuid - tmpfs none ro,size=4k
54 1 0:91 / /mnt/portal rw - fuse.portal portal rw,user_id=1000
55 1 0:92 / /mnt/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw,user_id=1000
)";

class FixtureProbe final : public pelmora::platform::VolumeProbe {
  public:
    std::set<std::string> files = {"/etc/hosts"};
    std::map<std::string, std::string> labels = {{"/dev/vda1", "ROOT"}, {"/dev/vdb1", "home"},
                                                 {"/dev/sr0", "DISC"},  {"/dev/vdh1", "UNDER"},
                                                 {"/dev/vdi1", "TOP"},  {"/dev/sdc1", "STICK"}};
    std::set<std::string> removable = {"/dev/sdc1"};
    std::set<std::string> asked;

    bool isDirectory(const std::string& mountPoint) override {
        asked.insert(mountPoint);
        return files.count(mountPoint) == 0;
    }
    std::string label(const std::string& source) override {
        const auto it = labels.find(source);
        return it != labels.end() ? it->second : std::string();
    }
    bool isRemovable(const std::string& source) override { return removable.count(source) != 0; }
};

class MountTableTest : public NavTest {
  protected:
    void SetUp() override {
        NavTest::SetUp();
        services.volumes = &volumes;
    }
    FixtureProbe probe;
    pelmora::platform::MountTableVolumes volumes{[] { return std::string(kMountInfo); }, probe};
};

TEST_F(MountTableTest, TheDriveBoxListsTheUsersVolumesSortedByMountPoint) {
    enter(root);  // below the fixture's /tmp
    TDirectoryListBox list(services);
    TDriveComboBox box(services);
    box.setDirList(&list);

    const std::vector<std::pair<std::string, NavPicture>> expected = {
        {"/ [ROOT]", NavPicture::Hard},
        {"/data []", NavPicture::Hard},  // a volume seen only through a bind mount
        {"/home [home]", NavPicture::Hard},
        {"/media/ada/My Disk", NavPicture::Floppy},
        {"/media/cdrom [DISC]", NavPicture::CdRom},
        {"/mnt/back\\slash []", NavPicture::Hard},
        {"/mnt/stack [TOP]", NavPicture::Hard},  // the later of two mounts on one point
        {"/net/archive server:/export/archive", NavPicture::Network},
        {"/net/share //nas/share", NavPicture::Network},
        {"/net/ssh ada@host:/home/ada", NavPicture::Network},
        {"/opt/tools []", NavPicture::Hard},
        {"/srv/btrfs []", NavPicture::Hard},
        {"/srv/data []", NavPicture::Hard},  // btrfs subvolumes are volumes of their own
        {"/srv/forced []", NavPicture::Hard},
        {"/srv/media []", NavPicture::Hard},
        {"/srv/plain []", NavPicture::Hard},
        {"/tmp []", NavPicture::Ram},
    };
    std::vector<std::pair<std::string, NavPicture>> shown;
    for (int i = 0; i < box.count(); ++i)
        shown.emplace_back(
            box.itemText(i).toStdString(),
            static_cast<NavPicture>(box.itemData(i, TDriveComboBox::PictureRole).toInt()));
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(box.drive(), "/tmp");

    // Network and FUSE mounts are never touched; only local ones are asked whether they are
    // directories.
    for (const std::string& point : probe.asked)
        EXPECT_TRUE(point.rfind("/net/", 0) != 0 && point != "/mnt/portal") << point;
    EXPECT_TRUE(probe.asked.count("/etc/hosts"));
}

TEST_F(MountTableTest, CompressionAndCaseComeFromTheTable) {
    using namespace pelmora::platform;
    constexpr std::uint32_t both = kFsCaseSensitive | kFsCasePreserving;
    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"/srv/btrfs/photos", both | kFsCompressed},  // compress=zstd:3
        {"/srv/forced", both | kFsCompressed},        // compress-force=lzo
        {"/srv/plain/x", both},
        {"/opt/tools/bin", both | kFsCompressed},  // squashfs
        {"/media/ada/My Disk/notes", kFsCasePreserving},
        {"/net/share/docs", kFsCasePreserving},
        {"/home/ada", both},
    };
    for (const auto& [path, flags] : cases) EXPECT_EQ(volumes.fileSystemFlags(path), flags) << path;
    EXPECT_EQ(volumes.mountPointOf("/media/ada/My Disk/notes"), "/media/ada/My Disk");
    EXPECT_EQ(volumes.mountPointOf("/mnt/stack"), "/mnt/stack");
    EXPECT_EQ(volumes.mountPointOf("/srv"), "/");
}

TEST(MountInfo, AnEmptyOrUnreadableTableHasNoMounts) {
    EXPECT_TRUE(pelmora::platform::parseMountInfo("").empty());
    EXPECT_TRUE(pelmora::platform::parseMountInfo("garbage\n\n- - -\n").empty());
}

}  // namespace
}  // namespace navtest
