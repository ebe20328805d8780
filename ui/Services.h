// What the windows use of the world around them: the message boxes and file dialogs, the mounted
// volumes and the help viewer. Start-up builds one with the system's implementations and hands
// it to the windows; a test builds its own with stand-ins. Nothing here is owned; everything
// outlives the windows that use it.
#pragma once

namespace pelmora::platform {
class Dialogs;
class HelpViewer;
class Volumes;
}  // namespace pelmora::platform

namespace pelmora::ui {

struct Services {
    platform::Dialogs* dialogs = nullptr;
    platform::Volumes* volumes = nullptr;
    platform::HelpViewer* help = nullptr;
};

}  // namespace pelmora::ui
