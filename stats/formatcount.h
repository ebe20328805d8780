// "%.0n": whole numbers with a one-character thousands separator, the locale's as the caller
// read it (platform::localeThousandsSeparator).
#pragma once

#include <cstdint>
#include <string>

#include "stats/real48.h"

namespace pelmora::stats {

std::string FormatCount(std::int64_t value, char separator);
std::string FormatCount(Real48 value, char separator);

}  // namespace pelmora::stats
