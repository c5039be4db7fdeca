// File objects: generated temporary names, the placeholder they leave, and zero-filling.
// All disk work goes through the raw file functions and the platform layer.
#include "file/temp_support.h"

#include <cstring>

#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace qr {

namespace {
// One process-wide block of zeros. It is never written, so its pages stay the system's shared
// zero page: no heap, and no megabyte on a caller's thread stack.
unsigned char g_zeroPiece[kZeroPiece];
}  // namespace

std::string makeTempPath(const char* szPrefix, const char* szDefault) {
    // The generator uses up to three characters; at most four are taken from the caller.
    const char* szUsed = szPrefix != nullptr ? szPrefix : szDefault;
    const std::string sPrefix(szUsed, ::strnlen(szUsed, 4));
    const std::string sFolder = sys::tempFolder();
    if (sFolder.empty()) {  // the contract never gives "", but a report needs a cause
        setSystemError(sys::kErrorNotFound);
        return std::string();
    }
    std::string sPath = sys::makeTempFileName(sFolder.c_str(), sPrefix.c_str());
    if (sPath.empty()) setError(kErrSystem);
    return sPath;
}

void* openTempPlaceholder(const char* szPath) {
    void* hFile = sys::createFile(szPath, sys::kGenericRead | sys::kGenericWrite, 0,
                                  sys::kCreateAlways, true);
    if (!sys::isValidHandle(hFile)) {
        setError(kErrSystem);
        return sys::kInvalidHandle;
    }
    return hFile;
}

bool writeZeros(void* hFile, int64_t llCount) {
    int64_t llRemaining = llCount;
    while (llRemaining > 0) {
        const uint32_t nPiece = static_cast<uint32_t>(llRemaining < kZeroPiece ? llRemaining : kZeroPiece);
        const uint32_t nWritten = QR_Write(hFile, g_zeroPiece, nPiece);
        if (nWritten == 0) return false;
        llRemaining -= nWritten;
    }
    return true;
}

}  // namespace qr
