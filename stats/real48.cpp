#include "stats/real48.h"

#include <cmath>

namespace pelmora::stats {

namespace {

int bitLength(unsigned __int128 v) {
    const auto high = static_cast<std::uint64_t>(v >> 64);
    const auto low = static_cast<std::uint64_t>(v);
    if (high != 0) return 128 - __builtin_clzll(high);
    return low != 0 ? 64 - __builtin_clzll(low) : 0;
}

}  // namespace

Real48 Real48::fromExact(__int128 v) {
    Real48 r;
    r.m_negative = v < 0;
    unsigned __int128 mag =
        r.m_negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    const int len = bitLength(mag);
    int shift = len > kBits ? len - kBits : 0;
    if (shift > 0) {
        // Round to nearest, halves away from zero.
        mag = (mag + (static_cast<unsigned __int128>(1) << (shift - 1))) >> shift;
        if (mag >> kBits) {
            mag >>= 1;
            ++shift;
        }
    }
    r.m_mantissa = static_cast<std::uint64_t>(mag);
    r.m_exponent = shift;
    return r;
}

Real48 Real48::fromInt(std::int64_t v) {
    return fromExact(v);
}

Real48& Real48::operator+=(Real48 other) {
    // The common case of a byte total: two non-negative whole numbers below 2^40 whose sum is
    // still below 2^40 is exact as it stands.
    if (m_exponent == 0 && other.m_exponent == 0 && !m_negative && !other.m_negative) {
        const std::uint64_t sum = m_mantissa + other.m_mantissa;
        if (sum >> kBits == 0) {
            m_mantissa = sum;
            return *this;
        }
    }
    // Both values are whole numbers below 2^127, so their sum is exact in 128 bits for every
    // magnitude a sum of file sizes can reach.
    *this = fromExact(toInt128() + other.toInt128());
    return *this;
}

__int128 Real48::toInt128() const {
    const __int128 mag = static_cast<__int128>(m_mantissa) << m_exponent;
    return m_negative ? -mag : mag;
}

double Real48::toDouble() const {
    const double mag = std::ldexp(static_cast<double>(m_mantissa), m_exponent);
    return m_negative ? -mag : mag;
}

std::string Real48::toFixed0() const {
    __int128 v = toInt128();
    const bool neg = v < 0;
    unsigned __int128 mag =
        neg ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
        mag /= 10;
    } while (mag != 0);
    return neg ? "-" + digits : digits;
}

}  // namespace pelmora::stats
