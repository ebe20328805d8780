// The keyboard's place in the window's two lists: the current row carries a focus rectangle while
// its list has the keyboard focus, and the Menu key and Shift+F10 open the list's popup menu at
// that row.
#pragma once

#include <QRect>

class QAbstractItemView;
class QPainter;

namespace pelmora::ui {

// The row the keyboard acts on, in viewport coordinates: the current row, else the first one
// (a list box's caret starts there); an empty list gives the place of a first row, so that the
// focus still shows.
QRect keyboardRowRect(const QAbstractItemView* view);

// Draws the focus rectangle on that row when `view` has the focus: a dotted outline of pixels
// inverted against what lies beneath, so that it shows on the highlight and on the list's
// background alike. Call it from the view's paintEvent, after the rows are painted.
void drawFocusRectangle(QAbstractItemView* view);

// From now on the Menu key and Shift+F10 in `view` ask for its popup menu at the keyboard's
// row (customContextMenuRequested, in viewport coordinates, as a right click does). The filter
// belongs to the view.
void openPopupFromKeyboard(QAbstractItemView* view);

}  // namespace pelmora::ui
