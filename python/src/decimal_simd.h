// Python package qrcore: a plain decimal field of at most 16 bytes read in one go with 16-byte
// vector instructions (SSE4.1, chosen at run time): the digits gathered to the right of a
// vector without the point, paired, paired again and summed.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define QRPY_VECTOR_DECIMAL 1
#include <immintrin.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace qrpy {

namespace detail {

// For a field of n bytes (0 to 16) with its point at position nPoint (n when it has none): the
// byte shuffle that drops the point and puts the digits at the right end, zeros before them.
struct PointShuffles {
    std::array<std::array<std::array<uint8_t, 16>, 17>, 17> table{};
    constexpr PointShuffles() {
        for (std::size_t n = 0; n <= 16; ++n) {
            for (std::size_t nPoint = 0; nPoint <= n; ++nPoint) {
                const std::size_t nDigits = nPoint < n ? n - 1 : n;
                for (std::size_t j = 0; j < 16; ++j) table[n][nPoint][j] = 0x80;
                for (std::size_t i = 0; i < nDigits; ++i)
                    table[n][nPoint][16 - nDigits + i] = static_cast<uint8_t>(i < nPoint ? i : i + 1);
            }
        }
    }
};
inline constexpr PointShuffles kPointShuffles{};

}  // namespace detail

// Reads the field p[0..n) when it is [+-]digits[.digits] with 1 to 15 digits; false for any
// other text (left to readDecimal). The value is the digits' integer divided by the power of
// ten of the fraction, as readDecimal computes it, so both give the same bits. Sixteen bytes
// after the sign must be readable.
[[gnu::target("sse4.1")]] inline bool readPlainDecimal(const char* p, std::size_t n, double& dValue) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
    const bool bNegative = *p == '-';
    const std::size_t nSign = bNegative || *p == '+' ? 1 : 0;
    p += nSign;
    n -= nSign;
    if (n > 16) return false;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digits = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
    const uint32_t nField = (uint32_t{1} << n) - 1;
    const uint32_t nDigitBits = static_cast<uint32_t>(_mm_movemask_epi8(isDigit)) & nField;
    const uint32_t nPointBits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')))) & nField;
    if ((nDigitBits | nPointBits) != nField || (nPointBits & (nPointBits - 1)) != 0 || nDigitBits == 0 || n - (nPointBits != 0) > 15)
        return false;
    const std::size_t nPoint = nPointBits != 0 ? static_cast<std::size_t>(std::countr_zero(nPointBits)) : n;
    const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(detail::kPointShuffles.table[n][nPoint].data()));
    const __m128i right = _mm_shuffle_epi8(digits, shuffle);
    const __m128i pairs = _mm_maddubs_epi16(right, _mm_setr_epi8(10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1, 10, 1));
    const __m128i quads = _mm_madd_epi16(pairs, _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
    const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(quads, quads), _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
    const uint64_t llDigits = uint64_t{static_cast<uint32_t>(_mm_cvtsi128_si32(eights))} * 100000000 +
                              static_cast<uint32_t>(_mm_extract_epi32(eights, 1));
    const double dAbs = static_cast<double>(llDigits) / kPowers[nPointBits != 0 ? n - 1 - nPoint : 0];
    dValue = bNegative ? -dAbs : dAbs;
    return true;
}

inline bool plainDecimalAvailable() { return __builtin_cpu_supports("sse4.1"); }

}  // namespace qrpy
#endif
