// Utilities: identifiers (byte strings that may hold control bytes) written as printable text
// with "(hex)" groups, and read back.
#include <cstring>

#include "qrcore/util.h"
#include "util/text_length.h"

namespace {

// Value of one hexadecimal digit, or -1.
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" QR_API int32_t QR_CALL IDToString(char* szText, const char* szID) {
    if (szText == nullptr) return 0;
    if (szID == nullptr) {
        szText[0] = '\0';
        return 0;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    char* pOut = szText;
    for (const auto* pByte = reinterpret_cast<const unsigned char*>(szID); *pByte != 0; ++pByte) {
        const unsigned char c = *pByte;
        if (c < 0x20) {
            *pOut++ = '(';
            if (c >= 0x10) *pOut++ = kHex[c >> 4];
            *pOut++ = kHex[c & 0x0F];
            *pOut++ = ')';
        } else {
            *pOut++ = static_cast<char>(c);
        }
    }
    *pOut = '\0';
    return qr::clampLength(static_cast<std::size_t>(pOut - szText));
}

extern "C" QR_API int32_t QR_CALL StringToID(char* szID, char* szText) {
    if (szID == nullptr) return 0;
    if (szText == nullptr) {
        szID[0] = '\0';
        return 0;
    }
    std::size_t k = 0;
    char* p = szText;
    while (*p != '\0') {
        if (*p == '(') {
            char* pGroup = p + 1;
            char* pClose = pGroup;
            while (*pClose != '\0' && *pClose != ')') ++pClose;
            if (*pClose != ')') return -1;  // no closing ")": the text has no value for it
            *pClose = '\0';
            const std::ptrdiff_t nDigits = pClose - pGroup;
            if (nDigits < 1 || nDigits > 2) return -1;
            int nValue = 0;
            for (const char* pDigit = pGroup; pDigit != pClose; ++pDigit) {
                const int nDigit = hexDigit(*pDigit);
                if (nDigit < 0) return -1;
                nValue = nValue * 16 + nDigit;
            }
            szID[k] = static_cast<char>(nValue);
            p = pClose + 1;
        } else {
            szID[k] = *p;
            ++p;
        }
        ++k;
    }
    szID[k] = '\0';
    return qr::clampLength(k);
}
