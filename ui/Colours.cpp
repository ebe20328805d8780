#include "ui/Colours.h"

namespace pelmora::ui {

QPalette classicPalette() {
    // Button face #F0F0F0: the grey of the classic scheme as it stands today, and what a light
    // theme shows here anyway, so light desktops keep their look; navy text on it reaches 14:1.
    const QColor face(0xF0, 0xF0, 0xF0);
    const QColor white(Qt::white);
    const QColor black(Qt::black);
    QPalette p(black, face, white, QColor(0xA0, 0xA0, 0xA0), QColor(0xC8, 0xC8, 0xC8), black, white,
               white, face);
    p.setColor(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
    p.setColor(QPalette::Shadow, QColor(0x69, 0x69, 0x69));
    p.setColor(QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7));
    p.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
    p.setColor(QPalette::ToolTipText, black);
    p.setColor(QPalette::PlaceholderText, QColor(0x6D, 0x6D, 0x6D));
    p.setColor(QPalette::Link, QColor(0x00, 0x00, 0xFF));
    p.setColor(QPalette::LinkVisited, QColor(0x80, 0x00, 0x80));
    p.setColor(QPalette::Highlight, kNavy);
    p.setColor(QPalette::HighlightedText, white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6D, 0x6D, 0x6D));
    return p;
}

}  // namespace pelmora::ui
