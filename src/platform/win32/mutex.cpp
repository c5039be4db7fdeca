// Win32 backend: the system's mutexes (recursive for the owning thread, timed waits, abandoned when
// the owning thread ends). Named ones live in the system's object namespace of the session, so
// processes of one user share them.
#include "platform/sys_mapping.h"
#include "platform/win32/seam.h"

namespace qr::sys {

const uint32_t kErrorNotOwner = ERROR_NOT_OWNER;

namespace {
// Null and the all-bits-set value (the current process for the system, which a wait would block
// on until the process ends) are refused before any call.
bool usable(void* hMutex) { return isValidHandle(hMutex) || win32::fail(ERROR_INVALID_HANDLE); }
}  // namespace

void* createMutex(bool bInitialOwner, const char* szName, bool* pbExisted) {
    if (pbExisted != nullptr) *pbExisted = false;
    if (win32::faulted(Op::Mutex)) return nullptr;
    const char* szSystemName = szName != nullptr && *szName != '\0' ? szName : nullptr;
    HANDLE hMutex = ::CreateMutexA(nullptr, bInitialOwner ? TRUE : FALSE, szSystemName);
    if (hMutex == nullptr) return nullptr;
    // An existing name gives a handle to the same mutex; the initial ownership is not taken then.
    if (::GetLastError() == ERROR_ALREADY_EXISTS && pbExisted != nullptr) *pbExisted = true;
    return hMutex;
}

bool closeMutex(void* hMutex) {
    if (win32::faulted(Op::Mutex)) return false;
    if (!usable(hMutex)) return false;
    return ::CloseHandle(win32::systemHandle(hMutex)) != FALSE;
}

uint32_t waitForSingleObject(void* hMutex, uint32_t nMilliseconds) {
    if (win32::faulted(Op::Mutex)) return kWaitFailed;
    if (!usable(hMutex)) return kWaitFailed;
    return ::WaitForSingleObject(win32::systemHandle(hMutex), nMilliseconds);
}

bool releaseMutex(void* hMutex) {
    if (win32::faulted(Op::Mutex)) return false;
    if (!usable(hMutex)) return false;
    return ::ReleaseMutex(win32::systemHandle(hMutex)) != FALSE;
}

}  // namespace qr::sys
