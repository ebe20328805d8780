// The growth chart: bytes over time of a few watched directories, as lines on a dated time axis
// and a byte axis in binary units, with a legend of the directories' paths. Painted with
// QPainter, so the same function serves the SVG (QSvgGenerator) and the PNG (QImage) file.
// Needs a QGuiApplication (text), no window and no display.
#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/History.h"

namespace pelmora::history {

inline constexpr int kChartWidth = 1200;
inline constexpr int kChartHeight = 700;

struct ChartSeries {
    std::string path;           // the directory's bytes, as the list holds them
    std::vector<Point> points;  // in order of recording
    __int128 change = 0;        // over the range, as the report gives it (DirectoryGrowth)
};

struct ChartData {
    QString title;
    QString subtitle;                 // under the title, e.g. what the range holds
    std::vector<ChartSeries> series;  // legend order; each line gets the next colour
    // The time axis, from the first snapshot's time to the last one's (a lone snapshot in the
    // middle of ten minutes).
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// The series of a report's directories, in its order, on an axis that fits the snapshots'
// times; the subtitle names the range's snapshots ("Bytes over time, 52 snapshots from
// 2026-01-05 to 2026-12-28 (UTC)", with the times of day when they all fall on one date). A
// report without a snapshot in `range` gives no series, the range as the axis (a bound not
// given: a day beside the other) and the subtitle "No snapshot from ... to ... (UTC)".
ChartData chartDataOf(const HistoryReport& report, const QString& title, const Range& range = {});

// Paints the whole chart (white background included) into `area`.
void paintChart(QPainter& painter, const QRectF& area, const ChartData& chart);

enum class ChartFormat { Svg, Png };

// By the file name's extension, ".svg" or ".png" in any case; nullopt for anything else.
std::optional<ChartFormat> chartFormatFor(std::string_view fileName);

// Draws the chart at kChartWidth x kChartHeight and writes it to `fileName` as the data file is
// written (platform::ReplacementFile, the terminating signals held meanwhile): replaced as a
// whole, so a failure leaves any previous file as it was; never through a link to nothing or of
// another user's, never into a device, fifo or socket. Returns "" on success, else a one-line
// reason: "Cannot create file FILE" (refused, or the folder is missing), "cannot write 'FILE':
// No space left on device".
std::string writeChart(const std::string& fileName, ChartFormat format, const ChartData& chart);

// ---- axes and labels (the chart's own parts, open to tests) ----

struct ByteAxis {
    double top = 1;               // the axis' upper end in bytes (the lower end is 0)
    std::vector<double> ticks;    // from 0 to top
    std::vector<QString> labels;  // "0", "512 MiB", "1 GiB", "1.5 GiB", ...
};
// Ticks at 1, 2 or 5 times a power of ten of one binary unit (B, KiB, MiB, GiB, TiB, PiB, EiB),
// at most 8 intervals, the top at or above `maxBytes`.
ByteAxis byteAxis(double maxBytes);

struct TimeTick {
    std::int64_t time = 0;
    QString label;   // "Mar 3", "Mar", "2027", "06:00" or "06:00:30"
    QString second;  // the year (or the day, for ticks within a day) where it changes, else ""
};
// Ticks on whole seconds, minutes, hours, days, Mondays, first days of months or years (UTC),
// the step chosen so that at most 13 fall in [from, to].
std::vector<TimeTick> timeTicks(std::int64_t from, std::int64_t to);

// "0 B", "950 B", "1.50 KiB", "12.3 MiB", "512 GiB": three significant digits.
QString binarySize(double bytes);

// A path for the legend: decoded as UTF-8 (bytes that are not valid UTF-8 and control
// characters become U+FFFD), shortened in the middle with "…" to fit `maxWidth` pixels of
// `metrics` (no shortening when `maxWidth` is 0).
QString legendName(std::string_view path, const QFontMetricsF* metrics = nullptr,
                   double maxWidth = 0);

}  // namespace pelmora::history
