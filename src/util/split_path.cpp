// Utilities: splitting a path into drive, directory, base name and extension, with the buffer
// rules of the C run-time's checked split (EINVAL, ERANGE, every buffer emptied on failure).
#include <cerrno>
#include <cstring>

#include "qrcore/util.h"

namespace {

struct Part {
    char* pBuffer;
    uint32_t nSize;
    const char* pBegin;
    std::size_t nLength;
};

// A buffer and its size must be given together or skipped together.
bool consistent(const Part& part) { return (part.pBuffer == nullptr) == (part.nSize == 0); }

void emptyAll(Part* pParts, int nParts) {
    for (int i = 0; i < nParts; ++i)
        if (pParts[i].pBuffer != nullptr && pParts[i].nSize > 0) pParts[i].pBuffer[0] = '\0';
}

}  // namespace

extern "C" QR_API int32_t QR_CALL SplitPath(const char* szPath, char* szDrive, uint32_t nDriveSize,
                                    char* szDir, uint32_t nDirSize, char* szName,
                                    uint32_t nNameSize, char* szExt, uint32_t nExtSize) {
    Part parts[4] = {{szDrive, nDriveSize, nullptr, 0},
                     {szDir, nDirSize, nullptr, 0},
                     {szName, nNameSize, nullptr, 0},
                     {szExt, nExtSize, nullptr, 0}};
    bool bValid = szPath != nullptr;
    for (const Part& part : parts) bValid = bValid && consistent(part);
    if (!bValid) {
        emptyAll(parts, 4);
        return EINVAL;
    }

    const char* p = szPath;
    // Drive: a character and a colon at the start.
    if (p[0] != '\0' && p[1] == ':') {
        parts[0].pBegin = p;
        parts[0].nLength = 2;
        p += 2;
    }
    // Directory up to and including the last separator; the extension starts at the last dot
    // after it.
    const char* pLastSlash = nullptr;
    const char* pDot = nullptr;
    for (const char* q = p; *q != '\0'; ++q) {
        if (*q == '/' || *q == '\\')
            pLastSlash = q + 1;
        else if (*q == '.')
            pDot = q;
    }
    if (pLastSlash != nullptr) {
        parts[1].pBegin = p;
        parts[1].nLength = static_cast<std::size_t>(pLastSlash - p);
        p = pLastSlash;
    }
    const std::size_t nRest = std::strlen(p);
    if (pDot != nullptr && pDot >= p) {
        parts[2].pBegin = p;
        parts[2].nLength = static_cast<std::size_t>(pDot - p);
        parts[3].pBegin = pDot;
        parts[3].nLength = nRest - parts[2].nLength;
    } else {
        parts[2].pBegin = p;
        parts[2].nLength = nRest;
    }

    for (const Part& part : parts) {
        if (part.pBuffer != nullptr && part.nLength >= part.nSize) {
            emptyAll(parts, 4);
            return ERANGE;
        }
    }
    for (const Part& part : parts) {
        if (part.pBuffer == nullptr) continue;
        if (part.nLength > 0) std::memcpy(part.pBuffer, part.pBegin, part.nLength);
        part.pBuffer[part.nLength] = '\0';
    }
    return 0;
}
