#include "output/ReportEngine.h"

#include <QLocale>
#include <utility>

namespace pelmora::output {

TQRLabel::TQRLabel(TQRAlign align_, int top_, QFont font_, int left_, int width_)
    : align(align_), left(left_), width(width_), top(top_), font(std::move(font_)) {}

TQRLabel sysDataLabel(TQRSysData data, const QString& caption, TQRAlign align, int top,
                      QFont font) {
    TQRLabel label(align, top, std::move(font));
    label.data = data;
    label.setText(caption);
    return label;
}

const QString TQRPrinter::kOwnCaption = QStringLiteral("Report progress");

TQRPrinter& QRPrinter() {
    static TQRPrinter printer;
    return printer;
}

PageGeometry pageGeometry(const QPageSize& paper, double leftMargin) {
    PageGeometry g;
    g.pageSize = paper;
    g.paper = paper.size(QPageSize::Inch) * kFormDpi;
    g.leftMargin = leftMargin;
    g.rightMargin = 0;
    g.topMargin = 10.0 / 25.4 * kFormDpi;
    g.bottomMargin = g.topMargin;
    return g;
}

QString dateTimeText(const QDateTime& when) {
    const QLocale locale;
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    if (when.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(when.time(), QLocale::LongFormat);
    return text;
}

namespace {

const TQRBand* bandOf(const TQuickReport& report, TQRBandType type) {
    for (const TQRBand* band : report.Bands)
        if (band != nullptr && band->type == type) return band;
    return nullptr;
}

// Places bands on pages from the top down, keeping the footer's place at the bottom free.
class Layout {
  public:
    Layout(const TQuickReport& report, PreparedReport& out, std::function<QDateTime()> clock)
        : m_report(report), m_out(out), m_clock(std::move(clock)) {
        m_footer = bandOf(report, TQRBandType::rbPageFooter);
        const PageGeometry& g = out.geometry;
        m_footerTop = g.paper.height() - g.bottomMargin - (m_footer ? m_footer->height : 0);
    }

    void startPage() {
        m_out.pages.push_back(LaidOutPage{static_cast<int>(m_out.pages.size()) + 1, {}});
        m_y = m_out.geometry.topMargin;
        const TQRBand* header = bandOf(m_report, TQRBandType::rbPageHeader);
        const TQRBand* title =
            m_out.pages.size() == 1 ? bandOf(m_report, TQRBandType::rbTitle) : nullptr;
        if (m_report.TitleBeforeHeader) std::swap(header, title);
        put(header);
        put(title);
        put(bandOf(m_report, TQRBandType::rbColumnHeader));
        m_fresh = true;
    }

    // Puts `band` below the last one, on a new page when it would reach into the footer.
    void place(const TQRBand* band) {
        if (band == nullptr) return;
        if (!m_fresh && m_y + band->height > m_footerTop) {
            finishPage();
            startPage();
        }
        put(band);
        m_fresh = false;
    }

    void finishPage() {
        if (m_footer == nullptr) return;
        const double y = m_y;
        m_y = m_footerTop;
        put(m_footer);
        m_y = y;
    }

  private:
    void put(const TQRBand* band) {
        if (band == nullptr) return;
        LaidOutPage& page = m_out.pages.back();
        PlacedBand placed{band, m_y, {}};
        placed.texts.reserve(band->labels.size());
        for (const TQRLabel* label : band->labels) placed.texts.push_back(textOf(*label, page));
        page.bands.push_back(std::move(placed));
        m_y += band->height;
    }

    QString textOf(const TQRLabel& label, const LaidOutPage& page) const {
        switch (label.data) {
            case TQRSysData::None:
                return label.text();
            case TQRSysData::DateTime:
                return label.text() + dateTimeText(m_clock());
            case TQRSysData::ReportTitle:
                return label.text() + m_report.ReportTitle;
            case TQRSysData::PageNumber:
                return label.text() + QString::number(page.number);
        }
        return label.text();
    }

    const TQuickReport& m_report;
    PreparedReport& m_out;
    std::function<QDateTime()> m_clock;
    const TQRBand* m_footer = nullptr;
    double m_footerTop = 0;
    double m_y = 0;
    bool m_fresh = true;  // nothing but the page's own headers on it yet
};

// Closes the progress window however the preparation ends.
class ProgressScope {
  public:
    explicit ProgressScope(ProgressSink* sink) : m_sink(sink) {}
    ~ProgressScope() {
        if (m_sink) m_sink->close();
    }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

  private:
    ProgressSink* m_sink;
};

}  // namespace

std::optional<PreparedReport> prepareReport(TQuickReport& report, const PrepareOptions& options) {
    PreparedReport out;
    QPageSize paper = report.PageSize.value_or(options.paper);
    if (!paper.isValid()) paper = QPageSize(QPageSize::A4);
    out.geometry = pageGeometry(paper, report.LeftMargin);
    std::function<QDateTime()> clock =
        options.clock ? options.clock : [] { return QDateTime::currentDateTime(); };

    ProgressSink* progress = options.progress;
    // The window opens with the caption in force now; BeforePrint may change it for later ones.
    if (progress)
        progress->open(QRPrinter().progressCaption(), "Preparing report " + report.ReportTitle);
    ProgressScope scope(progress);

    bool printReport = true;
    if (report.BeforePrint) report.BeforePrint(printReport);
    if (!printReport) return std::nullopt;

    Layout layout(report, out, std::move(clock));
    layout.startPage();
    const TQRBand* detail = bandOf(report, TQRBandType::rbDetail);
    for (bool first = true;; first = false) {
        if (progress && !progress->step()) return std::nullopt;
        bool moreData = first;
        if (report.OnNeedData)
            report.OnNeedData(moreData);
        else
            moreData = false;
        if (!moreData) break;
        layout.place(detail);
    }
    layout.place(bandOf(report, TQRBandType::rbSummary));
    layout.finishPage();
    return out;
}

}  // namespace pelmora::output
