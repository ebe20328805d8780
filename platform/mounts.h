// The mount table as the kernel reports it (the text of /proc/self/mountinfo), read with libmount,
// and the volumes the drive box lists, chosen from it. Everything here works on text and on what
// a VolumeProbe answers, so that tests can give any table; only volumes.cpp reads the system's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volumes.h"

namespace pelmora::platform {

// One line of the mount table.
struct MountEntry {
    std::string mountPoint;  // where it is mounted, escapes such as \040 resolved
    std::string root;        // the directory of its file system shown there: "/" for the whole
    std::string source;      // "/dev/sda1", "server:/export", "tmpfs", ...
    std::string fsType;      // "ext4", "nfs4", "fuse.sshfs", ...
    std::string options;     // the mount options, then the file system's own, joined by ','
    dev_t device = 0;        // the file system's device number (major:minor)
    bool pseudo = false;     // libmount: no storage behind it (proc, cgroup, tmpfs, overlay, ...)
    bool network = false;    // libmount: a network file system (nfs, cifs, fuse.sshfs, ...)
};

// The entries of mountinfo `text`, in table order; lines that cannot be read are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// kFs* flags of a mounted file system: case flags by type (vfat, exfat, ntfs, cifs: preserving
// only; msdos: neither; the rest: both), compressed for squashfs and for a mount with the
// "compress" or "compress-force" option (btrfs).
std::uint32_t fileSystemFlagsOf(const MountEntry& mount);

// The entry whose file system holds `path` (an absolute path without symlinks): the deepest mount
// point above it, the later of two on one point. nullptr when none is.
const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, const std::string& path);

// What the drive box needs beyond the mount table. The system's answers never open a device and
// never touch a network file system.
class VolumeProbe {
  public:
    virtual ~VolumeProbe() = default;
    // Whether `mountPoint` is a directory; asked only for mounts that are neither network nor
    // FUSE file systems (a single file can be bind-mounted).
    virtual bool isDirectory(const std::string& mountPoint) = 0;
    // The volume label of the device `source`; empty when it has none or is no device.
    virtual std::string label(const std::string& source) = 0;
    // Whether `source` is a device of removable media.
    virtual bool isRemovable(const std::string& source) = 0;
};

// The volumes of the drive box, sorted by mount point: of several mounts on one point the last;
// the root "/" always; else nothing at or below /proc, /sys, /dev and /run, no pseudo file system
// but writable RAM disks (tmpfs, ramfs), no snap package (squashfs below /snap), no second view of
// a listed file system (a bind mount whose directory lies inside one listed at the same device) and
// nothing but directories. Network volumes are named by their source and never probed; removable
// ones get no label.
std::vector<MountedVolume> driveVolumes(const std::vector<MountEntry>& mounts, VolumeProbe& probe);

}  // namespace pelmora::platform
