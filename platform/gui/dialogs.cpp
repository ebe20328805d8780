#include "platform/gui/dialogs.h"

#include <new>

namespace pelmora::platform {

namespace {
Dialogs* g_override = nullptr;
}  // namespace

Dialogs& dialogs() {
    return g_override != nullptr ? *g_override : qtDialogs();
}

void setDialogs(Dialogs* d) {
    g_override = d;
}

void showException(const std::exception& e) {
    // Out of memory is an error like the others, in words rather than the type's name.
    dialogs().errorBox(dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "Out of memory"
                                                                          : e.what());
}

}  // namespace pelmora::platform
