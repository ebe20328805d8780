#include "cli/counting.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/signals.h"
#include "cli/progress.h"
#include "platform/locale.h"
#include "platform/replacefile.h"

namespace pelmora::cli {

namespace {

class StringSink : public output::DataSink {
  public:
    std::string bytes;
    void write(std::string_view b) override { bytes.append(b); }
    void close() override {}
};

std::size_t terminalWidth() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace

// The status line on a terminal's stderr while a count runs: shown at once, brought up to date
// every 100 ms from the engine's running figures, erased when the count ends (or is stopped).
class ProgressLine {
  public:
    ProgressLine(std::string_view dir, stats::CountProgress& progress)
        : m_progress(progress),
          m_width(terminalWidth()),
          m_separator(platform::localeThousandsSeparator()) {
        show(0, 0, dir);
        m_thread = std::thread([this] { run(); });
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
        platform::writeAll(STDERR_FILENO, "\r\033[K");
    }

  private:
    void run() {
        std::unique_lock<std::mutex> g(m_lock);
        m_progress.wantDirectory.store(true, std::memory_order_relaxed);
        while (!m_wake.wait_for(g, std::chrono::milliseconds(100), [this] { return m_done; })) {
            std::string dir;
            {
                std::lock_guard<std::mutex> d(m_progress.lock);
                dir = m_progress.directory;
            }
            m_progress.wantDirectory.store(true, std::memory_order_relaxed);
            if (dir.empty()) dir = m_last;
            show(m_progress.entries.load(std::memory_order_relaxed),
                 m_progress.bytes.load(std::memory_order_relaxed), dir);
        }
    }

    void show(std::int64_t entries, std::uint64_t bytes, std::string_view dir) {
        m_last = dir;
        // A progress line that cannot be shown is no error: the result of the write is left.
        platform::writeAll(
            STDERR_FILENO,
            "\r" + progressText(entries, bytes, dir, m_width, m_separator) + "\033[K");
    }

    stats::CountProgress& m_progress;
    const std::size_t m_width;
    const char m_separator;
    std::string m_last;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

bool parseJobs(const std::string& text, unsigned& jobs) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 1024)
        return false;
    jobs = value;
    return true;
}

unsigned defaultJobs() {
    return stats::defaultJobs();
}

std::string Counting::take(int id, const std::string& value) {
    switch (id) {
        case kOptJobs:
            if (!parseJobs(value, jobs)) return "--jobs needs a number from 1 to 1024";
            break;
        case kOptQuiet:
            quiet = true;
            break;
        case kOptDiskUsage:
            diskUsage = true;
            break;
        default:
            break;
    }
    return {};
}

stats::CountOptions countOptions(const Counting& counting) {
    stats::CountOptions options;
    options.jobs = counting.jobs != 0 ? counting.jobs : defaultJobs();
    options.allocated = counting.diskUsage;
    options.cancel = &interrupted();
    return options;
}

Progress::Progress(std::string_view first, const Counting& counting) {
    if (counting.quiet || ::isatty(STDERR_FILENO) == 0) return;
    m_figures = std::make_unique<stats::CountProgress>();
    m_line = std::make_unique<ProgressLine>(first, *m_figures);
}

Progress::~Progress() = default;

namespace {

stats::CountOptions optionsFor(const Counting& counting, const CountRules& rules) {
    stats::CountOptions options = countOptions(counting);
    options.depth = rules.depth;
    options.hidden = rules.hidden;
    options.noteHidden = rules.noteHidden;
    options.exclude = rules.exclude;
    return options;
}

}  // namespace

CountedList::CountedList(std::vector<std::string> entries, const Counting& counting,
                         const CountRules& rules) {
    stopIfInterrupted();
    stats::CountOptions options = optionsFor(counting, rules);
    if (!entries.empty()) {
        m_progress = std::make_unique<Progress>(entries.front(), counting);
        options.progress = m_progress->figures();
    }
    m_counts = std::make_unique<stats::ListCount>(std::move(entries), options);
}

CountedList::CountedList(std::size_t size, stats::ListCount::EntryAt entryAt,
                         const Counting& counting, unsigned depth) {
    stopIfInterrupted();
    CountRules rules;
    rules.depth = depth;
    stats::CountOptions options = optionsFor(counting, rules);
    if (size > 0) {
        m_progress = std::make_unique<Progress>(entryAt(0), counting);
        options.progress = m_progress->figures();
    }
    m_counts = std::make_unique<stats::ListCount>(size, std::move(entryAt), options);
}

CountedList::~CountedList() = default;

void reportErrors(std::string_view dir, const stats::CountResult& result) {
    for (const stats::CountError& e : result.errors)
        message({"cannot read directory '", e.path, "': ", std::strerror(e.error)});
    const std::int64_t more = result.errorCount - static_cast<std::int64_t>(result.errors.size());
    if (more > 0)
        message("and " + std::to_string(more) + " more director" + (more == 1 ? "y" : "ies") +
                " below '" + std::string(dir) + "' that could not be read");
}

std::string dataLine(std::string_view entry, const output::LineFigures& figures,
                     const std::int64_t* allocated) {
    StringSink line;
    output::writeDataLine(line, entry, figures);
    if (allocated != nullptr)
        line.bytes.insert(line.bytes.size() - 2, "," + std::to_string(*allocated));
    return line.bytes;
}

}  // namespace pelmora::cli
