// The window's fixed colours. The design's text colours (black, navy for names and figures,
// maroon for the version) were chosen for the backgrounds it was drawn on: white lists and boxes,
// light grey panels and buttons. Both halves are fixed, so that every desktop theme, dark ones
// included, shows the main window and the About box as designed.
#pragma once

#include <QColor>
#include <QPalette>

namespace pelmora::ui {

inline const QColor kNavy(0x00, 0x00, 0x80);
inline const QColor kMaroon(0x80, 0x00, 0x00);

// The classic colour scheme: text black on white (lists, boxes), panels, buttons and menus
// button-face grey #F0F0F0 with their 3D edges, selection navy with white text.
QPalette classicPalette();

}  // namespace pelmora::ui
