#include "cli/counting.h"

#include <charconv>
#include <cstring>

#include "cli/commands.h"
#include "cli/signals.h"

namespace pelmora::cli {

namespace {

class StringSink : public output::DataSink {
  public:
    std::string bytes;
    void write(std::string_view b) override { bytes.append(b); }
    void close() override {}
};

}  // namespace

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

stats::CountResult countDirectory(std::string_view dir, const Counting& counting) {
    stopIfInterrupted();
    stats::CountOptions options;
    options.jobs = counting.jobs != 0 ? counting.jobs : defaultJobs();
    options.allocated = counting.diskUsage;
    options.cancel = &interrupted();
    return stats::count(dir, options);
}

void reportErrors(std::string_view dir, const stats::CountResult& result) {
    for (const stats::CountError& e : result.errors)
        message("cannot read directory '" + e.path + "': " + std::strerror(e.error));
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
