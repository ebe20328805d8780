#include <gtest/gtest.h>

#include "stats/real48.h"

TEST(Real48, HoldsWholeNumbersBelow2Pow40Exactly) {
    EXPECT_EQ(pelmora::stats::Real48::fromInt(1099511627775LL).toFixed0(), "1099511627775");
}
