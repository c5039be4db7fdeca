// Survey codecs: reading line and flight names (keywords, type letters, area letters, digits).
// Internal to the survey subsystem; shared by the line-number and flight-number codecs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qr::survey {

inline constexpr int64_t kResetCode = -1;
inline constexpr int64_t kNextIndCode = 0;
inline constexpr int64_t kDummyCode = -32767;

inline constexpr char kLineTypes[] = "LBTRSPD";
inline constexpr char kFlightTypes[] = "NSCTI";

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

// Where the parts of a blank-free name lie: its length and the index of its first decimal digit
// (nLength when it has none). Type character at nDigit - 1 when nDigit > 0; area before it.
struct NameLayout {
    std::size_t nLength;
    std::size_t nDigit;
};

inline NameLayout scanName(const char* szText) {
    std::size_t i = 0;
    while (szText[i] != '\0' && !isDigit(szText[i])) ++i;
    const std::size_t nDigit = i;
    if (szText[i] != '\0') i += 1 + std::strlen(szText + i + 1);
    return NameLayout{i, nDigit};
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

// Reads the leading decimal digits of szText (none: 0) into *pnValue. False, with *pnValue
// unspecified, when the value exceeds nLimit; reading then stops, so any length is safe.
inline bool readLeadingDigits(const char* szText, uint32_t nLimit, uint32_t* pnValue) {
    uint64_t llValue = 0;
    for (; isDigit(*szText); ++szText) {
        llValue = llValue * 10 + static_cast<unsigned char>(*szText - '0');
        if (llValue > nLimit) return false;
    }
    *pnValue = static_cast<uint32_t>(llValue);
    return true;
}

// The area code of the nCount (1 or 2) characters at pArea, or kNoArea when a character is
// outside '@'..'Z' after upper-casing or the code exceeds 127.
inline unsigned areaCodeOf(const char* pArea, std::size_t nCount) {
    const unsigned nLast = areaValueOf(pArea[nCount - 1]);
    if (nLast == kNoArea) return kNoArea;
    if (nCount == 1) return nLast;
    const unsigned nFirst = areaValueOf(pArea[0]);
    if (nFirst == kNoArea) return kNoArea;
    const unsigned nArea = nFirst * 26 + nLast;
    return nArea <= 127 ? nArea : kNoArea;
}

}  // namespace qr::survey
