// TEMPORARY SEAMS: the list, list-file, data-file and report commands of the main window.
// Each one is replaced by its real handler when that work is merged; until then the menu items
// do nothing and the window always agrees to close.
#include "ui/Unit1.h"

namespace pelmora::ui {

void TForm1::CreateReportClick() {}  // seam: Report > Create Report

}  // namespace pelmora::ui
