#include "history/Chart.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainterPath>
#include <QSaveFile>
#include <QSvgGenerator>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/qt/displayname.h"

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

enum class Unit { Hour, Day, Week, Month, Year };
struct Step {
    Unit unit;
    int n;
    double seconds;  // about
};
constexpr double kDay = 86400;
constexpr Step kSteps[] = {
    {Unit::Hour, 1, 3600},           {Unit::Hour, 3, 3 * 3600},     {Unit::Hour, 6, 6 * 3600},
    {Unit::Hour, 12, 12 * 3600},     {Unit::Day, 1, kDay},          {Unit::Day, 2, 2 * kDay},
    {Unit::Week, 1, 7 * kDay},       {Unit::Week, 2, 14 * kDay},    {Unit::Month, 1, 30.44 * kDay},
    {Unit::Month, 2, 61 * kDay},     {Unit::Month, 3, 91 * kDay},   {Unit::Month, 6, 183 * kDay},
    {Unit::Year, 1, 365.25 * kDay},  {Unit::Year, 2, 730.5 * kDay}, {Unit::Year, 5, 1826 * kDay},
    {Unit::Year, 10, 3652 * kDay},   {Unit::Year, 20, 7305 * kDay}, {Unit::Year, 50, 18262 * kDay},
    {Unit::Year, 100, 36525 * kDay},
};

std::vector<std::int64_t> tickTimes(const Step& step, std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> out;
    if (step.unit == Unit::Hour) {
        const std::int64_t s = 3600LL * step.n;
        std::int64_t t = (from / s + (from % s > 0 ? 1 : 0)) * s;
        if (from < 0 && from % s != 0) t = from / s * s;
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

// The x range of the chart: the data's times, at least two hours wide.
std::pair<std::int64_t, std::int64_t> timeRange(const ChartData& chart) {
    std::int64_t lo = std::numeric_limits<std::int64_t>::max();
    std::int64_t hi = std::numeric_limits<std::int64_t>::min();
    for (const ChartSeries& s : chart.series)
        for (const Point& p : s.points) {
            lo = std::min(lo, p.time);
            hi = std::max(hi, p.time);
        }
    if (lo > hi) lo = hi = 0;
    if (hi - lo < 7200) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        lo = mid - 3600;
        hi = mid + 3600;
    }
    return {lo, hi};
}

QString signedSize(double bytes) {
    if (bytes > 0) return '+' + binarySize(bytes);
    if (bytes < 0) return QChar(0x2212) + binarySize(-bytes);
    return QStringLiteral("±0 B");
}

}  // namespace

ChartData chartDataOf(const HistoryReport& report, const QString& title) {
    ChartData chart;
    chart.title = title;
    for (const DirectoryGrowth& g : report.directories) chart.series.push_back({g.path, g.series});
    const std::size_t n = report.snapshots.size();
    if (n != 0) {
        const auto [lo, hi] = std::minmax_element(
            report.snapshots.begin(), report.snapshots.end(),
            [](const SnapshotInfo& a, const SnapshotInfo& b) { return a.time < b.time; });
        chart.subtitle = QStringLiteral("Bytes over time, %1 snapshot%2 from %3 to %4 (UTC)")
                             .arg(n)
                             .arg(n == 1 ? "" : "s")
                             .arg(QString::fromStdString(formatUtc(lo->time).substr(0, 10)),
                                  QString::fromStdString(formatUtc(hi->time).substr(0, 10)));
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
            case Unit::Hour:
                tick.label = QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(u"HH:mm");
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
    const auto [t0, t1] = timeRange(chart);
    double maxBytes = 0;
    for (const ChartSeries& s : chart.series)
        for (const Point& pt : s.points)
            maxBytes = std::max(maxBytes, static_cast<double>(pt.bytes));

    const ByteAxis yAxis = byteAxis(maxBytes);
    const auto xOf = [&, t0 = t0, t1 = t1](std::int64_t t) {
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
            const double change =
                static_cast<double>(s.points.back().bytes - s.points.front().bytes);
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

std::string failure(const std::string& fileName, const QFileDevice& f) {
    return "cannot write '" + fileName + "': " + f.errorString().toStdString();
}

}  // namespace

std::string writeChart(const std::string& fileName, ChartFormat format, const ChartData& chart) {
    const QByteArray bytes = render(format, chart);
    if (bytes.isEmpty()) return "cannot write '" + fileName + "': the chart could not be drawn";
    const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));

    struct stat st;
    if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly)) return failure(fileName, f);
        if (f.write(bytes) != bytes.size() || !f.flush()) return failure(fileName, f);
        f.close();
        if (f.error() != QFileDevice::NoError) return failure(fileName, f);
        return {};
    }
    QSaveFile f(name);
    if (!f.open(QIODevice::WriteOnly)) return failure(fileName, f);
    if (f.write(bytes) != bytes.size()) {
        const std::string reason = failure(fileName, f);
        f.cancelWriting();
        return reason;
    }
    if (!f.commit()) return failure(fileName, f);
    return {};
}

}  // namespace pelmora::history
