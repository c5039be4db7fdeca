// Conversions: EBCDIC (code page 037, printable ASCII only) to ASCII and back, in place,
// through two fixed 256-entry tables built at compile time.
#include <array>
#include <cstring>

#include "qrcore/convert.h"
#include "util/text_length.h"

namespace {

using Table = std::array<unsigned char, 256>;

struct Pair {
    unsigned char nEbcdic;
    unsigned char nAscii;
};

// Every EBCDIC byte that gives something other than a blank, and runs of letters and digits.
// 0x5F (the not sign) gives the circumflex; 0xB0 (the circumflex) and 0xBA, 0xBB (the square
// brackets) are deliberately absent, so they give a blank, as does every control code and every
// character outside ASCII.
constexpr Pair kSingles[] = {
    {0x40, 0x20}, {0x4B, 0x2E}, {0x4C, 0x3C}, {0x4D, 0x28}, {0x4E, 0x2B}, {0x4F, 0x7C},
    {0x50, 0x26}, {0x5A, 0x21}, {0x5B, 0x24}, {0x5C, 0x2A}, {0x5D, 0x29}, {0x5E, 0x3B},
    {0x5F, 0x5E}, {0x60, 0x2D}, {0x61, 0x2F}, {0x6B, 0x2C}, {0x6C, 0x25}, {0x6D, 0x5F},
    {0x6E, 0x3E}, {0x6F, 0x3F}, {0x79, 0x60}, {0x7A, 0x3A}, {0x7B, 0x23}, {0x7C, 0x40},
    {0x7D, 0x27}, {0x7E, 0x3D}, {0x7F, 0x22}, {0xA1, 0x7E}, {0xC0, 0x7B}, {0xD0, 0x7D},
    {0xE0, 0x5C},
};

struct Run {
    unsigned char nEbcdic;
    unsigned char nAscii;
    unsigned char nCount;
};

constexpr Run kRuns[] = {
    {0x81, 'a', 9}, {0x91, 'j', 9}, {0xA2, 's', 8},  // a-i, j-r, s-z
    {0xC1, 'A', 9}, {0xD1, 'J', 9}, {0xE2, 'S', 8},  // A-I, J-R, S-Z
    {0xF0, '0', 10},                                 // 0-9
};

constexpr Table makeEbcdicToAscii() {
    Table table{};
    for (auto& nEntry : table) nEntry = 0x20;
    for (const Pair& pair : kSingles) table[pair.nEbcdic] = pair.nAscii;
    for (const Run& run : kRuns)
        for (int i = 0; i < run.nCount; ++i)
            table[static_cast<std::size_t>(run.nEbcdic + i)] =
                static_cast<unsigned char>(run.nAscii + i);
    return table;
}

constexpr Table kEbcdicToAscii = makeEbcdicToAscii();

// The exact inverse for every character the first table produces; all else is the EBCDIC blank.
constexpr Table makeAsciiToEbcdic() {
    Table table{};
    for (auto& nEntry : table) nEntry = 0x40;
    for (std::size_t e = 0; e < 256; ++e)
        if (kEbcdicToAscii[e] != 0x20) table[kEbcdicToAscii[e]] = static_cast<unsigned char>(e);
    return table;
}

constexpr Table kAsciiToEbcdic = makeAsciiToEbcdic();

static_assert(kEbcdicToAscii[0xC8] == 'H' && kEbcdicToAscii[0x85] == 'e');
static_assert(kAsciiToEbcdic[0x20] == 0x40 && kAsciiToEbcdic['['] == 0x40);
static_assert(kAsciiToEbcdic['^'] == 0x5F);

// Neither table produces a zero byte, so translating cannot shorten the text: the length
// measured first is the length translated.
constexpr bool hasNoZero(const Table& table) {
    for (unsigned char nEntry : table)
        if (nEntry == 0) return false;
    return true;
}
static_assert(hasNoZero(kEbcdicToAscii) && hasNoZero(kAsciiToEbcdic));

int32_t translate(char* szText, const Table& table) {
    if (szText == nullptr) return 0;
    const std::size_t nLength = std::strlen(szText);
    auto* pByte = reinterpret_cast<unsigned char*>(szText);
    std::size_t i = 0;
    // Eight lookups per round: independent loads and stores the processor can overlap.
    for (; i + 8 <= nLength; i += 8) {
        const unsigned char b0 = table[pByte[i]], b1 = table[pByte[i + 1]];
        const unsigned char b2 = table[pByte[i + 2]], b3 = table[pByte[i + 3]];
        const unsigned char b4 = table[pByte[i + 4]], b5 = table[pByte[i + 5]];
        const unsigned char b6 = table[pByte[i + 6]], b7 = table[pByte[i + 7]];
        pByte[i] = b0;
        pByte[i + 1] = b1;
        pByte[i + 2] = b2;
        pByte[i + 3] = b3;
        pByte[i + 4] = b4;
        pByte[i + 5] = b5;
        pByte[i + 6] = b6;
        pByte[i + 7] = b7;
    }
    for (; i < nLength; ++i) pByte[i] = table[pByte[i]];
    return qr::clampLength(nLength);
}

}  // namespace

extern "C" QR_API int32_t QR_CALL EbcdicToAscii(char* szText) { return translate(szText, kEbcdicToAscii); }

extern "C" QR_API int32_t QR_CALL AsciiToEbcdic(char* szText) { return translate(szText, kAsciiToEbcdic); }
