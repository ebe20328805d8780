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
    "  3    the work failed: the list or the history could not be read or was refused, or\n"
    "       the data file, PDF, chart or standard output could not be written in full\n"
    "  141  standard output was a pipe whose reader went away (| head): stopped quietly\n"
    "  128+N  stopped by signal N (129 SIGHUP, 130 SIGINT, 143 SIGTERM, ...); no temporary\n"
    "       file is left, the previous data file stays as it was\n";

constexpr const char* kCommon =
    "  -j, --jobs N     count with N threads (1 to 1024; default: sixteen per core)\n"
    "  -q, --quiet      no progress line on a terminal's stderr\n";

struct Help {
    const char* command;
    const char* usage;
    const char* text;
    bool counts;  // takes the counting options (the help line comes after them)
};

// count gives -h to --human-readable, as du does.
constexpr const char* kHelpLine = "  -h, --help       this text\n";
constexpr const char* kLongHelpLine = "  --help           this text\n";

constexpr Help kHelp[] = {
    {"count", "pelmora-cli count [OPTIONS] DIR...",
     "Counts the directories, files and bytes below each DIR (names beginning with '.' are\n"
     "left out, mount points are not entered) and prints the Stats panel's four lines.\n"
     "  -d, --max-depth N  also every directory down to N levels below each DIR: one line\n"
     "                   per directory (directories, files, bytes, path), each directory\n"
     "                   followed by its subdirectories\n"
     "  --sort KEY       with -d, subdirectories by bytes (the default), files or dirs,\n"
     "                   largest first, or by name (byte order)\n"
     "  --top N          with -d, only the N largest subdirectories of each directory\n"
     "  -h, --human-readable  sizes in powers of 1024 as du prints them (1.5K, 234M, 1.2G),\n"
     "                   one line per DIR without -d\n"
     "  --si             the same in powers of 1000 (1.5k, 234M, 1.2G)\n"
     "  -a, --all        count and enter names beginning with '.' too; without it, a line\n"
     "                   on stderr says how many such entries holding data were left out\n"
     "  --exclude PATTERN  leave out entries whose name matches the shell pattern, or whose\n"
     "                   path does when it holds a '/' (repeatable)\n"
     "  -x, --one-file-system  stay on each DIR's file system (a count always does)\n"
     "  --csv            one data-file line per DIR (and per directory with -d; LF line ends)\n"
     "  --json           one JSON array: per DIR \"path\", \"directories\", \"files\", \"bytes\",\n"
     "                   \"overhead\", \"incomplete\", \"errors\" [{\"path\", \"error\"}] and, "
     "with\n"
     "                   --disk-usage, \"allocated\"; with -d, \"children\" holds the objects\n"
     "                   of the subdirectories; a path that is not valid UTF-8 has U+FFFD\n"
     "                   for each invalid byte and \"path_bytes\": the base64 of its bytes\n"
     "  --ncdu-export FILE  write the tree of one DIR to FILE (\"-\": standard output) in\n"
     "                   ncdu's JSON export format, for ncdu -f FILE or gdu -f FILE\n"
     "  --disk-usage     also the space on disk (st_blocks x 512, hard links once): the line\n"
     "                   \"Space On Disk N\", a sixth CSV field, or \"allocated\"\n",
     true},
    {"export", "pelmora-cli export [OPTIONS] LIST",
     "Writes LIST's data file (LIST's name with \".TXT\" in place of its extension), replacing\n"
     "the previous one in one step, and prints \"File NAME created.\" or \"The list is empty.\"\n"
     "  -o, --output FILE  write the data file to FILE instead; \"-\" for standard output\n"
     "  --history        also record the snapshot in LIST's history (LIST.history.sqlite)\n"
     "  --depth N        with --history: keep the subdirectories down to N levels below each\n"
     "                   directory (0 to 3, 1 by default; at most 1000 each, the rest as\n"
     "                   \"(other)\"), for history --explain\n"
     "  --metrics FILE   also write the figures as Prometheus metrics to FILE (\"-\" for\n"
     "                   standard output), after the data file and only when it was written\n"
     "  --disk-usage     add the space on disk as a sixth field of each line\n",
     true},
    {"snapshot", "pelmora-cli snapshot [OPTIONS] LIST",
     "Counts LIST's directories and records the snapshot in its history\n"
     "(LIST.history.sqlite beside it), without writing a data file.\n"
     "  --depth N        keep the subdirectories down to N levels below each directory (0 to\n"
     "                   3, 1 by default; at most 1000 each, the rest as \"(other)\")\n"
     "  --metrics FILE   also write the figures as Prometheus metrics to FILE (\"-\" for\n"
     "                   standard output), after the snapshot and only when it was recorded\n"
     "  --disk-usage     also record the space on disk\n",
     true},
    {"history", "pelmora-cli history [OPTIONS] LIST",
     "The growth of LIST's directories between the first and the last snapshot of the range,\n"
     "largest growth in bytes first; the growth per day over a day or more; the subdirectory\n"
     "that grew most. A range without a snapshot is no error.\n"
     "  --explain DIR    where DIR, a directory of the list, grew: its subdirectories' change\n"
     "                   between the first and the last snapshot of the range that hold them,\n"
     "                   largest change first, with the share of DIR's change each makes\n"
     "  --since DATE     from DATE: 2026-12-08, 20261208, 2026-12-08T12:00:00Z or\n"
     "                   2026-12-08T13:00+01:00 (UTC without an offset), or an age back from\n"
     "                   now: 6h, 30d, 12w, 1y\n"
     "  --until DATE     up to DATE (a date alone takes in the whole day)\n"
     "  --top N          only the N directories that grew most (1 to 1000000; 1 to 100 with\n"
     "                   --plot)\n"
     "  --csv            CSV lines (LF) with a header line\n"
     "  --json           one JSON array: per directory \"path\", \"first\" and \"last\" "
     "(\"time\",\n"
     "                   \"directories\", \"files\", \"bytes\"), \"bytes_change\", "
     "\"files_change\",\n"
     "                   \"bytes_percent\", \"files_percent\", \"bytes_per_day\" (null under a "
     "day),\n"
     "                   \"appeared\", \"disappeared\", \"grew_most\"; with --explain also\n"
     "                   \"share\", \"other\", \"in_other_first\", \"in_other_last\"\n"
     "  --plot FILE      draw bytes over time of the top directories (default 8; with\n"
     "                   --explain, subdirectories) to FILE, SVG or PNG by its extension\n"
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
        if (h.counts) s += std::string(kCommon) + (command == "count" ? kLongHelpLine : kHelpLine);
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

void message(std::initializer_list<std::string_view> parts) {
    // Paths in it stay the bytes they are. A line of ordinary length goes out in one write; a
    // path as long as a list line is not copied again for it.
    std::size_t size = 14;
    for (const std::string_view p : parts) size += p.size();
    if (size <= 64 * 1024) {
        std::string line;
        line.reserve(size);
        line.append("pelmora-cli: ");
        for (const std::string_view p : parts) line.append(p);
        line.push_back('\n');
        std::cerr << line << std::flush;
        return;
    }
    std::cerr << "pelmora-cli: ";
    for (const std::string_view p : parts)
        std::cerr.write(p.data(), static_cast<std::streamsize>(p.size()));
    std::cerr << '\n' << std::flush;
}

void message(const std::string& text) {
    message({text});
}

std::string versionLine() {
    return std::string("pelmora-cli ") + PELMORA_VERSION + '\n';
}

}  // namespace pelmora::cli
