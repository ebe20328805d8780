// A private runtime folder for a Qt program started without a session (cron, systemd timers,
// su): without XDG_RUNTIME_DIR Qt warns on stderr and makes one under /tmp. While this lives,
// XDG_RUNTIME_DIR names a folder of the program's own, made below $TMPDIR (or /tmp) and removed
// at the end. An XDG_RUNTIME_DIR that is set already is left as it is; a folder that cannot be
// made is no error, only Qt's warning comes back.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace pelmora::platform {

class PrivateRuntimeDir {
  public:
    // `prefix` starts the folder's name, e.g. "pelmora-chart".
    explicit PrivateRuntimeDir(const std::string& prefix) {
        const char* set = std::getenv("XDG_RUNTIME_DIR");
        if (set != nullptr && *set != '\0') return;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) return;
        m_path = pattern;
        ::setenv("XDG_RUNTIME_DIR", m_path.c_str(), 1);
    }
    ~PrivateRuntimeDir() {
        if (m_path.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

  private:
    std::string m_path;
};

}  // namespace pelmora::platform
