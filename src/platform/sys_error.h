// Platform layer: the calling thread's last system error, like the Win32 last-error value.
#pragma once

#include <cstdint>
#include <string>

namespace qr::sys {

// Codes are the backend's native codes (errno values on POSIX). Win32 conditions with no
// native equivalent get private codes above the native range; systemErrorText knows them.
inline constexpr uint32_t kErrorPrivateBase = 0x20000000u;
inline constexpr uint32_t kErrorSharingViolation = kErrorPrivateBase + 32;  // share modes clash
inline constexpr uint32_t kErrorAlreadyExists = kErrorPrivateBase + 183;    // named object existed
inline constexpr uint32_t kErrorUserMappedFile = kErrorPrivateBase + 1224;  // cut below a live mapping
// Conditions of the library's own named objects, above the Win32 range.
inline constexpr uint32_t kErrorMappingOtherFile = kErrorPrivateBase + 0x10001;   // name backs another file
inline constexpr uint32_t kErrorMappingNotAppendNull = kErrorPrivateBase + 0x10002;  // object made without it
// The journal of an interrupted edit beside a file that does not belong to that file (another
// file's identity or size), or that does not check (damaged, or not a journal at all). Such a
// journal is never applied. Texts: see systemErrorText.
inline constexpr uint32_t kErrorJournalForeign = kErrorPrivateBase + 0x5101;
inline constexpr uint32_t kErrorJournalDamaged = kErrorPrivateBase + 0x5102;

// Native codes the portable layer needs by meaning.
extern const uint32_t kErrorInvalidHandle;    // EBADF
extern const uint32_t kErrorInvalidArgument;  // EINVAL
extern const uint32_t kErrorNameTooLong;      // ENAMETOOLONG
extern const uint32_t kErrorNotFound;         // ENOENT
extern const uint32_t kErrorNoMemory;         // ENOMEM
extern const uint32_t kErrorAccessDenied;     // EACCES
extern const uint32_t kErrorNotSupported;     // EOPNOTSUPP
extern const uint32_t kErrorTimeout;          // ETIMEDOUT

uint32_t lastError();
void setLastError(uint32_t nCode);
// Records the current errno (POSIX) as the last error; returns it. Backends call it right after
// a failed OS call.
uint32_t captureLastError();

// The system's description of nCode in the user's language (LC_MESSAGES from the environment),
// without a trailing line break. Never empty: an unknown code gives "Unknown error N".
std::string systemErrorText(uint32_t nCode);

}  // namespace qr::sys
