// The system's printers: print jobs on the current CUPS printer, through Qt's printer support,
// and its default paper. The print backend in force is chosen here, where the preview window
// prints; tests set their own to take the pages instead of a real printer.
#pragma once

#include <QPageSize>

#include "output/Printer.h"

namespace pelmora::output {

// The backend in force: the system's printers unless a test has set its own.
PrintBackend& printBackend();
// Replaces the backend in force; nullptr restores the system's. Not owned.
void setPrintBackend(PrintBackend* backend);

// The default paper of the system's current printer, or the locale's without a printer.
QPageSize defaultPaperSize();

}  // namespace pelmora::output
