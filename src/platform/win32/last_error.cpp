// Win32 backend: the last system error is the system's own per-thread value (GetLastError), so a
// host that mixes QRCore with Win32 calls reads the same code; its text comes from the system's
// message table in the user's language.
#include <string>

#include "platform/win32/seam.h"

namespace qr::sys {

const uint32_t kErrorInvalidHandle = ERROR_INVALID_HANDLE;
const uint32_t kErrorInvalidArgument = ERROR_INVALID_PARAMETER;
const uint32_t kErrorNameTooLong = ERROR_FILENAME_EXCED_RANGE;
const uint32_t kErrorNotFound = ERROR_FILE_NOT_FOUND;
const uint32_t kErrorNoMemory = ERROR_NOT_ENOUGH_MEMORY;
const uint32_t kErrorAccessDenied = ERROR_ACCESS_DENIED;
const uint32_t kErrorNotSupported = ERROR_NOT_SUPPORTED;
const uint32_t kErrorTimeout = WAIT_TIMEOUT;
const uint32_t kErrorSharingViolation = ERROR_SHARING_VIOLATION;
const uint32_t kErrorAlreadyExists = ERROR_ALREADY_EXISTS;
const uint32_t kErrorFileExists = ERROR_FILE_EXISTS;
const uint32_t kErrorUserMappedFile = ERROR_USER_MAPPED_FILE;

uint32_t lastError() { return ::GetLastError(); }

void setLastError(uint32_t nCode) { ::SetLastError(nCode); }

uint32_t captureLastError() { return ::GetLastError(); }

std::string systemErrorText(uint32_t nCode) {
    if (const char* szText = privateErrorText(nCode)) return szText;
    const DWORD nSaved = ::GetLastError();
    char szText[512];
    // Language 0: the user's default language, falling back as the system does (neutral, then
    // the thread's, the user's and the system's language).
    DWORD nLength = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nCode,
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), szText, sizeof szText, nullptr);
    if (nLength == 0)
        nLength = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nCode, 0,
                                   szText, sizeof szText, nullptr);
    ::SetLastError(nSaved);
    std::string sText(szText, nLength);
    // The system's texts end in a line break (and sometimes a blank before it); the contract's do not.
    while (!sText.empty() && (sText.back() == '\n' || sText.back() == '\r' || sText.back() == ' '))
        sText.pop_back();
    if (!sText.empty()) return sText;
    if (nCode == 0) return "Success";
    return "Unknown error " + std::to_string(nCode);
}

}  // namespace qr::sys
