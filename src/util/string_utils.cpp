// Utilities: in-place string helpers (blanks, character replacement, line ends, fixed-width
// fields, double-byte character counts).
#include <cstring>

#include "qrcore/util.h"
#include "util/text_length.h"

extern "C" QR_API void QR_CALL DelAllBlank(char* szText) {
    if (szText == nullptr) return;
    char* pWrite = szText;
    for (const char* pRead = szText; *pRead != '\0'; ++pRead)
        if (*pRead != ' ') *pWrite++ = *pRead;
    *pWrite = '\0';
}

extern "C" QR_API int32_t QR_CALL ReplaceChar(char* szText, char cFrom, char cTo) {
    if (szText == nullptr) return 0;
    // The length is fixed before the first change: replacing by '\0' must not shorten the scan.
    const std::size_t nLength = std::strlen(szText);
    std::size_t nCount = 0;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (szText[i] == cFrom) {
            szText[i] = cTo;
            ++nCount;
        }
    }
    return qr::clampLength(nCount);
}

extern "C" QR_API bool QR_CALL ReplaceCRLF(char* szText) {
    if (szText == nullptr) return false;
    const std::size_t nLength = std::strlen(szText);
    for (std::size_t i = 0; i + 1 < nLength; ++i) {
        if (szText[i] == '\x1A') return false;  // Ctrl-Z: the end of a text file's data
        if (szText[i] == '\r' && szText[i + 1] == '\n') {
            szText[i] = ' ';
            szText[i + 1] = '\0';
            return true;
        }
    }
    return false;
}

extern "C" QR_API int32_t QR_CALL StrBytes(const char* szText) {
    if (szText == nullptr) return 0;
    std::size_t nLength = std::strlen(szText);
    while (nLength > 0 && szText[nLength - 1] == ' ') --nLength;
    return qr::clampLength(nLength);
}

extern "C" QR_API int32_t QR_CALL StrSymbols(const char* szText) {
    if (szText == nullptr) return 0;
    const auto* pByte = reinterpret_cast<const unsigned char*>(szText);
    std::size_t nCount = 0;
    while (*pByte != 0) {
        if (*pByte > 0xA0) {
            // The terminator is 0 and so never a valid second byte: the scan stops there.
            if (pByte[1] <= 0xA0) return -1;
            pByte += 2;
        } else {
            ++pByte;
        }
        ++nCount;
    }
    return qr::clampLength(nCount);
}

extern "C" QR_API int32_t QR_CALL ToVFString(char* szText, int32_t nWidth) {
    if (szText == nullptr) return 0;
    const std::size_t nLength = std::strlen(szText);
    if (nWidth <= 0 || nLength >= static_cast<std::size_t>(nWidth)) return qr::clampLength(nLength);
    // Blanks from the terminator on; the field is exactly nWidth bytes and is not terminated.
    std::memset(szText + nLength, ' ', static_cast<std::size_t>(nWidth) - nLength);
    return nWidth;
}
