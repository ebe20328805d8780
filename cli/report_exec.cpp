#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/commands.h"
#include "platform/paths.h"

namespace pelmora::cli {

// The report needs Qt's painting; it lives in pelmora-report beside this program, so that
// counting and exporting start without loading Qt.
int runReport(const Args& args) {
    const std::string exe = platform::programDirectory() + "pelmora-report";
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    message("report: cannot start " + exe + ": " + std::strerror(errno));
    return kExitFailed;
}

}  // namespace pelmora::cli
