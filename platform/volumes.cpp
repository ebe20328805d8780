#include "platform/volumes.h"

#include <dirent.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace pelmora::platform {

namespace {

struct MountEntry {
    std::string mountPoint, source, fsType, options;
};

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescapeOctal(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7' &&
            s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out.push_back(
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::vector<MountEntry> readMountInfo() {
    std::vector<MountEntry> out;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::vector<std::string> f;
        std::string w;
        while (ls >> w) f.push_back(w);
        std::size_t dash = 0;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (f.size() < 6 || dash + 3 > f.size()) continue;
        MountEntry e;
        e.mountPoint = unescapeOctal(f[4]);
        e.fsType = f[dash + 1];
        e.source = unescapeOctal(f[dash + 2]);
        e.options = f[5];
        if (dash + 3 < f.size()) e.options += "," + f[dash + 3];
        out.push_back(std::move(e));
    }
    return out;
}

bool isPseudo(const std::string& type) {
    static const std::set<std::string> pseudo = {
        "proc",       "sysfs",     "cgroup",    "cgroup2",       "devpts",   "devtmpfs",
        "securityfs", "pstore",    "debugfs",   "tracefs",       "configfs", "fusectl",
        "mqueue",     "hugetlbfs", "bpf",       "binfmt_misc",   "autofs",   "efivarfs",
        "rpc_pipefs", "nsfs",      "selinuxfs", "ramfs_internal"};
    return pseudo.count(type) != 0;
}

bool isRemote(const std::string& type) {
    static const std::set<std::string> remote = {
        "nfs", "nfs4", "cifs",      "smb3",           "smbfs", "fuse.sshfs", "sshfs", "9p",
        "afs", "ceph", "glusterfs", "fuse.glusterfs", "davfs", "fuse.davfs", "ncpfs"};
    return remote.count(type) != 0;
}

bool hasOption(const std::string& options, const std::string& name) {
    std::istringstream in(options);
    std::string opt;
    while (std::getline(in, opt, ',')) {
        if (opt == name || opt.rfind(name + "=", 0) == 0) return true;
    }
    return false;
}

std::string realPath(const std::string& p) {
    char* r = realpath(p.c_str(), nullptr);
    if (r == nullptr) return p;
    std::string out(r);
    std::free(r);
    return out;
}

bool isRemovableDevice(const std::string& source) {
    if (source.rfind("/dev/", 0) != 0) return false;
    const std::string dev = realPath(source);
    const std::string name = dev.substr(dev.rfind('/') + 1);
    std::string sys = realPath("/sys/class/block/" + name);
    for (int up = 0; up < 2; ++up) {
        std::ifstream f(sys + "/removable");
        int v = 0;
        if (f >> v) return v == 1;
        sys = sys.substr(0, sys.rfind('/'));
    }
    return false;
}

std::string labelOf(const std::string& source) {
    if (source.rfind("/dev/", 0) != 0) return {};
    const std::string dev = realPath(source);
    DIR* d = opendir("/dev/disk/by-label");
    if (d == nullptr) return {};
    std::string label;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = std::string("/dev/disk/by-label/") + e->d_name;
        if (realPath(link) == dev) {
            // udev escapes bytes as \xHH.
            const std::string n = e->d_name;
            for (std::size_t i = 0; i < n.size(); ++i) {
                if (n[i] == '\\' && i + 3 < n.size() && n[i + 1] == 'x') {
                    label.push_back(
                        static_cast<char>(std::strtol(n.substr(i + 2, 2).c_str(), nullptr, 16)));
                    i += 3;
                } else {
                    label.push_back(n[i]);
                }
            }
            break;
        }
    }
    closedir(d);
    return label;
}

bool isUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

const MountEntry* mountFor(const std::vector<MountEntry>& mounts, const std::string& path) {
    const std::string real = realPath(path);
    const MountEntry* best = nullptr;
    for (const MountEntry& m : mounts) {
        // Later entries stack on earlier ones at the same point, so >= keeps the last one.
        if (isUnder(real, m.mountPoint) &&
            (best == nullptr || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    }
    return best;
}

class SystemVolumes final : public Volumes {
  public:
    std::optional<std::uint32_t> clusterSize(const std::string& path) override {
        struct statvfs st {};
        if (statvfs(path.c_str(), &st) != 0) return std::nullopt;
        const unsigned long size = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
        if (size == 0 || size > INT32_MAX) return std::nullopt;
        return static_cast<std::uint32_t>(size);
    }

    std::optional<std::uint32_t> fileSystemFlags(const std::string& path) override {
        const std::vector<MountEntry> mounts = readMountInfo();
        const MountEntry* m = mountFor(mounts, path);
        if (m == nullptr) return std::nullopt;
        std::uint32_t flags = kFsCaseSensitive | kFsCasePreserving;
        static const std::set<std::string> caseless = {"vfat", "exfat", "ntfs", "ntfs3",
                                                       "cifs", "smb3",  "smbfs"};
        if (caseless.count(m->fsType) != 0) flags = kFsCasePreserving;
        if (m->fsType == "msdos") flags = 0;
        if (m->fsType == "squashfs" || hasOption(m->options, "compress") ||
            hasOption(m->options, "compress-force"))
            flags |= kFsCompressed;
        return flags;
    }

    std::vector<MountedVolume> mountedVolumes() override {
        std::vector<MountedVolume> out;
        for (const MountEntry& m : readMountInfo()) {
            if (isPseudo(m.fsType)) continue;
            MountedVolume v;
            v.mountPoint = m.mountPoint;
            v.source = m.source;
            v.fsType = m.fsType;
            v.options = m.options;
            if (isRemote(m.fsType)) {
                v.kind = DriveKind::Remote;
            } else if (m.fsType == "iso9660" || m.fsType == "udf") {
                v.kind = DriveKind::CdRom;
            } else if (m.fsType == "tmpfs" || m.fsType == "ramfs") {
                v.kind = DriveKind::Ram;
            } else if (isRemovableDevice(m.source)) {
                v.kind = DriveKind::Removable;
            } else {
                v.kind = DriveKind::Fixed;
            }
            if (v.kind != DriveKind::Remote && v.kind != DriveKind::Removable)
                v.label = labelOf(m.source);
            out.push_back(std::move(v));
        }
        return out;
    }

    std::string mountPointOf(const std::string& path) override {
        const std::vector<MountEntry> mounts = readMountInfo();
        const MountEntry* m = mountFor(mounts, path);
        return m != nullptr ? m->mountPoint : std::string("/");
    }
};

Volumes* g_override = nullptr;

}  // namespace

Volumes& systemVolumes() {
    static SystemVolumes v;
    return v;
}

Volumes& volumes() {
    return g_override != nullptr ? *g_override : systemVolumes();
}

void setVolumes(Volumes* v) {
    g_override = v;
}

}  // namespace pelmora::platform
