// Win32 backend: file handles are the system's own HANDLEs (callers mix them with Win32 calls):
// create and open with the system's access, sharing and dispositions, close, read, write, seek,
// size, end of file, flush, delete. Share modes and handle inheritance are the system's own
// behaviour; on top of them, a create or open that empties a file is checked as a writer (the
// system checks only the access asked for) and refused while the file is mapped anywhere, and a cut
// at the end of file below a live mapping is refused before the system is asked.
#include <algorithm>

#include "platform/open_request.h"
#include "platform/win32/seam.h"

namespace qr::sys {

const char kPathSeparator = '\\';
const char* const kPathSeparators = "\\/";

using win32::fail;
using win32::faulted;
using win32::systemHandle;

namespace {
// A handle the system may be given: null and the all-bits-set value (the current process for the
// system) fail with the invalid-handle error before any call.
bool usable(void* hFile) { return isValidHandle(hFile) || fail(ERROR_INVALID_HANDLE); }

// Whether an existing file may be emptied by a create that asks for nAccess and shares nShare.
// Emptying is writing: the share modes of the file's other opens must admit a writer, whatever
// access the create asks for (the system checks only that access). And no mapping of the file may
// be alive in any process. A probe open with write access answers both before anything changes; a
// file the probe cannot open for another reason is left to the create itself.
bool mayEmpty(const char* szPath, uint32_t nAccess, uint32_t nShare) {
    const DWORD nSaved = ::GetLastError();
    HANDLE hProbe = ::CreateFileA(szPath, nAccess | GENERIC_WRITE, nShare, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hProbe == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_SHARING_VIOLATION) return false;
        ::SetLastError(nSaved);
        return true;
    }
    const bool bMapped = !win32::fileNotMapped(hProbe) && ::GetLastError() == ERROR_USER_MAPPED_FILE;
    ::CloseHandle(hProbe);
    ::SetLastError(bMapped ? ERROR_USER_MAPPED_FILE : nSaved);
    return !bMapped;
}

// Whether setEndOfFile would cut hFile below its current size.
bool cutsFile(HANDLE hFile) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER pos{};
    LARGE_INTEGER size{};
    return ::SetFilePointerEx(hFile, zero, &pos, FILE_CURRENT) && ::GetFileSizeEx(hFile, &size) &&
           pos.QuadPart < size.QuadPart;
}
}  // namespace

void* createFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition,
                 bool bInheritable) {
    if (faulted(Op::Open)) return kInvalidHandle;
    // Only the bits of the contract reach the system (see openRequestError).
    if (const uint32_t nRefused = openRequestError(szPath, nAccess, nDisposition)) {
        fail(nRefused);
        return kInvalidHandle;
    }
    if ((nDisposition == kCreateAlways || nDisposition == kTruncateExisting) &&
        !mayEmpty(szPath, nAccess, nShare & (kShareRead | kShareWrite)))
        return kInvalidHandle;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = bInheritable ? TRUE : FALSE;
    HANDLE hFile = ::CreateFileA(szPath, nAccess, nShare & (kShareRead | kShareWrite), &security, nDisposition,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return kInvalidHandle;
    // A folder opened without backup semantics is already refused (access denied); a device or a
    // pipe is what the caller named.
    return hFile;
}

bool closeHandle(void* hFile) {
    if (!usable(hFile)) return false;
    // An injected failure leaves the handle open, as a failed close of an invalid handle would.
    if (faulted(Op::Close)) return false;
    return ::CloseHandle(systemHandle(hFile)) != FALSE;
}

bool readFile(void* hFile, void* pBuffer, uint32_t nCount, uint32_t* pnRead) {
    if (pnRead != nullptr) *pnRead = 0;
    if (!usable(hFile)) return false;
    if (faulted(Op::Read)) return false;
    if (pBuffer == nullptr && nCount != 0) return fail(ERROR_INVALID_PARAMETER);
    auto* pBytes = static_cast<unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    // One call reads a disk file up to its end; the loop serves pipes and devices, which return
    // what they have.
    do {
        DWORD nRead = 0;
        if (!::ReadFile(systemHandle(hFile), pBytes + nDone, nCount - nDone, &nRead, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer closed: the end
            if (pnRead != nullptr) *pnRead = nDone;
            return false;
        }
        if (nRead == 0) break;  // end of file
        nDone += nRead;
    } while (nDone < nCount);
    if (pnRead != nullptr) *pnRead = nDone;
    return true;
}

bool writeFile(void* hFile, const void* pBuffer, uint32_t nCount, uint32_t* pnWritten) {
    if (pnWritten != nullptr) *pnWritten = 0;
    if (!usable(hFile)) return false;
    if (faulted(Op::Write)) return false;
    if (pBuffer == nullptr && nCount != 0) return fail(ERROR_INVALID_PARAMETER);
    const auto* pBytes = static_cast<const unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    // A write call on an access-checked handle fails with the system's own code (for instance
    // access denied for a handle without write access) before anything is written.
    do {
        DWORD nWritten = 0;
        if (!::WriteFile(systemHandle(hFile), pBytes + nDone, nCount - nDone, &nWritten, nullptr)) {
            if (pnWritten != nullptr) *pnWritten = nDone;
            return false;
        }
        if (nWritten == 0 && nCount != 0) {
            // Nothing moved without an error code: only a full device does that.
            if (pnWritten != nullptr) *pnWritten = nDone;
            return fail(ERROR_DISK_FULL);
        }
        nDone += nWritten;
    } while (nDone < nCount);
    if (pnWritten != nullptr) *pnWritten = nDone;
    return true;
}

bool setFilePointer(void* hFile, int64_t llDistance, uint32_t nOrigin, int64_t* pllNewPos) {
    if (!usable(hFile)) return false;
    if (faulted(Op::Seek)) return false;
    if (nOrigin > kSeekEnd) return fail(ERROR_INVALID_PARAMETER);
    // The system refuses a target before 0 (ERROR_NEGATIVE_SEEK) and leaves the pointer.
    LARGE_INTEGER distance{};
    distance.QuadPart = llDistance;
    LARGE_INTEGER newPos{};
    if (!::SetFilePointerEx(systemHandle(hFile), distance, &newPos, nOrigin)) return false;
    if (pllNewPos != nullptr) *pllNewPos = newPos.QuadPart;
    return true;
}

bool getFileSize(void* hFile, int64_t* pllSize) {
    if (!usable(hFile)) return false;
    if (faulted(Op::Size)) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(systemHandle(hFile), &size)) return false;
    if (pllSize != nullptr) *pllSize = size.QuadPart;
    return true;
}

bool setEndOfFile(void* hFile) {
    if (!usable(hFile)) return false;
    // A handle without write access may not cut or extend the file (so the system says; Wine
    // refuses with another code).
    if (!win32::mayWrite(systemHandle(hFile))) return fail(ERROR_ACCESS_DENIED);
    if (faulted(Op::Truncate)) return false;
    // Only a live mapping refuses the cut; a file whose identity cannot be asked is left to the
    // system.
    if (cutsFile(systemHandle(hFile)) && !win32::fileNotMapped(systemHandle(hFile)) &&
        ::GetLastError() == ERROR_USER_MAPPED_FILE)
        return false;
    return ::SetEndOfFile(systemHandle(hFile)) != FALSE;
}

bool flushFileBuffers(void* hFile) {
    if (!usable(hFile)) return false;
    // A handle without write access may not flush (so the system says; Wine lets it through with
    // another code).
    if (!win32::mayWrite(systemHandle(hFile))) return fail(ERROR_ACCESS_DENIED);
    if (faulted(Op::Flush)) return false;
    return ::FlushFileBuffers(systemHandle(hFile)) != FALSE;
}

bool deleteFile(const char* szPath) {
    if (faulted(Op::Delete)) return false;
    if (szPath == nullptr) return fail(ERROR_INVALID_PARAMETER);
    return ::DeleteFileA(szPath) != FALSE;
}

}  // namespace qr::sys
