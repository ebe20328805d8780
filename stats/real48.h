// Real48: the byte-total number type. A binary floating-point value with 40 significant bits
// (the classic 6-byte real): every whole number up to 2^40 is exact, and each addition is
// carried out exactly and then rounded to 40 bits, to nearest with halves away from zero.
#pragma once

#include <cstdint>
#include <string>

namespace pelmora::stats {

class Real48 {
  public:
    static constexpr int kBits = 40;

    constexpr Real48() = default;
    // Rounds `v` to 40 significant bits (halves away from zero).
    static Real48 fromInt(std::int64_t v);

    Real48& operator+=(Real48 other);
    friend Real48 operator+(Real48 a, Real48 b) { return a += b; }
    friend bool operator==(Real48 a, Real48 b) = default;

    // Exact: 40 bits fit a double's significand.
    double toDouble() const;
    // The whole-number part of the value, exact. Every sum of whole numbers is whole.
    __int128 toInt128() const;
    bool isNegative() const { return m_negative && m_mantissa != 0; }

    // "%.0f": optional '-', then the decimal digits, no separators.
    std::string toFixed0() const;

  private:
    static Real48 fromExact(__int128 v);  // v rounded to 40 bits
    bool m_negative = false;
    std::uint64_t m_mantissa = 0;  // < 2^40; at least 2^39 when m_exponent > 0
    int m_exponent = 0;            // value = mantissa * 2^exponent
};

}  // namespace pelmora::stats
