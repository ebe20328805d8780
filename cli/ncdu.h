// pelmora-cli count --ncdu-export: the tree of one directory in ncdu's JSON export format
// (version 1, minor 2), which `ncdu -f FILE` and `gdu -f FILE` load to browse it.
//
// The walk follows the count's rules (stats/engine.h): names beginning with '.' left out unless
// counted (--all), the --exclude patterns, never a symlink followed, never another file system
// entered. It hands every entry to the writer as it goes, depth first; what it keeps is the
// directories still to enter along the current path and the listing of one directory at a
// time, never the tree. Descriptors: at most a budget of directories stay open; one given up is
// opened again from its nearest open ancestor by name (confirmed by device and inode), or by its
// path when descriptors run short, so a tree thousands of levels deep needs no more of them.
//
// What the file holds:
// - the start directory as the top directory, named by its absolute path, with its device;
// - every directory as an array headed by its info object (`name`, `asize`, `dsize`), with
//   `"read_error": true` when it could not be opened or read in full (what could be read is
//   kept);
// - every other entry as an object with `asize` and `dsize` (st_size and st_blocks x 512;
//   zeros left out, as ncdu does), `"notreg": true` when it is no regular file (a symlink
//   counts as an entry of its own length, as in the count), and `ino`, `hlnkc` and `nlink`
//   when it has several links, so ncdu and gdu count such a file once, as du does;
// - names left out (hidden, or matched by --exclude) as `{"name", "excluded": "pattern"}`
//   without sizes, and mount points as `"excluded": "otherfs"` with their own size: the count
//   takes a mount point as one directory that is not entered.
// Names are written as the bytes they are: '"' and '\' escaped, control characters as JSON
// escapes, every other byte as it is (so a name that is not UTF-8 survives ncdu's load and
// export byte for byte).
//
// So the figures of the file are those of the count: its directories are the arrays and the
// "otherfs" objects below the top, its files the other objects that are not excluded, its bytes
// the sum of their `asize`; ncdu and gdu add the top directory and its own size to their
// totals.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stats/engine.h"

namespace pelmora::output {
class DataSink;
}  // namespace pelmora::output

namespace pelmora::cli {

struct NcduRules {
    bool hidden = false;                        // --all
    const stats::Exclusion* exclude = nullptr;  // --exclude; not owned
    // Read before each directory: once true, the walk stops with stats::Cancelled.
    const std::atomic<bool>* cancel = nullptr;
    stats::CountProgress* progress = nullptr;  // given the figures of each directory read
    std::size_t descriptorBudget = 32;         // directories that keep their descriptor
};

// Writes the export of `dir` to `sink` (the metadata names pelmora-cli, its version and
// `timestamp`) and returns the count's figures for it with the same rules: directories, files,
// byte total (the exact sum beside it), the directories that could not be read (the start
// included; the first kErrorsKept in walk order) and, without `hidden`, the hidden entries left
// out that hold data. allocatedBytes stays 0. Raises what the sink raises, stats::Cancelled,
// and std::bad_alloc.
stats::CountResult writeNcduExport(std::string_view dir, const NcduRules& rules,
                                   output::DataSink& sink, std::int64_t timestamp);

// `bytes` as a string of ncdu's JSON: quotes included, '"' and '\' escaped, \b \f \n \r \t
// and \u00XX for the other control characters and DEL, every other byte unchanged.
std::string ncduString(std::string_view bytes);

}  // namespace pelmora::cli
