// Survey codecs: writing line and flight names (area letters, type letter, padded number).
// Internal to the survey subsystem; shared by the line-number and flight-number codecs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qr::survey {

// Longest text either codec writes, terminator included (two area letters, a type letter, an
// eleven-character signed number); the texts are built in a local buffer of this size.
inline constexpr std::size_t kNameBufferSize = 16;

// Writes the area letters and the type letter of a code whose fields were read as signed bytes:
// the letter '@' + (area - 1) / 26 when that quotient is above 0, the letter 'A' + (area - 1)
// mod 26 when area > 0, and the type letter when area > 0 or type > 0 (the first letter of
// szTypes when type is 0 or below). nType must not exceed the alphabet. Returns the count.
inline std::size_t writeAreaAndType(char* pOut, int nArea, int nType, const char* szTypes) {
    std::size_t nCount = 0;
    if (nArea > 0) {
        const int nHigh = (nArea - 1) / 26;
        if (nHigh > 0) pOut[nCount++] = static_cast<char>('@' + nHigh);
        pOut[nCount++] = static_cast<char>('A' + (nArea - 1) % 26);
    }
    if (nArea > 0 || nType > 0) pOut[nCount++] = szTypes[nType > 0 ? nType - 1 : 0];
    return nCount;
}

inline constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> aPairs{};
    for (int i = 0; i < 100; ++i) {
        aPairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        aPairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return aPairs;
}();

inline std::size_t digitCount(uint32_t nValue) {
    std::size_t nCount = 1;
    while (nValue >= 10000) { nValue /= 10000; nCount += 4; }
    if (nValue >= 10) ++nCount;
    if (nValue >= 100) ++nCount;
    if (nValue >= 1000) ++nCount;
    return nCount;
}

// Writes nValue in decimal with at least nMinDigits digits, zero-padded; returns the count.
inline std::size_t writeUnsigned(char* pOut, uint32_t nValue, std::size_t nMinDigits) {
    const std::size_t nDigits = digitCount(nValue);
    const std::size_t nCount = nDigits > nMinDigits ? nDigits : nMinDigits;
    char* pWrite = pOut + nCount;
    while (nValue >= 100) {
        const std::size_t nPair = 2 * static_cast<std::size_t>(nValue % 100);
        nValue /= 100;
        pWrite -= 2;
        std::memcpy(pWrite, kDigitPairs.data() + nPair, 2);
    }
    if (nValue >= 10) {
        pWrite -= 2;
        std::memcpy(pWrite, kDigitPairs.data() + 2 * static_cast<std::size_t>(nValue), 2);
    } else {
        *--pWrite = static_cast<char>('0' + nValue);
    }
    while (pWrite > pOut) *--pWrite = '0';
    return nCount;
}

// Writes nValue as printf's "%0<nWidth>d" does: the sign counts in the width.
inline std::size_t writeSigned(char* pOut, int32_t nValue, std::size_t nWidth) {
    if (nValue >= 0) return writeUnsigned(pOut, static_cast<uint32_t>(nValue), nWidth);
    pOut[0] = '-';
    const uint32_t nMagnitude = 0u - static_cast<uint32_t>(nValue);
    return 1 + writeUnsigned(pOut + 1, nMagnitude, nWidth > 0 ? nWidth - 1 : 0);
}

// Hands the nLength characters at pText to the caller's buffer with a terminator when they fit
// in nSize bytes; otherwise writes the empty text (when nSize >= 1) and returns false.
inline bool deliverText(const char* pText, std::size_t nLength, char* szBuffer, int32_t nSize) {
    if (nSize > 0 && nLength < static_cast<std::size_t>(nSize)) {
        std::memcpy(szBuffer, pText, nLength);
        szBuffer[nLength] = '\0';
        return true;
    }
    if (nSize > 0) szBuffer[0] = '\0';
    return false;
}

// The text of a keyword code (-1, 0 or -32767), or null for any other code.
inline const char* keywordText(int64_t llCode) {
    if (llCode == -1) return "RESET";
    if (llCode == 0) return "NEXTIND";
    if (llCode == -32767) return "DUMMY";
    return nullptr;
}

}  // namespace qr::survey
