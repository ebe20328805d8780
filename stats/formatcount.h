// "%.0n": whole numbers with the locale's one-character thousands separator.
#pragma once

#include <cstdint>
#include <string>

#include "stats/real48.h"

namespace pelmora::stats {

std::string FormatCount(std::int64_t value);
std::string FormatCount(Real48 value);

// The separator FormatCount writes. Read from the locale at start-up and again when the
// system announces a settings change (refreshThousandsSeparator).
char thousandsSeparator();
void setThousandsSeparator(char c);
void refreshThousandsSeparator();

}  // namespace pelmora::stats
