// Survey codecs: reading line and flight names (keywords, type letters, area letters, digits).
// Internal to the survey subsystem; shared by the line-number and flight-number codecs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qrcore/util.h"

namespace qr::survey {

inline constexpr int64_t kResetCode = -1;
inline constexpr int64_t kNextIndCode = 0;
inline constexpr int64_t kDummyCode = -32767;

inline constexpr char kLineTypes[] = "LBTRSPD";
inline constexpr char kFlightTypes[] = "NSCTI";

// At most two area characters stand before the type letter.
inline constexpr std::size_t kMaxAreaLength = 2;

// Upper-cases 'a'..'z' and leaves every other byte as it is (0x80 and above included).
constexpr unsigned char upperCase(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// For each byte: its position in szTypes after upper-casing, plus one; 0 when it is no type
// letter. The letters are distinct, so this is the linear search from the first letter.
template <std::size_t N>
constexpr std::array<uint8_t, 256> makeTypeTable(const char (&szTypes)[N]) {
    std::array<uint8_t, 256> aTable{};
    for (unsigned nByte = 0; nByte < 256; ++nByte) {
        const unsigned char cUpper = upperCase(static_cast<unsigned char>(nByte));
        for (std::size_t i = 0; i + 1 < N; ++i)
            if (static_cast<unsigned char>(szTypes[i]) == cUpper) {
                aTable[nByte] = static_cast<uint8_t>(i + 1);
                break;
            }
    }
    return aTable;
}

inline constexpr std::array<uint8_t, 256> kLineTypeIndex = makeTypeTable(kLineTypes);
inline constexpr std::array<uint8_t, 256> kFlightTypeIndex = makeTypeTable(kFlightTypes);

// For each byte: its area value after upper-casing (code minus 64: '@' 0, 'A' 1 .. 'Z' 26), or
// kNoArea when that is outside 0..26.
inline constexpr uint8_t kNoArea = 0xFF;
inline constexpr std::array<uint8_t, 256> kAreaValue = [] {
    std::array<uint8_t, 256> aTable{};
    for (unsigned nByte = 0; nByte < 256; ++nByte) {
        const unsigned nUpper = upperCase(static_cast<unsigned char>(nByte));
        aTable[nByte] = (nUpper >= 64 && nUpper <= 90) ? static_cast<uint8_t>(nUpper - 64) : kNoArea;
    }
    return aTable;
}();

inline unsigned typeIndexOf(const std::array<uint8_t, 256>& aTable, char c) {
    return aTable[static_cast<unsigned char>(c)];
}

inline unsigned areaValueOf(char c) { return kAreaValue[static_cast<unsigned char>(c)]; }

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Where the parts of a name lie: its length, the index of its first decimal digit (nLength when
// it has none) and whether it holds a blank; and the value of the leading digits from the first
// digit on (0 when there are none), capped at the caller's limit plus one. In a blank-free name
// the type character is at nDigit - 1 when nDigit > 0, and the area before it.
struct NameLayout {
    std::size_t nLength;
    std::size_t nDigit;
    bool bBlank;
    uint32_t nNumber;
};

// One pass over the text in three plain loops (before the first digit, the leading digits, the
// rest). nLimit is at most 2^31 - 1, so the capped value and its next step stay inside 64 bits.
inline NameLayout scanName(const char* szText, uint32_t nLimit) {
    bool bBlank = false;
    std::size_t i = 0;
    for (; szText[i] != '\0' && !isDigit(szText[i]); ++i) bBlank |= szText[i] == ' ';
    const std::size_t nDigit = i;
    uint64_t llNumber = 0;
    for (; isDigit(szText[i]); ++i) {
        llNumber = llNumber * 10 + static_cast<unsigned char>(szText[i] - '0');
        if (llNumber > nLimit) llNumber = uint64_t{nLimit} + 1;
    }
    for (; szText[i] != '\0'; ++i) bBlank |= szText[i] == ' ';
    return NameLayout{i, nDigit, bBlank, static_cast<uint32_t>(llNumber)};
}

// Removes the blanks of szText in place and returns the layout of the blank-free text. Most
// names carry no blank: the one scan finds that out, and DelAllBlank runs only when needed.
inline NameLayout removeBlanks(char* szText, uint32_t nLimit) {
    NameLayout layout = scanName(szText, nLimit);
    if (layout.bBlank) {
        DelAllBlank(szText);
        layout = scanName(szText, nLimit);
    }
    return layout;
}

// The keyword code of an exact keyword text, or false when the text is none.
inline bool matchKeyword(const char* szText, std::size_t nLength, int64_t* pllCode) {
    if (nLength == 5) {
        if (std::memcmp(szText, "RESET", 5) == 0) { *pllCode = kResetCode; return true; }
        if (std::memcmp(szText, "DUMMY", 5) == 0) { *pllCode = kDummyCode; return true; }
    } else if (nLength == 7 && std::memcmp(szText, "NEXTIND", 7) == 0) {
        *pllCode = kNextIndCode;
        return true;
    }
    return false;
}

// The area code of the nCount (0, 1 or 2) characters at pArea, or kNoArea when a character is
// outside '@'..'Z' after upper-casing or the code exceeds 127. Absent characters are valued as
// '@' (0), so one character gives its own value; no byte before pArea is read.
inline unsigned areaCodeOf(const char* pArea, std::size_t nCount) {
    const char* pLast = nCount >= 1 ? pArea + nCount - 1 : "@";
    const char* pFirst = nCount >= 2 ? pArea : "@";
    const unsigned nLast = areaValueOf(*pLast);
    const unsigned nFirst = areaValueOf(*pFirst);
    if ((nFirst | nLast) == kNoArea) return kNoArea;
    const unsigned nArea = nFirst * 26 + nLast;
    return nArea <= 127 ? nArea : kNoArea;
}

}  // namespace qr::survey
