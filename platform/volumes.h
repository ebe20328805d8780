// Mounted volumes, cluster sizes and file-system flags, behind one interface so that tests
// can stand in a compressed volume or an odd cluster size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelmora::platform {

// File-system flags, with the classic bit values.
constexpr std::uint32_t kFsCaseSensitive = 0x1;
constexpr std::uint32_t kFsCasePreserving = 0x2;
constexpr std::uint32_t kFsCompressed = 0x8000;

enum class DriveKind { Removable, Fixed, Remote, CdRom, Ram };

struct MountedVolume {
    std::string mountPoint;  // the volume's root, e.g. "/" or "/home"
    std::string source;      // mount source: device, or "server:/export" for remote ones
    std::string fsType;      // "ext4", "nfs", ...
    std::string options;     // mount and super options joined by ','
    DriveKind kind = DriveKind::Fixed;
    std::string label;  // from /dev/disk/by-label, may be empty
};

class VolumeProbe;

class Volumes {
  public:
    virtual ~Volumes() = default;
    // Cluster size in bytes (bytes per sector x sectors per cluster) of the volume that holds
    // `path`; nullopt when the query fails.
    virtual std::optional<std::uint32_t> clusterSize(const std::string& path) = 0;
    // kFs* flags of the volume that holds `path`; nullopt when the query fails.
    virtual std::optional<std::uint32_t> fileSystemFlags(const std::string& path) = 0;
    // The volumes the drive box lists, sorted by mount point, without touching remote ones.
    virtual std::vector<MountedVolume> mountedVolumes() = 0;
    // Mount point of the volume that holds `path` ("/" when nothing closer is mounted).
    virtual std::string mountPointOf(const std::string& path) = 0;
};

// Volumes read from a mount table in mountinfo form, given as text each time it is needed, with
// `probe` answering what the table does not say (platform/mounts.h chooses the drive box's
// volumes); cluster sizes come from statvfs.
class MountTableVolumes : public Volumes {
  public:
    using TableReader = std::function<std::string()>;
    MountTableVolumes(TableReader readTable, VolumeProbe& probe);

    std::optional<std::uint32_t> clusterSize(const std::string& path) override;
    std::optional<std::uint32_t> fileSystemFlags(const std::string& path) override;
    std::vector<MountedVolume> mountedVolumes() override;
    std::string mountPointOf(const std::string& path) override;

  private:
    TableReader m_readTable;
    VolumeProbe& m_probe;
};

// The text of /proc/self/mountinfo; empty when it cannot be read.
std::string readMountInfo();
// The system's answers: labels from /dev/disk/by-label or libblkid's cache, removable media from
// sysfs, directories by statx without syncing; no device is opened.
VolumeProbe& systemVolumeProbe();

// The system implementation: MountTableVolumes over /proc/self/mountinfo and the system probe.
Volumes& systemVolumes();

}  // namespace pelmora::platform
