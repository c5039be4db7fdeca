// POSIX backend: Win32-style file handles over descriptors: create and open with access,
// sharing and creation disposition, close, read, write, seek, size, end of file, flush, delete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>

#include "platform/open_request.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/interrupted.h"
#include "platform/posix/share_locks.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"

namespace qr::sys {

const char kPathSeparator = '/';
const char* const kPathSeparators = "/";

namespace {
// Linux moves at most this much in one read or write call.
constexpr uint32_t kMaxTransfer = 0x7FFFF000u;

bool faulted(Op op) {
    if (const uint32_t nCode = takeFault(op)) {
        setLastError(nCode);
        return true;
    }
    return false;
}

void closeQuietly(int nFd) {
    const uint32_t nSaved = lastError();
    ::close(nFd);
    setLastError(nSaved);
}

// Opens szPath with the flags the disposition asks for. A FIFO or a device waits for its peer
// here, as open(2) does (a reader opened without a writer would read an empty file), so this is
// called before the share mutex is taken.
// bPrivate: never through a link at the last component, never waiting (whatever stands at a
// private file's name may be someone else's FIFO), and a new file is the owner's alone from the
// first instant.
int openDescriptor(const char* szPath, bool bNeedWrite, uint32_t nDisposition, bool bPrivate) {
    int nFlags = O_CLOEXEC | O_NOCTTY | (bNeedWrite ? O_RDWR : O_RDONLY) | (bPrivate ? O_NOFOLLOW | O_NONBLOCK : 0);
    switch (nDisposition) {
    case kCreateNew: nFlags |= O_CREAT | O_EXCL; break;
    case kCreateAlways:
    case kOpenAlways: nFlags |= O_CREAT; break;
    default: break;
    }
    const mode_t nMode = bPrivate ? S_IRUSR | S_IWUSR : 0666;
    const int nFd = retryInterrupted([&] { return ::open(szPath, nFlags, nMode); });
    if (nFd < 0) {
        // O_NOFOLLOW refuses a link with ELOOP, and a folder cannot be opened for writing: for a
        // private file, either is someone else's object.
        const uint32_t nError = captureLastError();
        if (bPrivate && (nError == ELOOP || nError == EISDIR)) setLastError(kErrorJournalNotOurs);
    }
    return nFd;
}

// Everything after the descriptor exists and before the handle is given out: refuse folders,
// back to blocking mode (a private open), share slots, then (only once sharing is granted)
// truncation.
bool prepareDescriptor(int nFd, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition, bool bPrivate) {
    struct stat st {};
    if (::fstat(nFd, &st) != 0) {
        captureLastError();
        return false;
    }
    if (bPrivate && !S_ISREG(st.st_mode)) {
        setLastError(kErrorJournalNotOurs);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        setLastError(EISDIR);
        return false;
    }
    const int nFlags = ::fcntl(nFd, F_GETFL);
    if (nFlags < 0 || ::fcntl(nFd, F_SETFL, nFlags & ~O_NONBLOCK) != 0) {
        captureLastError();
        return false;
    }
    // Emptying the file is writing to it, whatever access the caller asked for: the check runs
    // as a writer, and the write slot is held until the file is empty, so that an open elsewhere
    // that refuses writers sees it meanwhile (or is seen by it).
    const bool bTruncate = nDisposition == kCreateAlways || nDisposition == kTruncateExisting;
    const bool bWriteForCheck = bTruncate && (nAccess & kGenericWrite) == 0;
    if (!takeShareSlots(nFd, bWriteForCheck ? nAccess | kGenericWrite : nAccess, nShare)) return false;
    if (bTruncate && S_ISREG(st.st_mode) && st.st_size != 0) {
        if (!refuseIfMapped(nFd)) return false;  // no view anywhere may lose its file
        if (retryInterrupted([&] { return ::ftruncate(nFd, 0); }) != 0) {
            captureLastError();
            return false;
        }
    }
    // From now on the handle holds only the access it was given.
    if (bWriteForCheck) dropWriteSlot(nFd);
    return true;
}

// createFile and createPrivateFile.
void* openFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition, bool bInheritable,
               bool bPrivate) {
    if (faulted(Op::Open)) return kInvalidHandle;
    if (const uint32_t nRefused = openRequestError(szPath, nAccess, nDisposition)) {
        setLastError(nRefused);
        return kInvalidHandle;
    }
    // Write access is restricted in the handle layer, the descriptor itself is always readable:
    // the share slots are read locks, which need a descriptor open for reading. Truncation
    // needs a writable descriptor whatever access the caller asked for.
    const bool bNeedWrite = (nAccess & kGenericWrite) != 0 || nDisposition == kCreateAlways;

    FileHandle handle;
    {
        const int nFd = openDescriptor(szPath, bNeedWrite, nDisposition, bPrivate);
        if (nFd < 0) return kInvalidHandle;
        std::lock_guard<std::mutex> lock(shareMutex());
        if (!prepareDescriptor(nFd, nAccess, nShare & (kShareRead | kShareWrite), nDisposition, bPrivate)) {
            closeQuietly(nFd);
            return kInvalidHandle;
        }
        handle.nFd = nFd;
    }
    handle.nAccess = nAccess;
    handle.nShare = nShare;
    handle.bInheritable = bInheritable;
    void* hFile = registerHandle(handle);
    if (hFile == kInvalidHandle) closeQuietly(handle.nFd);
    return hFile;
}
}  // namespace

void* createFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition,
                 bool bInheritable) {
    return openFile(szPath, nAccess, nShare, nDisposition, bInheritable, false);
}

void* createPrivateFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition) {
    if (nDisposition == kCreateAlways || nDisposition == kTruncateExisting) {
        setLastError(kErrorInvalidArgument);
        return kInvalidHandle;
    }
    return openFile(szPath, nAccess, nShare, nDisposition, false, true);
}

bool closeHandle(void* hFile) {
    if (!lookupHandle(hFile)) return false;
    // An injected failure leaves the handle open, as a failed close of an invalid handle would.
    if (faulted(Op::Close)) return false;
    return closeRegisteredHandle(hFile);
}

bool readFile(void* hFile, void* pBuffer, uint32_t nCount, uint32_t* pnRead) {
    if (pnRead != nullptr) *pnRead = 0;
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if ((pHandle->nAccess & kGenericRead) == 0) {
        setLastError(kErrorAccessDenied);
        return false;
    }
    if (faulted(Op::Read)) return false;
    if (pBuffer == nullptr && nCount != 0) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    auto* pBytes = static_cast<unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    while (nDone < nCount) {
        const uint32_t nAsk = std::min(nCount - nDone, kMaxTransfer);
        const ssize_t n = ::read(pHandle->nFd, pBytes + nDone, nAsk);
        if (n < 0) {
            if (errno == EINTR) continue;
            captureLastError();
            if (pnRead != nullptr) *pnRead = nDone;
            return false;
        }
        if (n == 0) break;  // end of file
        nDone += static_cast<uint32_t>(n);
    }
    if (pnRead != nullptr) *pnRead = nDone;
    return true;
}

bool writeFile(void* hFile, const void* pBuffer, uint32_t nCount, uint32_t* pnWritten) {
    if (pnWritten != nullptr) *pnWritten = 0;
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if ((pHandle->nAccess & kGenericWrite) == 0) {
        setLastError(kErrorAccessDenied);
        return false;
    }
    if (faulted(Op::Write)) return false;
    if (pBuffer == nullptr && nCount != 0) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    const auto* pBytes = static_cast<const unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    while (nDone < nCount) {
        const uint32_t nAsk = std::min(nCount - nDone, kMaxTransfer);
        const ssize_t n = ::write(pHandle->nFd, pBytes + nDone, nAsk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that moves nothing without an error code can only mean a full device.
            if (n == 0) setLastError(ENOSPC);
            else captureLastError();
            if (pnWritten != nullptr) *pnWritten = nDone;
            return false;
        }
        nDone += static_cast<uint32_t>(n);
    }
    if (pnWritten != nullptr) *pnWritten = nDone;
    return true;
}

bool setFilePointer(void* hFile, int64_t llDistance, uint32_t nOrigin, int64_t* pllNewPos) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if (faulted(Op::Seek)) return false;
    int nWhence = SEEK_SET;
    switch (nOrigin) {
    case kSeekBegin: nWhence = SEEK_SET; break;
    case kSeekCurrent: nWhence = SEEK_CUR; break;
    case kSeekEnd: nWhence = SEEK_END; break;
    default: setLastError(kErrorInvalidArgument); return false;
    }
    // lseek refuses a target before 0 (EINVAL) or past the largest offset (EINVAL/EOVERFLOW)
    // and then leaves the position where it was.
    const off_t llNew = ::lseek(pHandle->nFd, static_cast<off_t>(llDistance), nWhence);
    if (llNew < 0) {
        captureLastError();
        return false;
    }
    if (pllNewPos != nullptr) *pllNewPos = static_cast<int64_t>(llNew);
    return true;
}

bool getFileSize(void* hFile, int64_t* pllSize) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if (faulted(Op::Size)) return false;
    struct stat st {};
    if (::fstat(pHandle->nFd, &st) != 0) {
        captureLastError();
        return false;
    }
    if (pllSize != nullptr) *pllSize = static_cast<int64_t>(st.st_size);
    return true;
}

bool setEndOfFile(void* hFile) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if ((pHandle->nAccess & kGenericWrite) == 0) {
        setLastError(kErrorAccessDenied);
        return false;
    }
    if (faulted(Op::Truncate)) return false;
    const off_t llPos = ::lseek(pHandle->nFd, 0, SEEK_CUR);
    struct stat st {};
    if (llPos < 0 || ::fstat(pHandle->nFd, &st) != 0) {
        captureLastError();
        return false;
    }
    // Cutting below a live mapping is refused; growing is not.
    if (llPos < st.st_size && !refuseIfMapped(pHandle->nFd)) return false;
    if (retryInterrupted([&] { return ::ftruncate(pHandle->nFd, llPos); }) != 0) {
        captureLastError();
        return false;
    }
    return true;
}

namespace {
// Both flushes need write access, as on Win32; bDataOnly leaves out metadata that reading the
// data back does not need (times), which the journal's many flushes can do without.
bool flushHandle(void* hFile, bool bDataOnly) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if ((pHandle->nAccess & kGenericWrite) == 0) {
        setLastError(kErrorAccessDenied);
        return false;
    }
    if (faulted(Op::Flush)) return false;
    if (retryInterrupted([&] { return bDataOnly ? ::fdatasync(pHandle->nFd) : ::fsync(pHandle->nFd); }) != 0) {
        captureLastError();
        return false;
    }
    return true;
}
}  // namespace

bool flushFileBuffers(void* hFile) { return flushHandle(hFile, false); }

bool flushFileData(void* hFile) { return flushHandle(hFile, true); }

bool deleteFile(const char* szPath) {
    if (faulted(Op::Delete)) return false;
    if (szPath == nullptr) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    if (::unlink(szPath) != 0) {
        captureLastError();
        return false;
    }
    return true;
}

}  // namespace qr::sys
