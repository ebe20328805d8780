#include "ui/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "platform/qt/fonts.h"

namespace pelmora::ui {

namespace {

// A folder whose top-left corner is at (x, y), `w` wide and `h` high.
void drawFolder(QPainter& p, qreal x, qreal y, qreal w, qreal h, const QColor& body) {
    QPainterPath tab;
    tab.moveTo(x, y + h * 0.18);
    tab.lineTo(x, y + h * 0.05);
    tab.quadTo(x, y, x + w * 0.05, y);
    tab.lineTo(x + w * 0.35, y);
    tab.lineTo(x + w * 0.42, y + h * 0.12);
    tab.lineTo(x + w, y + h * 0.12);
    tab.lineTo(x + w, y + h * 0.18);
    tab.closeSubpath();
    p.setPen(QPen(body.darker(160), qMax<qreal>(1.0, w / 40)));
    p.setBrush(body.darker(115));
    p.drawPath(tab);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(x, y + h * 0.16, w, h * 0.84), w * 0.04, w * 0.04);
}

void drawBars(QPainter& p, const QRectF& area) {
    const QColor colours[] = {QColor(0xC0, 0x30, 0x30), QColor(0x20, 0x80, 0x30),
                              QColor(0x20, 0x40, 0xB0)};
    const qreal heights[] = {0.45, 0.75, 1.0};
    const qreal barW = area.width() / 4;
    for (int i = 0; i < 3; ++i) {
        const qreal h = area.height() * heights[i];
        QRectF r(area.left() + i * barW * 1.4, area.bottom() - h, barW, h);
        p.setPen(QPen(colours[i].darker(150), qMax<qreal>(1.0, barW / 10)));
        p.setBrush(colours[i]);
        p.drawRect(r);
    }
}

QPixmap iconPixmap(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    paintProgramIcon(p, size);
    return pm;
}

}  // namespace

void paintProgramIcon(QPainter& p, qreal s) {
    p.setRenderHint(QPainter::Antialiasing);
    drawFolder(p, s * 0.02, s * 0.10, s * 0.80, s * 0.62, QColor(0xE8, 0xC0, 0x50));
    drawFolder(p, s * 0.12, s * 0.24, s * 0.80, s * 0.62, QColor(0xF5, 0xD2, 0x60));
    drawBars(p, QRectF(s * 0.40, s * 0.46, s * 0.56, s * 0.50));
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(iconPixmap(size));
    return icon;
}

QPixmap productPicture() {
    QPixmap pm(147, 200);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(0x10, 0x20, 0x60));
    sky.setColorAt(1, QColor(0x40, 0x70, 0xB0));
    p.fillRect(pm.rect(), sky);
    // A tree of folders: a trunk line with branches to three folders.
    p.setPen(QPen(QColor(0xF0, 0xF0, 0xF0), 2));
    p.drawLine(30, 40, 30, 150);
    for (int y : {70, 110, 150}) p.drawLine(30, y, 50, y);
    drawFolder(p, 12, 14, 40, 30, QColor(0xF5, 0xD2, 0x60));
    drawFolder(p, 52, 56, 34, 26, QColor(0xE8, 0xC0, 0x50));
    drawFolder(p, 52, 96, 34, 26, QColor(0xE8, 0xC0, 0x50));
    drawFolder(p, 52, 136, 34, 26, QColor(0xE8, 0xC0, 0x50));
    // The figures they add up to.
    drawBars(p, QRectF(96, 96, 44, 70));
    p.setPen(QPen(QColor(0xF0, 0xF0, 0xF0), 2));
    p.drawLine(92, 168, 142, 168);
    p.setFont(platform::arialFont(15, true));
    p.drawText(QRect(0, 174, 147, 22), Qt::AlignCenter, QStringLiteral("\u03A3 bytes"));
    return pm;
}

}  // namespace pelmora::ui
