// Real48 byte totals and the "%.0n" conversion.
#include <gtest/gtest.h>

#include "platform/locale.h"
#include "stats/formatcount.h"
#include "stats/real48.h"
#include "stats/tally.h"

using pelmora::stats::FormatCount;
using pelmora::stats::Real48;

TEST(Real48, WholeNumbersUpTo2Pow40AreExact) {
    const std::int64_t p40 = 1LL << 40;
    EXPECT_EQ(Real48::fromInt(p40).toFixed0(), "1099511627776");
    EXPECT_EQ(Real48::fromInt(p40 - 1).toFixed0(), "1099511627775");
    Real48 sum;
    for (int i = 0; i < 1000; ++i) sum += Real48::fromInt(1099511627LL);
    EXPECT_EQ(sum.toFixed0(), "1099511627000");
    EXPECT_EQ(Real48().toFixed0(), "0");
}

TEST(Real48, AdditionsAbove2Pow40RoundHalvesAwayFromZero) {
    Real48 t = Real48::fromInt(1LL << 40);
    t += Real48::fromInt(1);
    EXPECT_EQ(t.toFixed0(), "1099511627778");
    // Exactly representable neighbours stay put; a sum just below the half rounds down.
    Real48 u = Real48::fromInt((1LL << 40) + 2);  // 41 bits: spacing 2, exact
    EXPECT_EQ(u.toFixed0(), "1099511627778");
    u += Real48::fromInt(1);  // 2^40 + 3: a half, away from zero
    EXPECT_EQ(u.toFixed0(), "1099511627780");
    Real48 v = Real48::fromInt(1LL << 41);  // 42 bits: spacing 4
    v += Real48::fromInt(1);                // below the half: stays
    EXPECT_EQ(v.toFixed0(), "2199023255552");
    v += Real48::fromInt(3);  // above the half: up
    EXPECT_EQ(v.toFixed0(), "2199023255556");
}

TEST(Real48, TwoValuesBelow2Pow40WhoseSumCrossesItAreRounded) {
    const std::int64_t p40 = 1LL << 40;
    struct Case {
        std::int64_t a, b;
        const char* sum;
    };
    for (const Case& c : {Case{p40 - 1, 1, "1099511627776"},  // exactly 2^40: exact
                          Case{p40 - 1, 2, "1099511627778"},  // 2^40 + 1: a half, up
                          Case{p40 - 2, 5, "1099511627780"},  // 2^40 + 3: a half, up
                          Case{p40 - 1, p40 - 1, "2199023255550"}}) {
        Real48 t = Real48::fromInt(c.a);
        t += Real48::fromInt(c.b);
        EXPECT_EQ(t.toFixed0(), c.sum) << c.a << " + " << c.b;
    }
}

TEST(Real48, NegativeValuesRoundByMagnitude) {
    Real48 n = Real48::fromInt(-(1LL << 40));
    n += Real48::fromInt(-1);
    EXPECT_EQ(n.toFixed0(), "-1099511627778");
    EXPECT_TRUE(n.isNegative());
}

TEST(Real48, SizesBeyond32BitsAreCarriedWhole) {
    Real48 t;
    t += Real48::fromInt(3LL << 30);
    t += Real48::fromInt(5000000000LL);
    EXPECT_EQ(t.toFixed0(), "8221225472");
    EXPECT_DOUBLE_EQ(t.toDouble(), 8221225472.0);
}

// The byte total of a count: whole-number additions while it stays at most 2^40, one rounding
// after each addition beyond.
TEST(ByteSum, RoundsEachAdditionOnceTheTotalPasses2Pow40) {
    pelmora::stats::detail::ByteSum sum;
    sum.add((1LL << 40) + 1);  // 2^40 + 2
    sum.add(1);                // 2^40 + 3: a half, up to 2^40 + 4
    sum.add(1);                // 2^40 + 5: up to 2^40 + 6 (the exact sum is 2^40 + 3)
    EXPECT_EQ(sum.total().toFixed0(), "1099511627782");
    pelmora::stats::detail::ByteSum below;
    for (int i = 0; i < 4; ++i) below.add(1LL << 38);
    EXPECT_EQ(below.total().toFixed0(), "1099511627776");
}

TEST(FormatCountTest, GroupsOfThreeDigits) {
    EXPECT_EQ(FormatCount(std::int64_t{0}, ','), "0");
    EXPECT_EQ(FormatCount(std::int64_t{999}, ','), "999");
    EXPECT_EQ(FormatCount(std::int64_t{1000}, ','), "1,000");
    EXPECT_EQ(FormatCount(std::int64_t{1234567}, ','), "1,234,567");
    EXPECT_EQ(FormatCount(Real48::fromInt(1LL << 40), ','), "1,099,511,627,776");
    EXPECT_EQ(FormatCount(std::int64_t{-1234}, ','), "-1,234");
    EXPECT_EQ(FormatCount(std::int64_t{-999}, ','), "-999");
    EXPECT_EQ(FormatCount(std::int64_t{-999999999999999999}, ','), "-999,999,999,999,999,999");
    // Beyond 18 integer digits the general form is written.
    EXPECT_NE(FormatCount(INT64_MIN, ',').find('E'), std::string::npos);
}

TEST(FormatCountTest, SeparatorIsTheOneGiven) {
    EXPECT_EQ(FormatCount(std::int64_t{1234567}, '.'), "1.234.567");
    EXPECT_EQ(FormatCount(Real48::fromInt(1234567), ' '), "1 234 567");
}

TEST(LocaleSeparator, OneCharacterSymbolOrComma) {
    const char* saved = getenv("LC_ALL");
    const std::string keep = saved != nullptr ? saved : "";
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(pelmora::platform::localeThousandsSeparator(), ',');  // C has none: the comma
    EXPECT_EQ(pelmora::platform::systemLocale().thousandsSeparator(), ',');
    setenv("LC_ALL", "no_such_LOCALE.UTF-8", 1);
    EXPECT_EQ(pelmora::platform::localeThousandsSeparator(), ',');
    if (saved != nullptr)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
}
