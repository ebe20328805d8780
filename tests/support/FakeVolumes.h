// Volumes for tests: a chosen cluster size and flags for every path, and chosen mount points.
// A test hands it to the windows through their Services.
#pragma once

#include <string>
#include <vector>

#include "platform/volumes.h"

namespace pelmora::test {

class FakeVolumes final : public platform::Volumes {
  public:
    FakeVolumes() = default;
    FakeVolumes(const FakeVolumes&) = delete;
    FakeVolumes& operator=(const FakeVolumes&) = delete;

    std::uint32_t cluster = 4096;
    std::uint32_t flags = platform::kFsCaseSensitive | platform::kFsCasePreserving;
    // Mount points besides "/"; the deepest one that holds a path is its volume's root.
    std::vector<std::string> mountPoints;

    std::optional<std::uint32_t> clusterSize(const std::string&) override { return cluster; }
    std::optional<std::uint32_t> fileSystemFlags(const std::string&) override { return flags; }
    std::vector<platform::MountedVolume> mountedVolumes() override {
        std::vector<platform::MountedVolume> out;
        platform::MountedVolume root;
        root.mountPoint = "/";
        root.source = "/dev/test";
        root.fsType = "ext4";
        out.push_back(root);
        for (const std::string& m : mountPoints) {
            platform::MountedVolume v = root;
            v.mountPoint = m;
            out.push_back(v);
        }
        return out;
    }
    std::string mountPointOf(const std::string& path) override {
        std::string best = "/";
        for (const std::string& m : mountPoints)
            if ((path == m || path.rfind(m + "/", 0) == 0) && m.size() > best.size()) best = m;
        return best;
    }
};

}  // namespace pelmora::test
