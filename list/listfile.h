// The list-file format: one entry per line, every line ended by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "list/watchedlist.h"

namespace pelmora::list {

// The name a list has before the user names it.
inline constexpr std::string_view kDefaultListName = "DEFAULT.PML";

// True when the bare name of `path`, with ASCII a-z turned into A-Z and every other byte
// unchanged, is "DEFAULT.PML": such a list counts as not yet named, whatever its folder.
bool isDefaultListName(std::string_view path);

// Cuts `data` into lines: stops at the first byte 0; CR LF, a lone CR and a lone LF each end
// a line; empty lines are kept; a final end mark adds no empty line; nothing is trimmed.
std::vector<std::string> parseListText(std::string_view data);

// The same lines as places in `data` (12 bytes each), in order.
std::vector<WatchedList::TextLine> cutListText(std::string_view data);

// Every entry followed by CR LF; an empty list gives the empty text.
std::string formatListText(const std::vector<std::string>& entries);

// Reads the file, then replaces the contents of `list` with its lines, each at its sorted
// place (loading). The file's text becomes the store of the entries: no line is copied. A
// file that cannot be read leaves `list` untouched; a list that fills up keeps the lines taken
// so far and raises "Unable to insert a line". Out of memory raises std::bad_alloc and leaves
// `list` untouched.
void loadList(WatchedList& list, const std::string& path);

// Writes the list through platform::ReplacementFile: the file is replaced in one step and
// keeps its permissions. Raises PelmoraError("Cannot create file " + path) when the file is
// refused (see platform::replacementTarget: a link to nothing, a device, a fifo, a socket, a
// directory, a read-only file, someone else's link) or cannot be created or renamed, and
// PelmoraError("Stream write error") when the bytes do not all reach the disk; the previous
// file stays whole then and no temporary file is left behind. A symbolic link of the user's
// to a file of the user's is followed: that file is replaced, the link stays.
void saveList(const WatchedList& list, const std::string& path);

}  // namespace pelmora::list
