// TEMPORARY SEAMS: the list, list-file, data-file and report commands of the main window.
// Each one is replaced by its real handler when that work is merged; until then the menu items
// do nothing and the window always agrees to close.
#include "ui/Unit1.h"

namespace pelmora::ui {

void TForm1::Button5Click() {}  // seam: File > New
void TForm1::Button7Click() {}  // seam: File > Open...
void TForm1::Save1Click() {}    // seam: File > Save
void TForm1::Button6Click() {}  // seam: File > Save As...
bool TForm1::FormCloseQuery() {
    return true;
}  // seam: the close question
void TForm1::AddThisDirectory1Click() {}   // seam: directory popup > Add This Directory
void TForm1::AddSubdirectories1Click() {}  // seam: directory popup > Add Subdirectories
void TForm1::DeleteHighlighted1Click() {}  // seam: list popup > Delete Highlighted
void TForm1::CreateReportClick() {}        // seam: Report > Create Report

}  // namespace pelmora::ui
