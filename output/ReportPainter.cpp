#include "output/ReportPainter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

namespace pelmora::output {

QRectF labelBox(const TQRLabel& label, const QString& text, double bandLeft, double bandTop,
                double bandWidth) {
    const QFontMetricsF metrics(label.font);
    const double textWidth = metrics.horizontalAdvance(text);
    const double height = metrics.height();
    const double top = bandTop + label.top;
    switch (label.align) {
        case TQRAlign::Left:
            return {bandLeft + label.left, top, textWidth, height};
        case TQRAlign::RightInBox:
            return {bandLeft + label.left, top, static_cast<double>(label.width), height};
        case TQRAlign::RightEdge:
            return {bandLeft + bandWidth - textWidth, top, textWidth, height};
        case TQRAlign::Centre:
            return {bandLeft + (bandWidth - textWidth) / 2, top, textWidth, height};
    }
    return {};
}

void paintPage(QPainter& painter, const PageGeometry& geometry, const LaidOutPage& page) {
    painter.save();
    const double left = geometry.leftMargin;
    const double width = geometry.bandWidth();
    for (const PlacedBand& placed : page.bands) {
        const TQRBand& band = *placed.band;
        for (std::size_t i = 0; i < band.labels.size(); ++i) {
            const TQRLabel& label = *band.labels[i];
            const QString& text = placed.texts[i];
            const QRectF box = labelBox(label, text, left, placed.top, width);
            painter.fillRect(box, Qt::white);
            painter.setFont(label.font);
            painter.setPen(Qt::black);
            const int flags =
                Qt::TextSingleLine | Qt::TextDontClip | Qt::AlignTop |
                (label.align == TQRAlign::RightInBox ? Qt::AlignRight : Qt::AlignLeft);
            painter.drawText(box, flags, text);
        }
        auto line = [&](TQRLineStyle style, double y) {
            if (style == TQRLineStyle::None) return;
            painter.setPen(
                QPen(Qt::black, 1, style == TQRLineStyle::Dotted ? Qt::DotLine : Qt::SolidLine));
            painter.drawLine(QPointF(left, y), QPointF(left + width, y));
        };
        line(band.frame.top, placed.top + 0.5);
        line(band.frame.bottom, placed.top + band.height - 0.5);
    }
    painter.restore();
}

std::vector<QPicture> recordPages(const PreparedReport& report) {
    std::vector<QPicture> pictures;
    pictures.reserve(report.pages.size());
    const QRect bounds(QPoint(0, 0), report.geometry.paper.toSize());
    for (const LaidOutPage& page : report.pages) {
        QPicture picture;
        {
            QPainter painter(&picture);
            paintPage(painter, report.geometry, page);
        }
        picture.setBoundingRect(bounds);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

void drawRecordedPage(QPainter& painter, const QPicture& page, const QSizeF& paper,
                      const QRectF& target) {
    if (paper.isEmpty()) return;
    const double scale = std::min(target.width() / paper.width(), target.height() / paper.height());
    // Playing a picture scales it from the picture's resolution to the device's; undo that,
    // so `scale` alone maps form pixels onto the target.
    double kx = 1;
    double ky = 1;
    if (const QPaintDevice* device = painter.device()) {
        kx = static_cast<double>(page.logicalDpiX()) / device->logicalDpiX();
        ky = static_cast<double>(page.logicalDpiY()) / device->logicalDpiY();
    }
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(scale * kx, scale * ky);
    painter.drawPicture(0, 0, page);
    painter.restore();
}

}  // namespace pelmora::output
