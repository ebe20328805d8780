// The program's own pictures, drawn in code: the window icon and the About box's picture.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pelmora::ui {

// A stack of folders with a bar chart in front: 16, 32 and 48 pixels.
QIcon programIcon();

// The About box's product picture, 147 x 200.
QPixmap productPicture();

}  // namespace pelmora::ui
