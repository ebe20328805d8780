// pelmora-cli export [--jobs N] LIST: writes LIST's data file beside it, without a window.
//
// LIST is an ordinary path, used as given. The cluster overhead is that of the volume of the
// current directory, probed once. The data file is replaced in one step (a failure leaves the
// previous one whole), and a second export of the same list while one runs is refused at once.
// Exit status: 0 when the data file was written or the list is empty, 1 when the list cannot be
// read or the data file cannot be written (out of memory included), 2 bad usage.
#include <iostream>
#include <new>
#include <vector>

#include "cli/commands.h"
#include "list/listfile.h"
#include "list/watchedlist.h"
#include "output/DataFile.h"
#include "platform/ioerror.h"
#include "platform/paths.h"
#include "stats/counting.h"
#include "stats/engine.h"

namespace pelmora::cli {

namespace {

int fail(const std::string& message) {
    std::cerr << "pelmora-cli: " << message << ".\n";
    return 1;
}

}  // namespace

int runExport(const Args& args) {
    unsigned jobs = defaultJobs();
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a.front() != '-') {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--jobs" || a == "-j" || a.rfind("--jobs=", 0) == 0) {
            std::string value;
            if (a == "--jobs" || a == "-j") {
                if (i + 1 >= args.size()) return usageError("export: --jobs needs a number");
                value = args[++i];
            } else {
                value = a.substr(7);
            }
            if (!parseJobs(value, jobs))
                return usageError("export: --jobs needs a number from 1 to 1024");
        } else {
            return usageError("export: unknown option '" + a + "'");
        }
    }
    if (positional.size() != 1 || positional.front().empty())
        return usageError("export: exactly one list file is needed");
    const std::string& listPath = positional.front();

    try {
        stats::ProbeVolume();
        if (!platform::fileExists(listPath)) return fail("File " + listPath + " not found");
        list::WatchedList watched;
        list::loadList(watched, listPath);
        if (watched.count() == 0) {
            std::cout << "The list is empty.\n";
            return 0;
        }
        const std::int32_t entryOverhead = stats::EntryOverhead;
        stats::CountOptions options;
        options.jobs = jobs;
        const output::CountFunction count = [&](std::string_view dir) {
            return output::figuresOf(stats::count(dir, options), entryOverhead);
        };
        const std::string name =
            output::exportDataFile(watched, output::dataFileName(listPath), listPath, count);
        std::cout << "File " << name << " created.\n";
        return 0;
    } catch (const std::bad_alloc&) {
        throw;  // main's "out of memory"
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace pelmora::cli
