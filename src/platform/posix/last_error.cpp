// POSIX backend: the per-thread last system error and its text in the user's language.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>

#include "platform/sys_error.h"

namespace qr::sys {

const uint32_t kErrorInvalidHandle = EBADF;
const uint32_t kErrorInvalidArgument = EINVAL;
const uint32_t kErrorNameTooLong = ENAMETOOLONG;
const uint32_t kErrorNotFound = ENOENT;
const uint32_t kErrorNoMemory = ENOMEM;
const uint32_t kErrorAccessDenied = EACCES;
const uint32_t kErrorNotSupported = EOPNOTSUPP;
const uint32_t kErrorTimeout = ETIMEDOUT;
const uint32_t kErrorSharingViolation = kErrorPrivateBase + 32;
const uint32_t kErrorAlreadyExists = kErrorPrivateBase + 183;
const uint32_t kErrorFileExists = EEXIST;
const uint32_t kErrorUserMappedFile = kErrorPrivateBase + 1224;

namespace {
thread_local uint32_t t_nLastError = 0;

// The user's message locale, made once from the environment; the "C" texts when the
// environment names no usable locale.
locale_t messageLocale() {
    static const locale_t s_locale = [] {
        locale_t loc = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(nullptr));
        if (loc == static_cast<locale_t>(nullptr))
            loc = newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
        return loc;
    }();
    return s_locale;
}
}  // namespace

uint32_t lastError() { return t_nLastError; }

void setLastError(uint32_t nCode) { t_nLastError = nCode; }

uint32_t captureLastError() {
    t_nLastError = static_cast<uint32_t>(errno);
    return t_nLastError;
}

std::string systemErrorText(uint32_t nCode) {
    if (nCode == kErrorSharingViolation)
        return "The file is in use by another handle or process (sharing violation)";
    if (nCode == kErrorAlreadyExists) return "The named object already exists";
    if (nCode == kErrorUserMappedFile)
        return "The requested operation cannot be performed on a file with a user-mapped section open.";
    if (const char* szText = privateErrorText(nCode)) return szText;
    if (nCode > 0 && nCode < kErrorPrivateBase) {
        const int nErr = static_cast<int>(nCode);
        const int nSaved = errno;
        const char* szText = nullptr;
        if (locale_t loc = messageLocale(); loc != static_cast<locale_t>(nullptr))
            szText = strerror_l(nErr, loc);
        errno = nSaved;
        if (szText != nullptr && std::strncmp(szText, "Unknown error", 13) != 0) return szText;
    }
    if (nCode == 0) return "Success";
    char szBuffer[48];
    std::snprintf(szBuffer, sizeof szBuffer, "Unknown error %u", nCode);
    return szBuffer;
}

}  // namespace qr::sys
