#include "platform/gui/dialogs.h"

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

}  // namespace pelmora::platform
