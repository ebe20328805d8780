// What the windows use of the world around them: the message boxes and file dialogs, the mounted
// volumes, the help viewer, the printers and where the program lies. Start-up builds one with the
// system's implementations and hands it to the windows; a test builds its own with stand-ins.
// Nothing here is owned; everything outlives the windows that use it.
#pragma once

#include <string>

namespace pelmora::platform {
class Dialogs;
class HelpViewer;
class Volumes;
}  // namespace pelmora::platform

namespace pelmora::output {
class PrintBackend;
}  // namespace pelmora::output

namespace pelmora::ui {

struct Services {
    platform::Dialogs* dialogs = nullptr;
    platform::Volumes* volumes = nullptr;
    platform::HelpViewer* help = nullptr;
    // Where the report preview starts its print jobs.
    output::PrintBackend* printer = nullptr;
    // The program's full path: its help file and its lists lie beside it.
    std::string programPath = {};
};

}  // namespace pelmora::ui
