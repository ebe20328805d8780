// The program's own pictures, drawn in code: the window icon and the About box's picture.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace pelmora::ui {

// Paints the program's icon, a stack of folders with a bar chart in front, into the square
// (0, 0, size, size) of `p`. The window icon and the installed icon files come from it.
void paintProgramIcon(QPainter& p, qreal size);

// The window icon: 16, 32 and 48 pixels.
QIcon programIcon();

// The About box's product picture, 147 x 200.
QPixmap productPicture();

}  // namespace pelmora::ui
