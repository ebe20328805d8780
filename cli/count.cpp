#include "cli/commands.h"

namespace pelmora::cli {

int runCount(const Args& /*args*/) { return usageError("count: not available in this build"); }

}  // namespace pelmora::cli
