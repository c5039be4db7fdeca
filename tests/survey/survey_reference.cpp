// Survey codec tests: the reference model, written step by step from the codec rules with the
// C library's own parsing and formatting, independent of the library's fast paths.
#include "survey_reference.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace surveyref {
namespace {

const char* const kLineTypes = "LBTRSPD";
const char* const kFlightTypes = "NSCTI";

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string withoutBlanks(const std::string& s) {
    std::string sOut;
    for (char c : s)
        if (c != ' ') sOut += c;
    return sOut;
}

// Position of the first decimal digit, or the length when there is none.
size_t firstDigit(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && !(s[i] >= '0' && s[i] <= '9')) ++i;
    return i;
}

// Value of the leading digits through strtoull; "over" when beyond nLimit.
bool leadingValue(const std::string& s, unsigned long long nLimit, unsigned long long& nValue) {
    size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
    std::string sDigits = s.substr(0, n);
    if (sDigits.empty()) { nValue = 0; return true; }
    errno = 0;
    nValue = std::strtoull(sDigits.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    return nValue <= nLimit;
}

int areaValue(char c) { return static_cast<unsigned char>(upper(c)) - 64; }

bool isKeyword(const std::string& s) { return s == "RESET" || s == "NEXTIND" || s == "DUMMY"; }

int typePosition(const char* szTypes, char c) {
    const char cUpper = upper(c);
    for (int i = 0; szTypes[i] != '\0'; ++i)
        if (szTypes[i] == cUpper) return i;
    return -1;
}

// Area code of the characters before the type, -1 when not valid.
int areaOf(const std::string& sArea) {
    if (sArea.empty()) return 0;
    if (sArea.size() > 2) return -1;
    const int nLast = areaValue(sArea.back());
    if (nLast < 0 || nLast > 26) return -1;
    if (sArea.size() == 1) return nLast;
    const int nFirst = areaValue(sArea[0]);
    if (nFirst < 0 || nFirst > 26) return -1;
    return nFirst * 26 + nLast <= 127 ? nFirst * 26 + nLast : -1;
}

std::string letters(int nArea, int nType, const char* szTypes) {
    std::string s;
    if ((nArea - 1) / 26 > 0) s += static_cast<char>('@' + (nArea - 1) / 26);
    if (nArea > 0) s += static_cast<char>('A' + (nArea - 1) % 26);
    if (nArea > 0 || nType > 0) s += szTypes[nType - 1 < 0 ? 0 : nType - 1];
    return s;
}

}  // namespace

int64_t lineCode(uint32_t nNumber, unsigned nType, unsigned nArea) {
    return static_cast<int64_t>(nNumber) + static_cast<int64_t>(nType) * (int64_t{1} << 32) +
           static_cast<int64_t>(nArea) * (int64_t{1} << 40);
}

int32_t flightCode(uint32_t nNumber, unsigned nType, unsigned nArea) {
    return static_cast<int32_t>(nNumber + nType * 65536u + nArea * 16777216u);
}

std::string areaLetters(int nArea) {
    static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (nArea <= 0) return "";
    if (nArea <= 26) return std::string(1, kAlphabet[nArea - 1]);
    return std::string(1, kAlphabet[(nArea - 1) / 26 - 1]) + kAlphabet[(nArea - 1) % 26];
}

LineSplit splitLine(std::string& sText, int nNumberSize, int nAreaSize) {
    LineSplit split;
    sText = withoutBlanks(sText);
    if (static_cast<long>(sText.size()) > nNumberSize) return split;
    auto fits = [](const std::string& s, int nSize) { return static_cast<long>(s.size()) + 1 <= nSize; };
    if (isKeyword(sText)) {
        if (!fits(sText, nNumberSize)) return split;
        split.sNumber = sText;
        split.bOk = true;
        return split;
    }
    const size_t nDigit = firstDigit(sText);
    if (!fits(sText.substr(nDigit), nNumberSize)) return split;
    split.sNumber = sText.substr(nDigit);
    if (nDigit == 0) { split.bOk = true; return split; }
    split.cType = upper(sText[nDigit - 1]);
    if (nDigit - 1 == 0) { split.bOk = true; return split; }
    const std::string sArea = sText.substr(0, nDigit - 1);
    if (sArea.size() > 2 || !fits(sArea, nAreaSize)) return split;
    split.sArea = sArea;
    split.bOk = true;
    return split;
}

bool toIntLine(std::string& sText, int64_t& llCode) {
    sText = withoutBlanks(sText);
    if (sText == "RESET") { llCode = -1; return true; }
    if (sText == "NEXTIND") { llCode = 0; return true; }
    if (sText == "DUMMY") { llCode = -32767; return true; }
    llCode = -32767;
    std::string sCopy = sText;
    const LineSplit split = splitLine(sCopy, 16, 4);
    if (!split.bOk) return false;
    unsigned long long nNumber = 0;
    if (!leadingValue(split.sNumber, 2147483647ull, nNumber)) return false;
    if (split.cType == '\0') { llCode = static_cast<int64_t>(nNumber); return true; }
    const int nType = typePosition(kLineTypes, split.cType);
    const int nArea = areaOf(split.sArea);
    if (nType < 0 || nArea < 0) return false;
    llCode = lineCode(static_cast<uint32_t>(nNumber), static_cast<unsigned>(nType + 1), static_cast<unsigned>(nArea));
    return true;
}

bool toIntFlight(std::string& sText, int32_t& lCode) {
    sText = withoutBlanks(sText);
    if (sText == "RESET") { lCode = -1; return true; }
    if (sText == "NEXTIND") { lCode = 0; return true; }
    if (sText == "DUMMY") { lCode = -32767; return true; }
    lCode = -32767;
    const size_t nDigit = firstDigit(sText);
    unsigned long long nNumber = 0;
    if (!leadingValue(sText.substr(nDigit), 65535ull, nNumber)) return false;
    if (nDigit == 0) { lCode = static_cast<int32_t>(nNumber); return true; }
    const int nType = typePosition(kFlightTypes, sText[nDigit - 1]);
    const int nArea = areaOf(sText.substr(0, nDigit - 1));
    if (nType < 0 || nArea < 0) return false;
    lCode = flightCode(static_cast<uint32_t>(nNumber), static_cast<unsigned>(nType + 1), static_cast<unsigned>(nArea));
    return true;
}

bool toCharLine(int64_t llCode, std::string& sText) {
    if (llCode == -1) { sText = "RESET"; return true; }
    if (llCode == 0) { sText = "NEXTIND"; return true; }
    if (llCode == -32767) { sText = "DUMMY"; return true; }
    const uint64_t nAbs = llCode < 0 ? 0 - static_cast<uint64_t>(llCode) : static_cast<uint64_t>(llCode);
    const int nType = static_cast<int8_t>((nAbs >> 32) & 0xFF);
    const int nArea = static_cast<int8_t>((nAbs >> 40) & 0xFF);
    if (nType > 7) { sText = "DUMMY"; return false; }
    char szNumber[32];
    std::snprintf(szNumber, sizeof szNumber, "%04d", static_cast<int32_t>(nAbs & 0xFFFFFFFFu));
    sText = letters(nArea, nType, kLineTypes) + szNumber;
    return true;
}

bool toCharFlight(int32_t lCode, std::string& sText) {
    if (lCode == -1) { sText = "RESET"; return true; }
    if (lCode == 0) { sText = "NEXTIND"; return true; }
    if (lCode == -32767) { sText = "DUMMY"; return true; }
    const uint32_t nAbs = lCode < 0 ? 0 - static_cast<uint32_t>(lCode) : static_cast<uint32_t>(lCode);
    const int nType = static_cast<int8_t>((nAbs >> 16) & 0xFF);
    const int nArea = static_cast<int8_t>((nAbs >> 24) & 0xFF);
    if (nType > 5) { sText = "DUMMY"; return false; }
    char szNumber[16];
    std::snprintf(szNumber, sizeof szNumber, "%02u", nAbs & 0xFFFFu);
    sText = letters(nArea, nType, kFlightTypes) + szNumber;
    return true;
}

}  // namespace surveyref
