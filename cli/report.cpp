#include "cli/commands.h"

namespace pelmora::cli {

// Lands with the report work.
int runReport(const Args& /*args*/) { return usageError("report: not available in this build"); }

}  // namespace pelmora::cli
