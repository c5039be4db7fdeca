// Platform layer: the calling thread's last system error, like the Win32 last-error value.
#pragma once

#include <cstdint>
#include <string>

namespace qr::sys {

// Codes are the backend's native codes (errno values on POSIX, GetLastError values on Windows,
// where the last error is the system's own). Win32 conditions with no POSIX equivalent get
// private codes above the errno range there (kErrorPrivateBase + the Win32 code);
// systemErrorText knows them.
inline constexpr uint32_t kErrorPrivateBase = 0x20000000u;
// Conditions of the library's own named objects and journals, above the Win32 range on every
// backend (no system has them); systemErrorText knows their texts.
inline constexpr uint32_t kErrorMappingOtherFile = kErrorPrivateBase + 0x10001;   // name backs another file
inline constexpr uint32_t kErrorMappingNotAppendNull = kErrorPrivateBase + 0x10002;  // object made without it
// The journal of an interrupted edit beside a file that does not belong to that file (another
// file's identity or size), or that does not check (damaged, or not a journal at all). Such a
// journal is never applied.
inline constexpr uint32_t kErrorJournalForeign = kErrorPrivateBase + 0x5101;
inline constexpr uint32_t kErrorJournalDamaged = kErrorPrivateBase + 0x5102;
// The journal's name is taken by something that is not the file owner's own private journal (a
// link, a folder, a FIFO, another user's file, or one others may open): never applied, never
// removed, and no journaled edit of the file runs until it is gone.
inline constexpr uint32_t kErrorJournalNotOurs = kErrorPrivateBase + 0x5103;
// An interrupted edit's journal that the caller may not apply (it may not write the file).
inline constexpr uint32_t kErrorJournalWaits = kErrorPrivateBase + 0x5104;
// A journal that no longer describes its file (changed, restored or renamed after the edit
// stopped), or a mark of an interrupted edit on a file whose journal is not where it names.
inline constexpr uint32_t kErrorJournalStale = kErrorPrivateBase + 0x5105;
// A journal written by an older format.
inline constexpr uint32_t kErrorJournalVersion = kErrorPrivateBase + 0x5106;
// A chunked edit by someone who can make no journal the file's owner's (neither owner nor root).
inline constexpr uint32_t kErrorJournalNotOwner = kErrorPrivateBase + 0x5108;
// A block move whose source ended before the move's length: nothing of it was written.
inline constexpr uint32_t kErrorShortSource = kErrorPrivateBase + 0x5107;

// Native codes the portable layer needs by meaning (POSIX / Win32).
extern const uint32_t kErrorSharingViolation;  // private 32 / ERROR_SHARING_VIOLATION
extern const uint32_t kErrorAlreadyExists;     // private 183 / ERROR_ALREADY_EXISTS (named object)
extern const uint32_t kErrorFileExists;        // EEXIST / ERROR_FILE_EXISTS (kCreateNew of an existing file)
extern const uint32_t kErrorUserMappedFile;    // private 1224 / ERROR_USER_MAPPED_FILE (cut below a mapping)
extern const uint32_t kErrorInvalidHandle;    // EBADF / ERROR_INVALID_HANDLE
extern const uint32_t kErrorInvalidArgument;  // EINVAL / ERROR_INVALID_PARAMETER
extern const uint32_t kErrorNameTooLong;      // ENAMETOOLONG / ERROR_FILENAME_EXCED_RANGE
extern const uint32_t kErrorNotFound;         // ENOENT / ERROR_FILE_NOT_FOUND
extern const uint32_t kErrorNoMemory;         // ENOMEM / ERROR_NOT_ENOUGH_MEMORY
extern const uint32_t kErrorAccessDenied;     // EACCES / ERROR_ACCESS_DENIED
extern const uint32_t kErrorNotSupported;     // EOPNOTSUPP / ERROR_NOT_SUPPORTED
extern const uint32_t kErrorTimeout;          // ETIMEDOUT / WAIT_TIMEOUT

uint32_t lastError();
void setLastError(uint32_t nCode);
// Records the current errno (POSIX) as the last error; returns it. Backends call it right after
// a failed OS call. (On Windows the failed call has set it already; this returns it.)
uint32_t captureLastError();

// The system's description of nCode in the user's language (LC_MESSAGES from the environment),
// without a trailing line break. Never empty: an unknown code gives "Unknown error N".
std::string systemErrorText(uint32_t nCode);
// The text of one of the library's own private codes above, or null for any other code. Every
// backend's systemErrorText gives these first.
const char* privateErrorText(uint32_t nCode);

}  // namespace qr::sys
