// Python package qrcore: the plain decimal numbers of survey text ([+-]digits[.digits][e[+-]digits])
// read exactly, eight digits at a time; every other text is left to the caller's full reading.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qrpy {

namespace detail {

// Eight bytes with p[0] in the lowest.
inline uint64_t load8(const char* p) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, sizeof v);
    } else {
        for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
    }
    return v;
}

// How many of the eight bytes in v, from the lowest, are digits. A byte that is no digit
// gets its top bit set either by adding 0x46 (above '9') or subtracting 0x30 (below '0', or from
// 0xBA up); carries and borrows run upwards only, so every byte below the first such is a digit.
inline unsigned leadingDigits(uint64_t v) {
    const uint64_t llOther = ((v + 0x4646464646464646) | (v - 0x3030303030303030)) & 0x8080808080808080;
    return llOther == 0 ? 8 : static_cast<unsigned>(std::countr_zero(llOther)) / 8;
}

// The value of the nDigits (1 to 8) digits in the lowest bytes of v, the first the most
// significant: moved to the top (zeros before them), then paired, paired again and summed.
inline uint64_t digitsValue(uint64_t v, unsigned nDigits) {
    uint64_t x = (v - 0x3030303030303030) << (8 * (8 - nDigits));
    x = x * 10 + (x >> 8);
    return ((x & 0x000000FF000000FF) * (100 + (uint64_t{1000000} << 32)) +
            ((x >> 16) & 0x000000FF000000FF) * (1 + (uint64_t{10000} << 32))) >> 32;
}

// Reads a run of digits at p, before pEnd, into llValue (wrapping past 19 digits, which the
// caller refuses); returns its end.
inline const char* readDigits(const char* p, const char* pEnd, uint64_t& llValue) {
    static constexpr uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    for (;;) {
        const uint64_t v = load8(p);
        const unsigned n = std::min(leadingDigits(v), static_cast<unsigned>(std::min<std::ptrdiff_t>(pEnd - p, 8)));
        if (n == 0) return p;
        llValue = llValue * kScale[n] + digitsValue(v, n);
        p += n;
        if (n < 8) return p;
    }
}

}  // namespace detail

// Reads the number that starts at p (before pEnd) when it is a plain decimal whose value needs
// no rounding beyond one operation: at most 19 digits, their integer at most 2^53, and a power
// of ten from 10^-22 to 10^22. The integer and the power are then both exact doubles, so their
// one correctly rounded product or quotient is the correctly rounded value, bit for bit what
// strtod or std::from_chars give. Eight bytes must be readable from any position up to pEnd
// (their content past pEnd does not matter). Returns the byte after the number (the caller
// checks that the field ends there), or nullptr for any other text, left to a full reading.
[[gnu::noinline]] inline const char* readDecimalAny(const char* p, const char* pEnd, double& dValue) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    bool bNegative = false;
    if (p < pEnd && (*p == '-' || *p == '+')) bNegative = *p++ == '-';
    uint64_t llDigits = 0;
    const char* pDigits = p;
    p = detail::readDigits(p, pEnd, llDigits);
    long nDigits = p - pDigits;
    long nFraction = 0;
    if (p < pEnd && *p == '.') {
        const char* pFraction = ++p;
        p = detail::readDigits(p, pEnd, llDigits);
        nFraction = p - pFraction;
        nDigits += nFraction;
    }
    if (nDigits == 0 || nDigits > 19) return nullptr;
    long nExponent = 0;
    if (p < pEnd && (*p == 'e' || *p == 'E')) {
        ++p;
        bool bNegativeExponent = false;
        if (p < pEnd && (*p == '-' || *p == '+')) bNegativeExponent = *p++ == '-';
        const char* pExponent = p;
        while (p < pEnd && static_cast<unsigned>(*p - '0') < 10 && p - pExponent < 4) nExponent = nExponent * 10 + (*p++ - '0');
        if (p == pExponent || (p < pEnd && static_cast<unsigned>(*p - '0') < 10)) return nullptr;
        if (bNegativeExponent) nExponent = -nExponent;
    }
    const long nPower = nExponent - nFraction;
    if (llDigits > (uint64_t{1} << 53) || nPower < -22 || nPower > 22) return nullptr;
    const double d = static_cast<double>(llDigits);
    const double dAbs = nPower < 0 ? d / kPowers[-nPower] : d * kPowers[nPower];
    dValue = bNegative ? -dAbs : dAbs;
    return p;
}

// readDecimalAny, with the most common form of survey values first: at most seven digits
// before and after the point and no exponent, read with two loads; their at most 14 digits
// stay below 2^53.
[[gnu::always_inline]] inline const char* readDecimal(const char* p, const char* pEnd, double& dValue) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
    static constexpr uint64_t kScale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    const char* const pStart = p;
    const bool bNegative = *p == '-';
    p += bNegative || *p == '+' ? 1 : 0;
    uint64_t v = detail::load8(p);
    const auto nLeft = static_cast<unsigned>(std::min<std::ptrdiff_t>(pEnd - p, 8));
    const unsigned nWhole = std::min(detail::leadingDigits(v), nLeft);
    if (nWhole == 8) return readDecimalAny(pStart, pEnd, dValue);
    uint64_t llDigits = nWhole == 0 ? 0 : detail::digitsValue(v, nWhole);
    p += nWhole;
    unsigned nFraction = 0;
    if (p < pEnd && *p == '.') {
        ++p;
        v = detail::load8(p);
        nFraction = std::min(detail::leadingDigits(v), static_cast<unsigned>(std::min<std::ptrdiff_t>(pEnd - p, 8)));
        if (nFraction == 8) return readDecimalAny(pStart, pEnd, dValue);
        if (nFraction > 0) llDigits = llDigits * kScale[nFraction] + detail::digitsValue(v, nFraction);
        p += nFraction;
    }
    if (nWhole + nFraction == 0 || (p < pEnd && (*p == 'e' || *p == 'E'))) return readDecimalAny(pStart, pEnd, dValue);
    const double dAbs = static_cast<double>(llDigits) / kPowers[nFraction];
    dValue = bNegative ? -dAbs : dAbs;
    return p;
}

}  // namespace qrpy
