// A small banded-report engine: a report is a list of bands (page header, title, column
// header, detail, summary, page footer), each a height and a frame with labels on it. The
// engine asks its owner for one row at a time (OnNeedData) and lays the bands out on pages.
// Everything here is plain layout: no painting (ReportPainter paints a laid-out page), no
// windows (the preview window, output/gui/ReportPreview.h in the library above this one,
// shows and prints the pages).
//
// Units are form pixels: the report is designed at 96 pixels per inch, and a painter scales
// that design to the device it paints on.
#pragma once

#include <QDateTime>
#include <QFont>
#include <QPageSize>
#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "platform/qt/fonts.h"

namespace pelmora::output {

// Form pixels per inch.
constexpr double kFormDpi = 96.0;

enum class TQRBandType { rbPageHeader, rbTitle, rbColumnHeader, rbDetail, rbSummary, rbPageFooter };

enum class TQRLineStyle { None, Solid, Dotted };

// Lines of width 1 along the band's top and bottom edges.
struct TQRFrame {
    TQRLineStyle top = TQRLineStyle::None;
    TQRLineStyle bottom = TQRLineStyle::None;
};

// Where a label stands on its band.
enum class TQRAlign {
    Left,        // text starts at `left`
    RightInBox,  // text right-aligned in the box [left, left + width)
    RightEdge,   // text ends at the band's right edge
    Centre,      // text centred on the band
};

// What a system-data label shows after its caption.
enum class TQRSysData { None, DateTime, ReportTitle, PageNumber };

// A report font of `pixelHeight` form pixels (11 px is 8 point, 19 px is 14 point at 96 dpi):
// the program's Arial.
inline QFont reportFont(int pixelHeight, bool bold = false) {
    return platform::arialFont(pixelHeight, bold);
}

// A text on a band. Every label fills its box with white before its text is drawn, so a
// label drawn later covers what an earlier one left inside its box.
class TQRLabel {
  public:
    TQRLabel(TQRAlign align, int top, QFont font, int left = 0, int width = 0);

    const QString& text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }

    TQRAlign align;
    int left;
    int width;
    int top;
    QFont font;
    TQRSysData data = TQRSysData::None;  // the text is then the caption before the value

  private:
    QString m_text;
};

// A system-data label: its text ("Printed ", "Page ") followed by the value of `data`.
TQRLabel sysDataLabel(TQRSysData data, const QString& caption, TQRAlign align, int top, QFont font);

struct TQRBand {
    TQRBandType type;
    int height;
    TQRFrame frame;
    std::vector<TQRLabel*> labels;  // drawn in this order; not owned
};

// Progress of a preparation or a print run: a window with a caption, a text and a Cancel
// button in the program (TQRProgressWindow, output/gui), nothing in a test or a headless run.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void open(const QString& caption, const QString& text) = 0;
    // Lets waiting events through; false once the user has cancelled.
    virtual bool step() = 0;
    virtual void close() = 0;
};

// The engine's printer object, one for the process: the caption of the progress windows
// (a window takes the caption set when it opens) and the switches of the preview's Save and
// Load buttons, kept here for the windows in output/gui to read.
class TQRPrinter {
  public:
    static const QString kOwnCaption;  // the caption before anyone sets one

    const QString& progressCaption() const { return m_caption; }
    void setProgressCaption(const QString& caption) { m_caption = caption; }
    bool showSaveButton() const { return m_save; }
    void setShowSaveButton(bool on) { m_save = on; }
    bool showLoadButton() const { return m_load; }
    void setShowLoadButton(bool on) { m_load = on; }

  private:
    QString m_caption = kOwnCaption;
    bool m_save = true;
    bool m_load = true;
};

TQRPrinter& QRPrinter();

// The paper and the margins of the laid-out pages, in form pixels.
struct PageGeometry {
    QPageSize pageSize;
    QSizeF paper;
    double leftMargin = 0;
    double rightMargin = 0;
    double topMargin = 0;
    double bottomMargin = 0;

    double bandWidth() const { return paper.width() - leftMargin - rightMargin; }
};

// `paper` in form pixels with the given left margin; right margin 0, top and bottom 10 mm.
PageGeometry pageGeometry(const QPageSize& paper, double leftMargin);

// A band on a page, with the texts of its labels as they were when the band was placed.
struct PlacedBand {
    const TQRBand* band;
    double top;                  // from the paper's top edge
    std::vector<QString> texts;  // parallel to band->labels
};

struct LaidOutPage {
    int number;  // from 1
    std::vector<PlacedBand> bands;
};

struct PreparedReport {
    PageGeometry geometry;
    std::vector<LaidOutPage> pages;
};

class TQuickReport {
  public:
    QString ReportTitle;
    bool TitleBeforeHeader = false;
    std::optional<QPageSize> PageSize;  // unset: the printer's default paper
    double LeftMargin = 0;
    std::vector<TQRBand*> Bands;  // not owned; at most one of each type

    // MoreData is preset true for the first call and false for later ones; a call that
    // leaves it true is followed by one detail band, the first that leaves it false by the
    // summary.
    std::function<void(bool& MoreData)> OnNeedData;
    // Called once per preparation, after its progress window opens; PrintReport is preset
    // true, and false stops the preparation.
    std::function<void(bool& PrintReport)> BeforePrint;
};

struct PrepareOptions {
    ProgressSink* progress = nullptr;
    std::function<QDateTime()> clock;  // unset: the current local time
    QPageSize paper;  // used when the report sets no PageSize; A4 when neither is valid
};

// Runs the callbacks and lays out every page. nullopt when cancelled through the progress
// sink or refused by BeforePrint.
std::optional<PreparedReport> prepareReport(TQuickReport& report, const PrepareOptions& options);

// The value of a date-and-time label: the locale's short date, then a blank and its long
// time, without the time at exactly midnight.
QString dateTimeText(const QDateTime& when);

}  // namespace pelmora::output
