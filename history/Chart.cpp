#include "history/Chart.h"

#include <QBuffer>
#include <QDateTime>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainterPath>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/qt/displayname.h"
#include "platform/replacefile.h"

namespace pelmora::history {

namespace {

// Distinct on white, also for the common kinds of colour blindness as far as eight lines allow.
constexpr QRgb kPalette[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e,
                             0x9467bd, 0x8c564b, 0xe377c2, 0x17becf};
constexpr std::size_t kPaletteSize = sizeof kPalette / sizeof kPalette[0];
constexpr int kMaxTimeTicks = 13;
constexpr std::size_t kMarkerLimit = 60;  // series with more points get no dots

const QColor kText(0x22, 0x22, 0x22);
const QColor kSubtle(0x66, 0x66, 0x66);
const QColor kGrid(0xe3, 0xe3, 0xe3);
const QColor kAxis(0x88, 0x88, 0x88);

QFont font(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QDate dateOf(std::int64_t t) {
    return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).date();
}

std::int64_t startOf(QDate d) {
    return QDateTime(d, QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
}

QString monthDay(QDate d) {
    return QLocale::c().monthName(d.month(), QLocale::ShortFormat) + ' ' + QString::number(d.day());
}

// Clock: every n seconds of the day (n divides a day); the others: every n of the unit.
enum class Unit { Clock, Day, Week, Month, Year };
struct Step {
    Unit unit;
    int n;
    double seconds;  // about
};
constexpr double kDay = 86400;
constexpr Step kSteps[] = {
    {Unit::Clock, 1, 1},
    {Unit::Clock, 2, 2},
    {Unit::Clock, 5, 5},
    {Unit::Clock, 10, 10},
    {Unit::Clock, 15, 15},
    {Unit::Clock, 30, 30},
    {Unit::Clock, 60, 60},
    {Unit::Clock, 120, 120},
    {Unit::Clock, 300, 300},
    {Unit::Clock, 600, 600},
    {Unit::Clock, 900, 900},
    {Unit::Clock, 1800, 1800},
    {Unit::Clock, 3600, 3600},
    {Unit::Clock, 10800, 10800},
    {Unit::Clock, 21600, 21600},
    {Unit::Clock, 43200, 43200},
    {Unit::Day, 1, kDay},
    {Unit::Day, 2, 2 * kDay},
    {Unit::Week, 1, 7 * kDay},
    {Unit::Week, 2, 14 * kDay},
    {Unit::Month, 1, 30.44 * kDay},
    {Unit::Month, 2, 61 * kDay},
    {Unit::Month, 3, 91 * kDay},
    {Unit::Month, 6, 183 * kDay},
    {Unit::Year, 1, 365.25 * kDay},
    {Unit::Year, 2, 730.5 * kDay},
    {Unit::Year, 5, 1826 * kDay},
    {Unit::Year, 10, 3652 * kDay},
    {Unit::Year, 20, 7305 * kDay},
    {Unit::Year, 50, 18262 * kDay},
    {Unit::Year, 100, 36525 * kDay},
};

std::vector<std::int64_t> tickTimes(const Step& step, std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> out;
    if (step.unit == Unit::Clock) {
        const std::int64_t s = step.n;
        std::int64_t t = from / s * s;  // the first multiple of s at or after from
        if (t < from) t += s;
        for (; t <= to && out.size() <= kMaxTimeTicks; t += s) out.push_back(t);
        return out;
    }
    QDate d = dateOf(from);
    if (startOf(d) < from) d = d.addDays(1);
    switch (step.unit) {
        case Unit::Week:
            d = d.addDays((8 - d.dayOfWeek()) % 7);  // the next Monday
            break;
        case Unit::Month:
            if (d.day() != 1) d = QDate(d.year(), d.month(), 1).addMonths(1);
            while ((d.month() - 1) % step.n != 0) d = d.addMonths(1);
            break;
        case Unit::Year:
            if (d.dayOfYear() != 1) d = QDate(d.year() + 1, 1, 1);
            while (d.year() % step.n != 0) d = d.addYears(1);
            break;
        default:
            break;
    }
    while (startOf(d) <= to && out.size() <= kMaxTimeTicks) {
        out.push_back(startOf(d));
        switch (step.unit) {
            case Unit::Day:
                d = d.addDays(step.n);
                break;
            case Unit::Week:
                d = d.addDays(7 * step.n);
                break;
            case Unit::Month:
                d = d.addMonths(step.n);
                break;
            default:
                d = d.addYears(step.n);
                break;
        }
    }
    return out;
}

// Half the axis around a lone snapshot, and the axis beside a range given by one bound only.
constexpr std::int64_t kLoneSnapshotMargin = 300;
constexpr std::int64_t kOpenRangeLength = 86400;

QString utcText(std::int64_t time, int length) {
    return QString::fromStdString(formatUtc(time).substr(0, static_cast<std::size_t>(length)))
        .replace('T', ' ');
}

// "from 2026-01-05 to 2026-12-28", or with the times when both lie on one date.
QString spanText(std::int64_t from, std::int64_t to) {
    if (formatUtc(from).substr(0, 10) == formatUtc(to).substr(0, 10))
        return QStringLiteral("from %1 to %2").arg(utcText(from, 19), utcText(to, 19).mid(11));
    return QStringLiteral("from %1 to %2").arg(utcText(from, 10), utcText(to, 10));
}

QString signedSize(double bytes) {
    if (bytes > 0) return '+' + binarySize(bytes);
    if (bytes < 0) return QChar(0x2212) + binarySize(-bytes);
    return QStringLiteral("±0 B");
}

}  // namespace

ChartData chartDataOf(const HistoryReport& report, const QString& title, const Range& range) {
    ChartData chart;
    chart.title = title;
    for (const DirectoryGrowth& g : report.directories)
        chart.series.push_back({g.path, g.series, g.bytesChange});
    const std::size_t n = report.snapshots.size();
    if (n == 0) {
        chart.from = range.since.value_or(range.until.value_or(nowUtc()) - kOpenRangeLength);
        chart.to = range.until.value_or(chart.from + kOpenRangeLength);
        chart.subtitle = QStringLiteral("No snapshot %1 (UTC)").arg(spanText(chart.from, chart.to));
        return chart;
    }
    const auto [lo, hi] = std::minmax_element(
        report.snapshots.begin(), report.snapshots.end(),
        [](const SnapshotInfo& a, const SnapshotInfo& b) { return a.time < b.time; });
    chart.from = lo->time;
    chart.to = hi->time;
    chart.subtitle = QStringLiteral("Bytes over time, %1 snapshot%2 %3 (UTC)")
                         .arg(n)
                         .arg(n == 1 ? "" : "s")
                         .arg(spanText(chart.from, chart.to));
    if (chart.from == chart.to) {
        chart.from -= kLoneSnapshotMargin;
        chart.to += kLoneSnapshotMargin;
    }
    return chart;
}

QString binarySize(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    const bool negative = bytes < 0;
    double v = std::fabs(bytes);
    int u = 0;
    while (u < 6 && v >= 1024) {
        v /= 1024;
        ++u;
    }
    const int decimals = u == 0 ? 0 : v < 10 ? 2 : v < 100 ? 1 : 0;
    return (negative ? QStringLiteral("-") : QString()) + QString::number(v, 'f', decimals) + ' ' +
           units[u];
}

ByteAxis byteAxis(double maxBytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (!(maxBytes > 0)) maxBytes = 1;
    int u = 0;
    double unit = 1;
    while (u < 6 && maxBytes >= unit * 1024) {
        unit *= 1024;
        ++u;
    }
    const double m = maxBytes / unit;  // 1 <= m < 1024, except below 1 byte
    double step = 0;
    int intervals = 0;
    for (double power = 0.1; step == 0; power *= 10)
        for (const double f : {1.0, 2.0, 5.0}) {
            const double s = f * power;
            if (u == 0 && s < 1) continue;  // no fractions of a byte
            const int n = std::max(1, static_cast<int>(std::ceil(m / s - 1e-9)));
            if (n <= 8) {
                step = s;
                intervals = n;
                break;
            }
        }
    const int decimals = step >= 1 ? 0 : 1;
    ByteAxis axis;
    axis.top = intervals * step * unit;
    for (int i = 0; i <= intervals; ++i) {
        axis.ticks.push_back(i * step * unit);
        axis.labels.push_back(i == 0 ? QStringLiteral("0")
                                     : QString::number(i * step, 'f', decimals) + ' ' + units[u]);
    }
    return axis;
}

std::vector<TimeTick> timeTicks(std::int64_t from, std::int64_t to) {
    std::vector<TimeTick> ticks;
    if (to < from) return ticks;
    const Step* chosen = &kSteps[std::size(kSteps) - 1];
    std::vector<std::int64_t> times;
    for (const Step& s : kSteps) {
        if (static_cast<double>(to - from) / s.seconds > kMaxTimeTicks + 1) continue;
        times = tickTimes(s, from, to);
        if (times.size() <= kMaxTimeTicks) {
            chosen = &s;
            break;
        }
    }
    QDate previous;
    for (const std::int64_t t : times) {
        const QDate d = dateOf(t);
        TimeTick tick;
        tick.time = t;
        switch (chosen->unit) {
            case Unit::Clock:
                tick.label = QDateTime::fromSecsSinceEpoch(t, Qt::UTC)
                                 .toString(chosen->n < 60 ? u"HH:mm:ss" : u"HH:mm");
                if (d != previous) tick.second = monthDay(d);
                break;
            case Unit::Day:
            case Unit::Week:
                tick.label = monthDay(d);
                if (!previous.isValid() || previous.year() != d.year())
                    tick.second = QString::number(d.year());
                break;
            case Unit::Month:
                tick.label = QLocale::c().monthName(d.month(), QLocale::ShortFormat);
                if (!previous.isValid() || previous.year() != d.year())
                    tick.second = QString::number(d.year());
                break;
            case Unit::Year:
                tick.label = QString::number(d.year());
                break;
        }
        previous = d;
        ticks.push_back(tick);
    }
    return ticks;
}

QString legendName(std::string_view path, const QFontMetricsF* metrics, double maxWidth) {
    QString name = platform::displayName(path);
    for (QChar& c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            c = QChar(QChar::ReplacementCharacter);
    }
    if (metrics != nullptr && maxWidth > 0)
        name = metrics->elidedText(name, Qt::ElideMiddle, maxWidth);
    return name;
}

void paintChart(QPainter& p, const QRectF& area, const ChartData& chart) {
    p.save();
    p.translate(area.topLeft());
    const double w = area.width();
    const double h = area.height();
    p.fillRect(QRectF(0, 0, w, h), Qt::white);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    const double legendWidth = std::min(320.0, w * 0.3);
    const QRectF plot(QPointF(96, 84), QPointF(w - legendWidth - 36, h - 72));

    // Title and the range it covers.
    p.setPen(kText);
    p.setFont(font(22, true));
    p.drawText(QPointF(plot.left(), 38), chart.title);
    p.setPen(kSubtle);
    p.setFont(font(14));
    p.drawText(QPointF(plot.left(), 62), chart.subtitle);
    const std::int64_t t0 = chart.from;
    const std::int64_t t1 = std::max(chart.to, chart.from + 1);
    double maxBytes = 0;
    for (const ChartSeries& s : chart.series)
        for (const Point& pt : s.points)
            maxBytes = std::max(maxBytes, static_cast<double>(pt.bytes));

    const ByteAxis yAxis = byteAxis(maxBytes);
    const auto xOf = [&](std::int64_t t) {
        return plot.left() +
               plot.width() * static_cast<double>(t - t0) / static_cast<double>(t1 - t0);
    };
    const auto yOf = [&](double b) { return plot.bottom() - plot.height() * b / yAxis.top; };

    // Grid and tick labels.
    p.setFont(font(13));
    const QFontMetricsF small(font(13));
    for (std::size_t i = 0; i < yAxis.ticks.size(); ++i) {
        const double y = yOf(yAxis.ticks[i]);
        p.setPen(QPen(i == 0 ? kAxis : kGrid, 1));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kText);
        const QString& label = yAxis.labels[i];
        p.drawText(QPointF(plot.left() - 10 - small.horizontalAdvance(label), y + 4.5), label);
    }
    for (const TimeTick& tick : timeTicks(t0, t1)) {
        const double x = xOf(tick.time);
        p.setPen(QPen(kGrid, 1));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(QPen(kAxis, 1));
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 5));
        p.setPen(kText);
        p.drawText(QPointF(x - small.horizontalAdvance(tick.label) / 2, plot.bottom() + 22),
                   tick.label);
        if (!tick.second.isEmpty()) {
            p.setPen(kSubtle);
            p.drawText(QPointF(x - small.horizontalAdvance(tick.second) / 2, plot.bottom() + 40),
                       tick.second);
        }
    }
    p.setPen(QPen(kAxis, 1));
    p.drawLine(plot.bottomLeft(), plot.topLeft());

    // The lines, then the legend beside the plot.
    const double legendX = plot.right() + 36;
    double legendY = plot.top() + 4;
    const QFontMetricsF legendMetrics(font(15));
    for (std::size_t i = 0; i < chart.series.size(); ++i) {
        const ChartSeries& s = chart.series[i];
        const QColor colour(kPalette[i % kPaletteSize]);
        QPen pen(colour, 2.5, i < kPaletteSize ? Qt::SolidLine : Qt::DashLine, Qt::RoundCap,
                 Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        QPainterPath line;
        for (std::size_t k = 0; k < s.points.size(); ++k) {
            const QPointF at(xOf(s.points[k].time), yOf(static_cast<double>(s.points[k].bytes)));
            if (k == 0)
                line.moveTo(at);
            else
                line.lineTo(at);
        }
        p.drawPath(line);
        if (s.points.size() <= kMarkerLimit) {
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            for (const Point& pt : s.points)
                p.drawEllipse(QPointF(xOf(pt.time), yOf(static_cast<double>(pt.bytes))), 3.5, 3.5);
            p.setBrush(Qt::NoBrush);
        }

        if (legendY + 80 > h && i + 1 < chart.series.size()) {  // room for one line more
            if (legendY + 30 > h) continue;
            p.setPen(kSubtle);
            p.setFont(font(13));
            p.drawText(QPointF(legendX + 32, legendY + 13),
                       QStringLiteral("and %1 more").arg(chart.series.size() - i));
            legendY = h;
            continue;
        }
        p.setPen(pen);
        p.drawLine(QPointF(legendX, legendY + 8), QPointF(legendX + 22, legendY + 8));
        p.setPen(kText);
        p.setFont(font(15));
        p.drawText(QPointF(legendX + 32, legendY + 13),
                   legendName(s.path, &legendMetrics, w - legendX - 32 - 12));
        if (!s.points.empty()) {
            const double last = static_cast<double>(s.points.back().bytes);
            const double change = static_cast<double>(s.change);
            p.setPen(kSubtle);
            p.setFont(font(13));
            p.drawText(QPointF(legendX + 32, legendY + 31),
                       binarySize(last) + QStringLiteral(", ") + signedSize(change));
        }
        legendY += 50;
    }
    p.restore();
}

std::optional<ChartFormat> chartFormatFor(std::string_view fileName) {
    const auto endsWith = [&](std::string_view ext) {
        if (fileName.size() <= ext.size()) return false;
        const std::string_view tail = fileName.substr(fileName.size() - ext.size());
        return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
            return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
        });
    };
    if (endsWith(".svg")) return ChartFormat::Svg;
    if (endsWith(".png")) return ChartFormat::Png;
    return std::nullopt;
}

namespace {

QByteArray render(ChartFormat format, const ChartData& chart) {
    const QRectF area(0, 0, kChartWidth, kChartHeight);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (format == ChartFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(kChartWidth, kChartHeight));
        svg.setViewBox(area);
        svg.setResolution(96);
        svg.setTitle(chart.title);
        svg.setDescription(QStringLiteral("Bytes over time of watched directories"));
        QPainter p;
        if (!p.begin(&svg)) return {};
        paintChart(p, area, chart);
        if (!p.end()) return {};
    } else {
        QImage image(kChartWidth, kChartHeight, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p;
        if (!p.begin(&image)) return {};
        paintChart(p, area, chart);
        p.end();
        if (!image.save(&buffer, "PNG")) return {};
    }
    return buffer.data();
}

}  // namespace

std::string writeChart(const std::string& fileName, ChartFormat format, const ChartData& chart) {
    const QByteArray bytes = render(format, chart);
    if (bytes.isEmpty()) return "cannot write '" + fileName + "': the chart could not be drawn";
    try {
        const platform::HeldSignals held;
        platform::ReplacementFile file(fileName);
        file.write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        file.commit();
    } catch (const platform::ReplaceError& e) {
        return "cannot write '" + fileName + "': " + std::strerror(e.error());
    } catch (const platform::PelmoraError& e) {
        return e.what();
    }
    return {};
}

}  // namespace pelmora::history
