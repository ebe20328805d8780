// The system's printers: print jobs on the current CUPS printer, through Qt's printer support,
// and its default paper. Start-up hands the system's backend to the preview window; tests hand
// in their own to take the pages instead of a real printer.
#pragma once

#include <QPageSize>

#include "output/Printer.h"

namespace pelmora::output {

// The system's printers: jobs go to the current default printer.
PrintBackend& systemPrintBackend();

// The default paper of the system's current printer, or the locale's without a printer.
QPageSize defaultPaperSize();

}  // namespace pelmora::output
