// The application's error policy: an error raised by a command is shown in the error box and
// the program goes on.
#pragma once

#include <exception>

namespace pelmora::ui {

// Shows `e` in the error box (its text followed by "."; running out of memory in words).
void showException(const std::exception& e);

// Runs `command`; an exception escaping it is shown by showException and the program goes
// on. Returns false when the command ended by an error.
template <typename F>
bool runGuarded(F&& command) {
    try {
        command();
        return true;
    } catch (const std::exception& e) {
        showException(e);
        return false;
    }
}

}  // namespace pelmora::ui
