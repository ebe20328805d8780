// The growth chart: a well-formed SVG that names the directories, a PNG of the chart's size,
// axes in binary units and dates that fit any range, and pelmora-chart's exit statuses,
// refusals and silence.
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QXmlStreamReader>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "history/Chart.h"
#include "tests/support/TempTree.h"

namespace pelmora::history {
namespace {

using test::readFile;
using test::TempTree;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kJan5 = 1767571200;  // 2026-01-05T00:00:00Z, a Monday

ChartData sample() {
    ChartData chart;
    chart.title = QStringLiteral("WEEKLY.PML");
    const char* const names[] = {"/srv/a,b", "/srv/\"q\" & <x>", "/srv/caf\xe9", "/srv/bell\x07"};
    for (int i = 0; i < 4; ++i) {
        ChartSeries s;
        s.path = names[i];
        for (int w = 0; w < 52; ++w)
            s.points.push_back({kJan5 + w * 7 * kDay, (i + 1) * (1LL << 30) + w * (1LL << 26)});
        s.change = s.points.back().bytes - s.points.front().bytes;
        chart.series.push_back(s);
    }
    chart.from = kJan5;
    chart.to = kJan5 + 51 * 7 * kDay;
    return chart;
}

TEST(Chart, SvgIsWellFormedXmlNamingTheDirectories) {
    TempTree t;
    const std::string file = t.path("chart.svg");
    ASSERT_EQ(writeChart(file, ChartFormat::Svg, sample()), "");
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    QString text, root, viewBox;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && root.isEmpty()) {
            root = xml.name().toString();
            viewBox = xml.attributes().value("viewBox").toString();
        }
        // Text in a fallback font (U+FFFD) comes as an element of its own, next in order.
        if (xml.isCharacters() && !xml.isWhitespace()) text += xml.text().toString();
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(root, "svg");
    EXPECT_EQ(viewBox, "0 0 1200 700");
    for (const QString& name : {QStringLiteral("/srv/a,b"), QStringLiteral("/srv/\"q\" & <x>"),
                                QStringLiteral("/srv/caf\uFFFD"), QStringLiteral("/srv/bell\uFFFD"),
                                QStringLiteral("WEEKLY.PML"), QStringLiteral("Jul")})
        EXPECT_TRUE(text.contains(name)) << name.toStdString();
}

TEST(Chart, PngDecodesAtTheChartsSize) {
    TempTree t;
    const std::string file = t.path("chart.PNG");
    ASSERT_EQ(chartFormatFor(file), ChartFormat::Png);
    ASSERT_EQ(writeChart(file, ChartFormat::Png, sample()), "");
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(file)));
    EXPECT_EQ(image.size(), QSize(1200, 700));
    int firstColour = 0;  // the first line and its legend sample
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            firstColour += (image.pixel(x, y) & 0xffffff) == 0x1f77b4;
    EXPECT_GT(firstColour, 100);
}

// Two snapshots seven seconds apart: the line runs across the plot, not up one column.
TEST(Chart, ARangeOfSecondsSpreadsAcrossThePlot) {
    HistoryReport report;
    report.snapshots = {{1, kJan5, "box", "L.PML"}, {2, kJan5 + 7, "box", "L.PML"}};
    DirectoryGrowth g;
    g.path = "/srv/a";
    g.series = {{kJan5, 1 << 20}, {kJan5 + 7, 6 << 20}};
    report.directories = {g};
    TempTree t;
    const std::string file = t.path("short.png");
    ASSERT_EQ(writeChart(file, ChartFormat::Png, chartDataOf(report, "L.PML")), "");
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(file)));
    int columns = 0;  // of the plot (left of the legend) that show the line's colour
    for (int x = 0; x < 800; ++x)
        for (int y = 84; y < image.height() - 72; ++y)
            if ((image.pixel(x, y) & 0xffffff) == 0x1f77b4) {
                ++columns;
                break;
            }
    EXPECT_GT(columns, 500);
}

TEST(ChartAxes, TheTimeAxisFitsTheSnapshotsOrTheRange) {
    struct Case {
        std::vector<std::int64_t> times;
        Range range;
        std::int64_t from, to;
        QString subtitle;
    };
    const Case cases[] = {
        {{kJan5, kJan5 + 7},
         {},
         kJan5,
         kJan5 + 7,
         "Bytes over time, 2 snapshots from 2026-01-05 00:00:00 to 00:00:07 (UTC)"},
        {{kJan5, kJan5 + 364 * kDay},
         {},
         kJan5,
         kJan5 + 364 * kDay,
         "Bytes over time, 2 snapshots from 2026-01-05 to 2027-01-04 (UTC)"},
        {{kJan5},
         {},
         kJan5 - 300,
         kJan5 + 300,
         "Bytes over time, 1 snapshot from 2026-01-05 00:00:00 to 00:00:00 (UTC)"},
        {{},
         {kJan5, kJan5 + 2 * kDay},
         kJan5,
         kJan5 + 2 * kDay,
         "No snapshot from 2026-01-05 to 2026-01-07 (UTC)"},
        {{}, {kJan5, {}}, kJan5, kJan5 + kDay, "No snapshot from 2026-01-05 to 2026-01-06 (UTC)"},
        {{}, {{}, kJan5}, kJan5 - kDay, kJan5, "No snapshot from 2026-01-04 to 2026-01-05 (UTC)"},
    };
    for (const Case& c : cases) {
        HistoryReport report;
        for (const std::int64_t time : c.times)
            report.snapshots.push_back(
                {static_cast<std::int64_t>(report.snapshots.size() + 1), time, "box", "L.PML"});
        const ChartData chart = chartDataOf(report, "L.PML", c.range);
        EXPECT_EQ(chart.from, c.from) << c.subtitle.toStdString();
        EXPECT_EQ(chart.to, c.to) << c.subtitle.toStdString();
        EXPECT_EQ(chart.subtitle, c.subtitle);
    }
}

TEST(ChartAxes, BytesInBinaryUnitsWithRoundSteps) {
    const double GiB = 1024.0 * 1024 * 1024;
    struct Case {
        double max, top;
        std::vector<QString> labels;
    };
    const Case cases[] = {
        {0, 1, {"0", "1 B"}},
        {1000, 1000, {"0", "200 B", "400 B", "600 B", "800 B", "1000 B"}},
        {1.5 * GiB,
         1.6 * GiB,
         {"0", "0.2 GiB", "0.4 GiB", "0.6 GiB", "0.8 GiB", "1.0 GiB", "1.2 GiB", "1.4 GiB",
          "1.6 GiB"}},
        {88.8 * GiB, 100 * GiB, {"0", "20 GiB", "40 GiB", "60 GiB", "80 GiB", "100 GiB"}},
        {3 * 1024 * GiB,
         3 * 1024 * GiB,
         {"0", "0.5 TiB", "1.0 TiB", "1.5 TiB", "2.0 TiB", "2.5 TiB", "3.0 TiB"}},
    };
    for (const Case& c : cases) {
        const ByteAxis axis = byteAxis(c.max);
        EXPECT_DOUBLE_EQ(axis.top, c.top) << c.max;
        EXPECT_EQ(axis.labels, c.labels) << c.max;
    }
    EXPECT_EQ(binarySize(950), "950 B");
    EXPECT_EQ(binarySize(1536), "1.50 KiB");
    EXPECT_EQ(binarySize(12.34 * 1024 * 1024), "12.3 MiB");
}

TEST(ChartAxes, DatesByTheLengthOfTheRange) {
    struct Case {
        std::int64_t from, to;
        std::vector<QString> labels;
        std::vector<QString> seconds;  // the non-empty second lines, in order
    };
    const Case cases[] = {
        {kJan5,
         kJan5 + 51 * 7 * kDay,  // a year of weeks: months
         {"Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
         {"2026"}},
        {kJan5 + 12 * 3600,
         kJan5 + 9 * kDay + 12 * 3600,  // days
         {"Jan 6", "Jan 7", "Jan 8", "Jan 9", "Jan 10", "Jan 11", "Jan 12", "Jan 13", "Jan 14"},
         {"2026"}},
        {kJan5 - 4 * 3600,
         kJan5 + 3 * 3600,  // hours across a new year
         {"20:00", "21:00", "22:00", "23:00", "00:00", "01:00", "02:00", "03:00"},
         {"Jan 4", "Jan 5"}},
        {kJan5 - 3 * kDay,
         kJan5 + 60 * kDay,  // two months: Mondays
         {"Jan 5", "Jan 12", "Jan 19", "Jan 26", "Feb 2", "Feb 9", "Feb 16", "Feb 23", "Mar 2"},
         {"2026"}},
        {kJan5 - 30 * 365 * kDay,
         kJan5,  // thirty years
         {"2000", "2005", "2010", "2015", "2020", "2025"},
         {}},
        {kJan5 - 3,
         kJan5 + 4,  // seven seconds across midnight
         {"23:59:57", "23:59:58", "23:59:59", "00:00:00", "00:00:01", "00:00:02", "00:00:03",
          "00:00:04"},
         {"Jan 4", "Jan 5"}},
        {kJan5 + 3600 + 20,
         kJan5 + 3600 + 620,  // ten minutes: one a minute
         {"01:01", "01:02", "01:03", "01:04", "01:05", "01:06", "01:07", "01:08", "01:09", "01:10"},
         {"Jan 5"}},
        {kJan5 + 90,
         kJan5 + 150,  // a minute: every five seconds
         {"00:01:30", "00:01:35", "00:01:40", "00:01:45", "00:01:50", "00:01:55", "00:02:00",
          "00:02:05", "00:02:10", "00:02:15", "00:02:20", "00:02:25", "00:02:30"},
         {"Jan 5"}},
    };
    for (const Case& c : cases) {
        std::vector<QString> labels, seconds;
        for (const TimeTick& tick : timeTicks(c.from, c.to)) {
            labels.push_back(tick.label);
            if (!tick.second.isEmpty()) seconds.push_back(tick.second);
            EXPECT_TRUE(tick.time >= c.from && tick.time <= c.to);
        }
        EXPECT_EQ(labels, c.labels) << c.from;
        EXPECT_EQ(seconds, c.seconds) << c.from;
    }
}

TEST(ChartLegend, LongNamesShortenedInTheMiddle) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(15);
    const QFontMetricsF metrics(font);
    const std::string path = "/home/alice/Videos/" + std::string(200, 'x') + "/masters";
    const QString name = legendName(path, &metrics, 260);
    EXPECT_TRUE(name.startsWith("/home/alice/")) << name.toStdString();
    EXPECT_TRUE(name.endsWith("/masters")) << name.toStdString();
    EXPECT_TRUE(name.contains(QChar(0x2026)));
    EXPECT_LE(metrics.horizontalAdvance(name), 260);
    EXPECT_EQ(legendName("/short"), "/short");
}

struct ChartRun {
    int status = -1;
    std::string err;
};

// pelmora-chart in `cwd` with a bare environment: no XDG_RUNTIME_DIR, no Qt platform.
ChartRun runChart(const std::vector<std::string>& args, const std::string& cwd) {
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() +
                            "/../bin/pelmora-chart";
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "TMPDIR=" + cwd};
    for (const char* keep : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    int err[2];
    if (::pipe(err) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], 2);
        ::close(err[0]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())}, envp;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        ::execve(exe.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(err[1]);
    ChartRun run;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(err[0], buf, sizeof buf)) > 0) run.err.append(buf, n);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(ChartProgram, ExitStatusesAndOneLineMessages) {
    TempTree t;
    Snapshot s{kJan5, "box", "/l/L.PML", {}};
    Row r;
    r.entry = "/srv/data";
    s.rows = {r};
    recordSnapshot(t.path("L.PML"), s);
    s.time = *s.time + 7 * kDay;
    s.rows[0].bytes = 1 << 20;
    recordSnapshot(t.path("L.PML"), s);
    std::filesystem::create_symlink("/dev/full", t.path("full.svg"));
    t.write("TARGET", "root's");
    std::filesystem::create_symlink(t.path("TARGET"), t.path("planted.svg"));
    ASSERT_EQ(::lchown(t.path("planted.svg").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::mkfifo(t.path("fifo.svg").c_str(), 0666), 0);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the message, or its start
    };
    const Case cases[] = {
        {{"L.PML", "-o", "out.svg"}, 0, ""},
        {{"L.PML", "--top", "3", "--since", "2026-01-01", "-o", "out.png"}, 0, ""},
        {{"L.PML", "--since", "2027-01-01", "-o", "empty.png"}, 0, ""},  // drawn, without lines
        {{"NONE.PML", "-o", "x.png"},
         3,
         "pelmora-cli: no history for NONE.PML yet: run pelmora-cli export --history"},
        {{"L.PML", "-o", "x.pdf"}, 2, "pelmora-cli: history: the chart's file name"},
        {{"L.PML", "--top", "0", "-o", "x.png"}, 2, "pelmora-cli: history: --top needs"},
        {{"L.PML", "--top", "101", "-o", "x.png"},
         2,
         "pelmora-cli: history: --top needs a number from 1 to 100"},
        {{"L.PML", "--until", "2026-02-30", "-o", "x.png"},
         2,
         "pelmora-cli: history: invalid date '2026-02-30' (use YYYY-MM-DD"},
        {{"L.PML", "--since", "2026-03-01", "--until", "2026-02-01", "-o", "x.png"},
         2,
         "pelmora-cli: history: --since lies after --until"},
        {{"L.PML"}, 2, "pelmora-cli: history: missing -o FILE"},
        {{"L.PML", "-o", "full.svg"}, 3, "pelmora-cli: Cannot create file full.svg\n"},
        {{"L.PML", "-o", "planted.svg"}, 3, "pelmora-cli: Cannot create file planted.svg\n"},
        {{"L.PML", "-o", "fifo.svg"}, 3, "pelmora-cli: Cannot create file fifo.svg\n"},
        {{"L.PML", "-o", "missing/x.png"}, 3, "pelmora-cli: Cannot create file missing/x.png\n"},
    };
    for (const Case& c : cases) {
        const ChartRun run = runChart(c.args, t.root());
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), c.err.empty() ? 0 : 1);
    }
    for (const char* written : {"out.svg", "out.png", "empty.png"})
        EXPECT_GT(std::filesystem::file_size(t.path(written)), 1000u) << written;
    EXPECT_FALSE(std::filesystem::exists(t.path("x.png")));
    EXPECT_EQ(readFile(t.path("TARGET")), "root's");
    EXPECT_TRUE(std::filesystem::is_fifo(t.path("fifo.svg")));
    for (const std::string& name : test::namesIn(t.root()))  // no temporary file
        EXPECT_FALSE(name.starts_with(".~")) << name;
    for (const auto& e : std::filesystem::directory_iterator(t.root()))  // no runtime folder left
        EXPECT_FALSE(e.path().filename().string().starts_with("pelmora-chart-")) << e.path();
}

}  // namespace
}  // namespace pelmora::history
