#include "ui/ErrorPolicy.h"

#include <new>

#include "platform/gui/dialogs.h"

namespace pelmora::ui {

void showException(platform::Dialogs& dialogs, const std::exception& e) {
    // Out of memory is an error like the others, in words rather than the type's name.
    dialogs.errorBox(dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "Out of memory"
                                                                        : e.what());
}

}  // namespace pelmora::ui
