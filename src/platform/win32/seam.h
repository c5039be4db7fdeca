// Win32 backend: what every file of the backend uses to fail as the system does, and the
// system headers in the one configuration the backend is built with.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>

#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"

namespace qr::sys::win32 {

// Asks the fault seam before an OS call of kind op. On an armed failure its code becomes the
// thread's last error (the system's own last-error value) and the call must fail.
inline bool faulted(Op op) {
    if (const uint32_t nCode = takeFault(op)) {
        ::SetLastError(nCode);
        return true;
    }
    return false;
}

// Records nCode as the last error; returns false, for one-line failure paths.
inline bool fail(DWORD nCode) {
    ::SetLastError(nCode);
    return false;
}

// The handle as the system takes it. Null and the all-bits-set value are refused before any call
// by the callers: for the system the latter is the current process, not an invalid handle.
inline HANDLE systemHandle(void* h) { return static_cast<HANDLE>(h); }

// Whether the system granted hFile the right to change the file's data. True when the system
// cannot say (the call on the handle then gives the system's own answer).
inline bool mayWrite(HANDLE hFile) {
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    if (::NtQueryObject(hFile, ObjectBasicInformation, &info, sizeof info, nullptr) < 0) return true;
    return (info.GrantedAccess & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

// Closes a handle of the backend's own on a failure path without losing the failure's code.
inline void closeQuietly(HANDLE h) {
    const DWORD nSaved = ::GetLastError();
    ::CloseHandle(h);
    ::SetLastError(nSaved);
}

// True when no mapping of hFile's file is alive in any process (the question behind
// checkFileNotMapped, without the fault seam); false with ERROR_USER_MAPPED_FILE when one is, or
// with the cause when the question fails.
bool fileNotMapped(HANDLE hFile);

}  // namespace qr::sys::win32
