// A locale for tests whose thousands separator is what the test says, and may be changed to
// stand for a change of the system's settings.
#pragma once

#include "platform/locale.h"

namespace pelmora::test {

class FixedLocale final : public platform::Locale {
  public:
    explicit FixedLocale(char separator = ',') : separator(separator) {}
    char thousandsSeparator() const override { return separator; }
    char separator;
};

}  // namespace pelmora::test
