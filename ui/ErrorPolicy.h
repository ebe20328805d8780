// The application's error policy: an error raised by a command is shown in the error box and
// the program goes on.
#pragma once

#include <exception>

namespace pelmora::platform {
class Dialogs;
}  // namespace pelmora::platform

namespace pelmora::ui {

// Shows `e` in the error box of `dialogs` (its text followed by "."; running out of memory in
// words).
void showException(platform::Dialogs& dialogs, const std::exception& e);

// Runs `command`; an exception escaping it is shown by showException in the error box of
// `dialogs` and the program goes on. Returns false when the command ended by an error.
template <typename F>
bool runGuarded(platform::Dialogs& dialogs, F&& command) {
    try {
        command();
        return true;
    } catch (const std::exception& e) {
        showException(dialogs, e);
        return false;
    }
}

}  // namespace pelmora::ui
