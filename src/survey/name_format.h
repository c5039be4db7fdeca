// Survey codecs: writing line and flight names (area letters, type letter, padded number).
// Internal to the survey subsystem; shared by the line-number and flight-number codecs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qr::survey {

// Longest text either codec writes, terminator included, is 15 bytes (two area letters, a type
// letter, an eleven-character signed number). Texts are written straight into a caller's
// buffer of at least this size, otherwise into a local one first.
inline constexpr std::size_t kNameBufferSize = 16;

// The letters that precede the number, for an area code 0..127 and a type index 0..N: the
// letter '@' + (area - 1) / 26 when that quotient is above 0, the letter 'A' + (area - 1) mod 26
// when area > 0, and the type letter when area > 0 or type > 0 (the first letter of the
// alphabet for type 0). All three bytes are always copied; unused ones are overwritten by the
// number or the terminator, which always follow.
struct NameLetters {
    char aLetters[3];
    uint8_t nCount;
};

template <std::size_t N>
constexpr std::array<NameLetters, 128 * N> makeLetterTable(const char (&szTypes)[N]) {
    std::array<NameLetters, 128 * N> aTable{};
    for (int nArea = 0; nArea < 128; ++nArea) {
        for (int nType = 0; nType < static_cast<int>(N); ++nType) {
            NameLetters& letters = aTable[static_cast<std::size_t>(nArea) * N + static_cast<std::size_t>(nType)];
            uint8_t nCount = 0;
            if (nArea > 0) {
                if ((nArea - 1) / 26 > 0) letters.aLetters[nCount++] = static_cast<char>('@' + (nArea - 1) / 26);
                letters.aLetters[nCount++] = static_cast<char>('A' + (nArea - 1) % 26);
            }
            if (nArea > 0 || nType > 0) letters.aLetters[nCount++] = szTypes[nType > 0 ? nType - 1 : 0];
            letters.nCount = nCount;
        }
    }
    return aTable;
}

// Writes the letters for fields read as signed bytes: an area or type of 0 or below acts as 0.
// nType must not exceed the alphabet. Needs three bytes of room; returns the count.
template <std::size_t M>
inline std::size_t writeLetters(char* pOut, const std::array<NameLetters, M>& aTable, int nArea, int nType) {
    constexpr std::size_t N = M / 128;
    const std::size_t nIndex = static_cast<std::size_t>(nArea > 0 ? nArea : 0) * N +
                               static_cast<std::size_t>(nType > 0 ? nType : 0);
    const NameLetters& letters = aTable[nIndex];
    std::memcpy(pOut, letters.aLetters, 3);
    return letters.nCount;
}

inline constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> aPairs{};
    for (int i = 0; i < 100; ++i) {
        aPairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        aPairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return aPairs;
}();

inline void writePair(char* pOut, uint32_t nPair) { std::memcpy(pOut, kDigitPairs.data() + 2 * nPair, 2); }

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
    if (nMinDigits == 4 && nValue < 10000) {  // the common line number
        writePair(pOut, nValue / 100);
        writePair(pOut + 2, nValue % 100);
        return 4;
    }
    if (nMinDigits == 2 && nValue < 100) {  // the common flight number
        writePair(pOut, nValue);
        return 2;
    }
    const std::size_t nDigits = digitCount(nValue);
    const std::size_t nCount = nDigits > nMinDigits ? nDigits : nMinDigits;
    char* pWrite = pOut + nCount;
    while (nValue >= 100) {
        pWrite -= 2;
        writePair(pWrite, nValue % 100);
        nValue /= 100;
    }
    if (nValue >= 10) {
        pWrite -= 2;
        writePair(pWrite, nValue);
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

// Where a printer writes: straight into the caller's buffer when it holds any text, otherwise
// into pLocal (kNameBufferSize bytes), from which finishText hands over what fits.
inline char* textTarget(char* szBuffer, int32_t nSize, char* pLocal) {
    return nSize >= static_cast<int32_t>(kNameBufferSize) ? szBuffer : pLocal;
}

// Terminates the nLength characters at pText, written where textTarget said. A text written in
// the local buffer goes to the caller's buffer when it fits nSize bytes with its terminator;
// otherwise the empty text is written (when nSize >= 1) and the result is false.
inline bool finishText(char* pText, std::size_t nLength, char* szBuffer, int32_t nSize) {
    if (pText == szBuffer) {
        pText[nLength] = '\0';
        return true;
    }
    if (nSize > 0 && nLength < static_cast<std::size_t>(nSize)) {
        std::memcpy(szBuffer, pText, nLength);
        szBuffer[nLength] = '\0';
        return true;
    }
    if (nSize > 0) szBuffer[0] = '\0';
    return false;
}

// Writes a fixed word (a keyword) under the same rule.
inline bool writeWord(const char* szWord, std::size_t nLength, char* szBuffer, int32_t nSize) {
    if (nSize > 0 && nLength < static_cast<std::size_t>(nSize)) {
        std::memcpy(szBuffer, szWord, nLength + 1);
        return true;
    }
    if (nSize > 0) szBuffer[0] = '\0';
    return false;
}

// Writes the keyword of a keyword code (-1, 0 or -32767) under the same rule into *pbResult;
// false when llCode is no keyword code.
inline bool writeKeyword(int64_t llCode, char* szBuffer, int32_t nSize, bool* pbResult) {
    if (llCode == -1) { *pbResult = writeWord("RESET", 5, szBuffer, nSize); return true; }
    if (llCode == 0) { *pbResult = writeWord("NEXTIND", 7, szBuffer, nSize); return true; }
    if (llCode == -32767) { *pbResult = writeWord("DUMMY", 5, szBuffer, nSize); return true; }
    return false;
}

}  // namespace qr::survey
