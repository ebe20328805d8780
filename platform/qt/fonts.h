// The program's one font rule: Arial at a height in pixels, for the windows and the report.
#pragma once

#include <QFont>
#include <QString>

namespace pelmora::platform {

// Arial, `pixels` high, bold or not (13 px is the window text, 11 px 8 point at 96 dpi).
inline QFont arialFont(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

}  // namespace pelmora::platform
