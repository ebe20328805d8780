#include "list/watchedlist.h"
// Implementation lands with the watched-list work.
namespace pelmora::list {
std::string ListFileName;
bool ListModified = false;
}  // namespace pelmora::list
