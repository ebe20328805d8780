// What the windows use of the world around them: the message boxes and file dialogs, and, as
// they move here, the other collaborators that tests stand in for. Start-up builds one with the
// system's implementations and hands it to the windows; a test builds its own with stand-ins.
// Nothing here is owned; everything outlives the windows that use it.
#pragma once

namespace pelmora::platform {
class Dialogs;
class Volumes;
}  // namespace pelmora::platform

namespace pelmora::ui {

struct Services {
    platform::Dialogs* dialogs = nullptr;
    platform::Volumes* volumes = nullptr;
};

}  // namespace pelmora::ui
