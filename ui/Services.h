// What the windows use of the world around them: the message boxes and file dialogs, the mounted
// volumes, the help viewer, the printers, the machine-wide store, the user's locale and where the
// program lies. Start-up builds one with the
// system's implementations and hands it to the windows; a test builds its own with stand-ins.
// Nothing here is owned; everything outlives the windows that use it.
#pragma once

#include <string>

namespace pelmora::platform {
class Dialogs;
class HelpViewer;
class Locale;
class Registry;
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
    // Where the window takes the thousands separator of its figures from.
    platform::Locale* locale = nullptr;
    // Where the report preview starts its print jobs.
    output::PrintBackend* printer = nullptr;
    // Where the About box records the program; none, and nothing is recorded.
    platform::Registry* registry = nullptr;
    // The program's full path: its help file lies beside it, and so do its lists unless
    // `listFolder` names another folder.
    std::string programPath = {};
    // Where the user's lists live, ending in '/': DEFAULT.PML is kept there, the batch run looks
    // there first and the list dialogs start there. Empty: the program's folder. (An installed
    // program, whose folder its user cannot write, keeps them in the user's data folder.)
    std::string listFolder = {};
};

}  // namespace pelmora::ui
