// The list-file format: one entry per line, every line ended by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "list/watchedlist.h"

namespace pelmora::list {

// Cuts `data` into lines: stops at the first byte 0; CR LF, a lone CR and a lone LF each end
// a line; empty lines are kept; a final end mark adds no empty line; nothing is trimmed.
std::vector<std::string> parseListText(std::string_view data);

// Every entry followed by CR LF; an empty list gives the empty text.
std::string formatListText(const std::vector<std::string>& entries);

// Reads the whole file; raises PelmoraError("Cannot open file " + path) when it cannot.
std::vector<std::string> readListFile(const std::string& path);

// Clears `list` and adds every line of the file at its sorted place (loading).
void loadList(WatchedList& list, const std::string& path);

// Writes the list, replacing the file atomically and keeping its permissions. Raises
// PelmoraError("Cannot create file " + path) or PelmoraError("Stream write error"); the
// previous file stays whole on failure.
void saveList(const WatchedList& list, const std::string& path);

}  // namespace pelmora::list
