// Painting of laid-out report pages. paintPage is the one place that draws a page; the
// preview, the printer and the PDF writer all replay the pages it recorded.
#pragma once

#include <QPicture>
#include <QRectF>
#include <vector>

#include "output/ReportEngine.h"

class QPainter;

namespace pelmora::output {

// Paints `page` in form pixels, origin at the paper's top-left corner: for each band its
// labels in their order (each filling its box with white, then its text on one line, never
// cut or wrapped), then its frame lines.
void paintPage(QPainter& painter, const PageGeometry& geometry, const LaidOutPage& page);

// Records every page of `report` as a picture in form pixels.
std::vector<QPicture> recordPages(const PreparedReport& report);

// Replays a recorded page of paper size `paper` (form pixels) onto `painter`, scaled by the
// same factor in both directions to fit `target` and placed at its top-left corner.
void drawRecordedPage(QPainter& painter, const QPicture& page, const QSizeF& paper,
                      const QRectF& target);

// The box a label fills on a band of width `bandWidth` whose top is at `bandTop`.
QRectF labelBox(const TQRLabel& label, const QString& text, double bandLeft, double bandTop,
                double bandWidth);

}  // namespace pelmora::output
