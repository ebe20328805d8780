// The usage texts, the usage-error and message helpers: one place for every subcommand, and
// for pelmora-report, which prints its messages in pelmora-cli's name.
#include <cstring>
#include <iostream>

#include "cli/commands.h"
#include "cli/stdout.h"
#include "pelmora/version.h"

namespace pelmora::cli {

namespace {

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0    all figures complete, everything written\n"
    "  1    written, but some directory could not be read (the messages say which)\n"
    "  2    bad usage\n"
    "  3    the work failed: the list or the history could not be read, or the data file,\n"
    "       PDF, chart or standard output could not be written in full\n"
    "  130  stopped by SIGINT (143: SIGTERM); no temporary file is left, the previous data\n"
    "       file stays as it was\n";

constexpr const char* kCommon =
    "  -j, --jobs N     count with N threads (1 to 1024; default: sixteen per core)\n"
    "  -q, --quiet      no progress line on a terminal's stderr\n"
    "  -h, --help       this text\n";

struct Help {
    const char* command;
    const char* usage;
    const char* text;
    bool counts;  // takes the counting options
};

constexpr Help kHelp[] = {
    {"count", "pelmora-cli count [OPTIONS] DIR...",
     "Counts the directories, files and bytes below each DIR (names beginning with '.' are\n"
     "left out, mount points are not entered) and prints the Stats panel's four lines.\n"
     "  --csv            one data-file line per DIR instead (LF line ends)\n"
     "  --json           one JSON array: per DIR \"path\", \"directories\", \"files\", \"bytes\",\n"
     "                   \"overhead\", \"incomplete\", \"errors\" [{\"path\", \"error\"}] and, "
     "with\n"
     "                   --disk-usage, \"allocated\"; a path that is not valid UTF-8 has U+FFFD\n"
     "                   for each invalid byte and \"path_bytes\": the base64 of its bytes\n"
     "  --disk-usage     also the space on disk (st_blocks x 512, hard links once): the line\n"
     "                   \"Space On Disk N\", a sixth CSV field, or \"allocated\"\n",
     true},
    {"export", "pelmora-cli export [OPTIONS] LIST",
     "Writes LIST's data file (LIST's name with \".TXT\" in place of its extension), replacing\n"
     "the previous one in one step, and prints \"File NAME created.\" or \"The list is empty.\"\n"
     "  -o, --output FILE  write the data file to FILE instead; \"-\" for standard output\n"
     "  --history        also record the snapshot in LIST's history (LIST.history.sqlite)\n"
     "  --metrics FILE   also write the figures as Prometheus metrics to FILE (\"-\" for\n"
     "                   standard output), after the data file and only when it was written\n"
     "  --disk-usage     add the space on disk as a sixth field of each line\n",
     true},
    {"snapshot", "pelmora-cli snapshot [OPTIONS] LIST",
     "Counts LIST's directories and records the snapshot in its history\n"
     "(LIST.history.sqlite beside it), without writing a data file.\n"
     "  --metrics FILE   also write the figures as Prometheus metrics to FILE (\"-\" for\n"
     "                   standard output), after the snapshot and only when it was recorded\n"
     "  --disk-usage     also record the space on disk\n",
     true},
    {"history", "pelmora-cli history [OPTIONS] LIST",
     "The growth of LIST's directories between the first and the last snapshot of the range,\n"
     "largest growth in bytes first.\n"
     "  --since DATE     from DATE (UTC: 2026-12-08 or 2026-12-08T12:00:00Z)\n"
     "  --until DATE     up to DATE (a date alone takes in the whole day)\n"
     "  --top N          only the N directories that grew most\n"
     "  --csv            CSV lines (LF) with a header line\n"
     "  --json           one JSON array: per directory \"path\", \"first\" and \"last\" "
     "(\"time\",\n"
     "                   \"directories\", \"files\", \"bytes\"), \"bytes_change\", "
     "\"files_change\",\n"
     "                   \"bytes_per_day\", \"appeared\", \"disappeared\"\n"
     "  --plot FILE      draw bytes over time of the top directories (default 8) to FILE,\n"
     "                   SVG or PNG by its extension\n"
     "  -h, --help       this text\n",
     false},
    {"report", "pelmora-cli report LIST -o FILE.pdf",
     "The printed report of LIST as a PDF file.\n"
     "  -o, --output FILE  the PDF file; \"-\" for standard output\n"
     "  -h, --help       this text\n",
     false},
    {"help", "pelmora-cli help [COMMAND]",
     "The usage of pelmora-cli or of one COMMAND.\n"
     "  -h, --help       this text\n",
     false},
};

}  // namespace

std::string helpText(std::string_view command) {
    std::string s;
    if (command.empty()) {
        s = "usage:";
        for (const Help& h : kHelp)
            s += std::string(s == "usage:" ? " " : "       ") + h.usage + '\n';
        s += "       pelmora-cli --version\n"
             "Counts directory trees, writes data files and reports, keeps a growth history.\n"
             "Options go before or after the operands; a long option may be shortened to a\n"
             "prefix that names it alone (--disk for --disk-usage); \"--\" ends the options.\n"
             "Run 'pelmora-cli help COMMAND' or 'pelmora-cli COMMAND --help' for a command's\n"
             "options.\n";
        return s + kExitStatus;
    }
    for (const Help& h : kHelp) {
        if (command != h.command) continue;
        s = std::string("usage: ") + h.usage + '\n' + h.text;
        if (h.counts) s += kCommon;
        return s + kExitStatus;
    }
    return {};
}

int printHelp(std::string_view command) {
    const std::string text = helpText(command);
    if (text.empty()) return usageError("help", "unknown command '" + std::string(command) + "'");
    out().write(text);
    return out().finish() ? kExitOk : kExitFailed;
}

int usageError(std::string_view command, const std::string& text) {
    message(command.empty() ? text : std::string(command) + ": " + text);
    return kExitUsage;
}

void message(const std::string& text) {
    // Paths in it stay the bytes they are.
    const std::string line = "pelmora-cli: " + text + '\n';
    std::cerr << line << std::flush;
}

std::string versionLine() {
    return std::string("pelmora-cli ") + PELMORA_VERSION + '\n';
}

}  // namespace pelmora::cli
