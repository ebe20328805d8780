#include "platform/volumes.h"

#include <blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/mounts.h"

namespace pelmora::platform {

namespace {

std::string realPath(const std::string& p) {
    char* r = realpath(p.c_str(), nullptr);
    if (r == nullptr) return p;
    std::string out(r);
    std::free(r);
    return out;
}

bool isDevice(const std::string& source) {
    return source.rfind("/dev/", 0) == 0;
}

// udev writes unsafe bytes of a label as \xHH.
std::string decodeUdevName(const std::string& n) {
    std::string out;
    for (std::size_t i = 0; i < n.size(); ++i) {
        if (n[i] == '\\' && i + 3 < n.size() && n[i + 1] == 'x' && std::isxdigit(n[i + 2]) &&
            std::isxdigit(n[i + 3])) {
            out.push_back(static_cast<char>(std::strtol(n.substr(i + 2, 2).c_str(), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(n[i]);
        }
    }
    return out;
}

// Labels from udev's /dev/disk/by-label, else from libblkid's cache; neither opens the device, so
// a drive without a medium or a hung disk cannot stall the drive box. Removable media are read
// from sysfs.
class SystemProbe final : public VolumeProbe {
  public:
    bool isDirectory(const std::string& mountPoint) override {
        struct statx st {};
        const int flags = AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT | AT_SYMLINK_NOFOLLOW;
        return statx(AT_FDCWD, mountPoint.c_str(), flags, STATX_TYPE, &st) == 0 &&
               S_ISDIR(st.stx_mode);
    }

    std::string label(const std::string& source) override {
        if (!isDevice(source)) return {};
        const std::string device = realPath(source);
        const std::string byUdev = udevLabel(device);
        return !byUdev.empty() ? byUdev : blkidCachedLabel(device);
    }

    bool isRemovable(const std::string& source) override {
        if (!isDevice(source)) return false;
        const std::string device = realPath(source);
        std::string sys = realPath("/sys/class/block/" + device.substr(device.rfind('/') + 1));
        for (int up = 0; up < 2; ++up) {  // a partition asks its disk
            std::ifstream f(sys + "/removable");
            int v = 0;
            if (f >> v) return v == 1;
            sys = sys.substr(0, sys.rfind('/'));
        }
        return false;
    }

  private:
    static std::string udevLabel(const std::string& device) {
        DIR* d = opendir("/dev/disk/by-label");
        if (d == nullptr) return {};
        std::string label;
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            if (realPath(std::string("/dev/disk/by-label/") + e->d_name) == device) {
                label = decodeUdevName(e->d_name);
                break;
            }
        }
        closedir(d);
        return label;
    }

    // Only looks the device up in the cache file; BLKID_DEV_FIND neither creates nor verifies
    // an entry, so no device is probed.
    static std::string blkidCachedLabel(const std::string& device) {
        blkid_cache cache = nullptr;
        if (blkid_get_cache(&cache, nullptr) != 0) return {};
        std::string label;
        if (blkid_dev dev = blkid_get_dev(cache, device.c_str(), BLKID_DEV_FIND)) {
            blkid_tag_iterate it = blkid_tag_iterate_begin(dev);
            const char* type = nullptr;
            const char* value = nullptr;
            while (it != nullptr && blkid_tag_next(it, &type, &value) == 0)
                if (std::strcmp(type, "LABEL") == 0) label = value;
            blkid_tag_iterate_end(it);
        }
        blkid_put_cache(cache);
        return label;
    }
};

}  // namespace

std::string readMountInfo() {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

VolumeProbe& systemVolumeProbe() {
    static SystemProbe probe;
    return probe;
}

MountTableVolumes::MountTableVolumes(TableReader readTable, VolumeProbe& probe)
    : m_readTable(std::move(readTable)), m_probe(probe) {}

std::optional<std::uint32_t> MountTableVolumes::clusterSize(const std::string& path) {
    struct statvfs st {};
    if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
    const unsigned long size = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
    if (size == 0 || size > INT32_MAX) return std::nullopt;
    return static_cast<std::uint32_t>(size);
}

std::optional<std::uint32_t> MountTableVolumes::fileSystemFlags(const std::string& path) {
    const std::vector<MountEntry> mounts = parseMountInfo(m_readTable());
    const MountEntry* m = mountHolding(mounts, realPath(path));
    if (m == nullptr) return std::nullopt;
    return fileSystemFlagsOf(*m);
}

std::vector<MountedVolume> MountTableVolumes::mountedVolumes() {
    return driveVolumes(parseMountInfo(m_readTable()), m_probe);
}

std::string MountTableVolumes::mountPointOf(const std::string& path) {
    const std::vector<MountEntry> mounts = parseMountInfo(m_readTable());
    const MountEntry* m = mountHolding(mounts, realPath(path));
    return m != nullptr ? m->mountPoint : std::string("/");
}

Volumes& systemVolumes() {
    static MountTableVolumes v(&readMountInfo, systemVolumeProbe());
    return v;
}

}  // namespace pelmora::platform
