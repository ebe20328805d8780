#include "platform/mounts.h"

#include <libmount.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace pelmora::platform {

namespace {

std::string text(const char* s) {
    return s != nullptr ? std::string(s) : std::string();
}

// Types libmount 2.38 does not know as pseudo or network file systems.
bool alsoPseudo(const std::string& type) {
    return type == "fuse.portal";
}
bool alsoNetwork(const std::string& type) {
    static const std::set<std::string> types = {"sshfs", "davfs", "fuse.davfs", "fuse.davfs2"};
    return types.count(type) != 0;
}

bool isRamDisk(const std::string& type) {
    return type == "tmpfs" || type == "ramfs";
}

bool isNetwork(const MountEntry& m) {
    return m.network || alsoNetwork(m.fsType);
}

bool hasOption(const std::string& options, const char* name) {
    char* value = nullptr;
    std::size_t size = 0;
    return mnt_optstr_get_option(options.c_str(), name, &value, &size) == 0;
}

// Whether `path` is `dir` or lies below it.
bool isAtOrBelow(const std::string& path, const std::string& dir) {
    if (dir == "/") return !path.empty() && path.front() == '/';
    return path.compare(0, dir.size(), dir) == 0 &&
           (path.size() == dir.size() || path[dir.size()] == '/');
}

// Whether directory `inner` lies strictly inside directory `outer` of one file system.
bool isStrictlyInside(const std::string& inner, const std::string& outer) {
    return inner != outer && isAtOrBelow(inner, outer);
}

bool isSystemMount(const std::string& mountPoint) {
    for (const char* dir : {"/proc", "/sys", "/dev", "/run"})
        if (isAtOrBelow(mountPoint, dir)) return true;
    return false;
}

DriveKind kindOf(const MountEntry& m, VolumeProbe& probe) {
    if (isNetwork(m)) return DriveKind::Remote;
    if (m.fsType == "iso9660" || m.fsType == "udf") return DriveKind::CdRom;
    if (isRamDisk(m.fsType)) return DriveKind::Ram;
    if (probe.isRemovable(m.source)) return DriveKind::Removable;
    return DriveKind::Fixed;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view mountInfo) {
    std::vector<MountEntry> out;
    if (mountInfo.empty()) return out;
    // libmount reads streams; the text becomes one without a copy.
    std::unique_ptr<FILE, int (*)(FILE*)> stream(
        fmemopen(const_cast<char*>(mountInfo.data()), mountInfo.size(), "r"), &std::fclose);
    std::unique_ptr<libmnt_table, void (*)(libmnt_table*)> table(mnt_new_table(), &mnt_unref_table);
    if (stream == nullptr || table == nullptr) return out;
    // Broken lines are skipped: libmount's parser goes on after them.
    if (mnt_table_parse_stream(table.get(), stream.get(), "mountinfo") != 0 &&
        mnt_table_get_nents(table.get()) == 0)
        return out;
    std::unique_ptr<libmnt_iter, void (*)(libmnt_iter*)> it(mnt_new_iter(MNT_ITER_FORWARD),
                                                            &mnt_free_iter);
    libmnt_fs* fs = nullptr;
    while (it != nullptr && mnt_table_next_fs(table.get(), it.get(), &fs) == 0) {
        MountEntry e;
        e.mountPoint = text(mnt_fs_get_target(fs));
        if (e.mountPoint.empty() || e.mountPoint.front() != '/') continue;  // not a mount
        e.root = text(mnt_fs_get_root(fs));
        if (e.root.empty()) e.root.push_back('/');
        e.source = text(mnt_fs_get_source(fs));
        e.fsType = text(mnt_fs_get_fstype(fs));
        e.options = text(mnt_fs_get_vfs_options(fs));
        const std::string own = text(mnt_fs_get_fs_options(fs));
        if (!own.empty() && !e.options.empty()) e.options += ',';
        e.options += own;
        e.device = mnt_fs_get_devno(fs);
        e.pseudo = mnt_fs_is_pseudofs(fs) != 0 || alsoPseudo(e.fsType);
        e.network = mnt_fs_is_netfs(fs) != 0;
        out.push_back(std::move(e));
    }
    return out;
}

std::uint32_t fileSystemFlagsOf(const MountEntry& m) {
    static const std::set<std::string> caseless = {"vfat", "exfat", "ntfs", "ntfs3",
                                                   "cifs", "smb3",  "smbfs"};
    std::uint32_t flags = kFsCaseSensitive | kFsCasePreserving;
    if (caseless.count(m.fsType) != 0) flags = kFsCasePreserving;
    if (m.fsType == "msdos") flags = 0;
    if (m.fsType == "squashfs" || hasOption(m.options, "compress") ||
        hasOption(m.options, "compress-force"))
        flags |= kFsCompressed;
    return flags;
}

const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, const std::string& path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& m : mounts) {
        // Later entries stack on earlier ones at the same point, so >= keeps the last one.
        if (isAtOrBelow(path, m.mountPoint) &&
            (best == nullptr || m.mountPoint.size() >= best->mountPoint.size()))
            best = &m;
    }
    return best;
}

std::vector<MountedVolume> driveVolumes(const std::vector<MountEntry>& mounts, VolumeProbe& probe) {
    // The visible mount of each point: the last one mounted there.
    std::map<std::string, const MountEntry*> top;
    for (const MountEntry& m : mounts) top[m.mountPoint] = &m;

    std::vector<const MountEntry*> candidates;
    for (const auto& [point, m] : top) {
        if (point == "/") {
            candidates.push_back(m);
            continue;
        }
        if (isSystemMount(point) || (m->pseudo && !isRamDisk(m->fsType))) continue;
        // Snap packages: one read-only image per installed revision, no user's volume.
        if (m->fsType == "squashfs" && isAtOrBelow(point, "/snap")) continue;
        // A read-only RAM disk holds nothing: sandboxes and containers hide a path with one.
        if (isRamDisk(m->fsType) && hasOption(m->options, "ro")) continue;
        candidates.push_back(m);
    }

    std::vector<MountedVolume> out;
    for (const MountEntry* m : candidates) {
        // A second view of a listed file system: a directory inside one already shown.
        const bool bindView =
            std::any_of(candidates.begin(), candidates.end(), [m](const MountEntry* other) {
                return other != m && other->device == m->device &&
                       isStrictlyInside(m->root, other->root);
            });
        if (bindView) continue;
        // Only directories: a single file may be bind-mounted. Network and FUSE mounts are
        // never asked, so a dead server cannot stall the list.
        const bool askable = !isNetwork(*m) && m->fsType.rfind("fuse", 0) != 0;
        if (m->mountPoint != "/" && askable && !probe.isDirectory(m->mountPoint)) continue;

        MountedVolume v;
        v.mountPoint = m->mountPoint;
        v.source = m->source;
        v.fsType = m->fsType;
        v.options = m->options;
        v.kind = kindOf(*m, probe);
        if (v.kind != DriveKind::Remote && v.kind != DriveKind::Removable)
            v.label = probe.label(m->source);
        out.push_back(std::move(v));
    }
    // `top` is ordered by mount point already; the order is the drive box's.
    return out;
}

}  // namespace pelmora::platform
