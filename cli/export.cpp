#include "cli/commands.h"

namespace pelmora::cli {

// Lands with the export work.
int runExport(const Args& /*args*/) { return usageError("export: not available in this build"); }

}  // namespace pelmora::cli
