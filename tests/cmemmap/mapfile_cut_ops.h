// The operations the mapped-file tests try on a file, shared by the suite (same process) and the
// peer (another process) so that both run exactly the same calls.
#pragma once

#include <string>

#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace mftest {

// sHow: "newfile" (a truncating create), "truncate" (a truncating open), "seteof" (QR_SetEndOfFile
// at 10), "extend" (end of file 100 bytes further), "collapse" (the in-place removal
// of the first 4096 bytes), anything else FreeDiskSpace of the first 4096 bytes. False after
// error 1000000 was reported (the overwrite question must be answered with OK).
inline bool cutFile(const std::string& sHow, const char* szPath) {
    using namespace qr::sys;
    void* hFile = nullptr;
    bool bOk = false;
    if (sHow == "newfile") {
        bOk = QR_NewFile(&hFile, szPath, 0x303);
    } else if (sHow == "truncate") {
        hFile = createFile(szPath, kGenericRead | kGenericWrite, kShareRead | kShareWrite, kTruncateExisting, false);
        bOk = hFile != kInvalidHandle;
        if (!bOk) ReportError(1000000);
    } else if (QR_OpenFile(&hFile, szPath, 0x303)) {
        if (sHow == "seteof" || sHow == "extend") {
            bOk = (sHow == "seteof" ? QR_Seek(hFile, 10, 0) : QR_Seek(hFile, 100, 2)) && QR_SetEndOfFile(hFile);
        } else if (sHow == "collapse") {
            bOk = collapseRange(hFile, 0, 4096);
            if (!bOk) ReportError(1000000);
        } else {
            bOk = FreeDiskSpace(hFile, 0, 4096);  // reports its own failure
        }
    }
    if (isValidHandle(hFile)) QR_CloseFile(hFile);
    return bOk;
}

}  // namespace mftest
