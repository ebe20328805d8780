// Lists whose right click only opens their popup menu.
#pragma once

class QAbstractItemView;

namespace pelmora::ui {

// From now on a right click (press, drag, release, double click) on `view` moves neither its
// highlight nor its current item; the context-menu request still comes, so the view's popup
// menu opens as before. The filter belongs to the view.
void keepSelectionOnRightClick(QAbstractItemView* view);

}  // namespace pelmora::ui
