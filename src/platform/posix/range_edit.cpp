// POSIX backend: inserting and removing whole file-system blocks inside a file in place
// (fallocate), the fast path of the in-file space functions, and reserving the blocks a file
// is about to grow into.
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/interrupted.h"
#include "platform/posix/file_handle.h"
#include "platform/posix/share_locks.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"

namespace qr::sys {

namespace {
// The in-place edits need a handle that may both read and write, like the chunked move they
// replace.
HandleRef editableHandle(void* hFile) {
    HandleRef pHandle = lookupHandle(hFile);
    if (pHandle && (pHandle->nAccess & (kGenericRead | kGenericWrite)) != (kGenericRead | kGenericWrite)) {
        setLastError(kErrorAccessDenied);
        return HandleRef();
    }
    return pHandle;
}

bool rangeEdit(void* hFile, int nMode, int64_t llPos, int64_t llLength) {
    const HandleRef pHandle = editableHandle(hFile);
    if (!pHandle) return false;
    if (const uint32_t nCode = takeFault(Op::RangeEdit)) {
        setLastError(nCode);
        return false;
    }
    if (llPos < 0 || llLength <= 0) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    // Removing a range shortens the file: refused while it is mapped anywhere.
    if (nMode == FALLOC_FL_COLLAPSE_RANGE && !refuseIfMapped(pHandle->nFd)) return false;
    if (retryInterrupted([&] {
            return ::fallocate(pHandle->nFd, nMode, static_cast<off_t>(llPos), static_cast<off_t>(llLength));
        }) != 0) {
        captureLastError();
        return false;
    }
    return true;
}
}  // namespace

uint32_t fileBlockSize(void* hFile) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return 0;
    if (const uint32_t nCode = takeFault(Op::Size)) {
        setLastError(nCode);
        return 0;
    }
    struct statfs st {};
    if (::fstatfs(pHandle->nFd, &st) != 0) {
        captureLastError();
        return 0;
    }
    if (st.f_bsize <= 0 || st.f_bsize > 0x40000000) return 0;
    return static_cast<uint32_t>(st.f_bsize);
}

bool insertRange(void* hFile, int64_t llPos, int64_t llLength) {
    if (!rangeEdit(hFile, FALLOC_FL_INSERT_RANGE, llPos, llLength)) return false;
    // Give the new range real blocks, as writing zeros would: later writes into it then do not
    // run out of space. Where the file system cannot reserve, the hole reads as zeros all the
    // same, so this is best effort.
    const HandleRef pHandle = lookupHandle(hFile);
    if (pHandle) ::fallocate(pHandle->nFd, 0, static_cast<off_t>(llPos), static_cast<off_t>(llLength));
    return true;
}

bool collapseRange(void* hFile, int64_t llPos, int64_t llLength) {
    return rangeEdit(hFile, FALLOC_FL_COLLAPSE_RANGE, llPos, llLength);
}

// The blocks past the end are allocated with the size kept, so the file reads as before and a
// later write that extends it lands in blocks it already owns. The process's file-size limit is
// checked here because an allocation that keeps the size does not check it: the write would
// fail later with EFBIG (or end the process with SIGXFSZ).
bool reserveFileSpace(void* hFile, int64_t llEnd) {
    const HandleRef pHandle = lookupHandle(hFile);
    if (!pHandle) return false;
    if ((pHandle->nAccess & kGenericWrite) == 0) {
        setLastError(kErrorAccessDenied);
        return false;
    }
    if (const uint32_t nCode = takeFault(Op::Reserve)) {
        setLastError(nCode);
        return false;
    }
    struct stat st {};
    if (::fstat(pHandle->nFd, &st) != 0) {
        captureLastError();
        return false;
    }
    if (llEnd <= st.st_size) return true;
    const off_t llGrow = static_cast<off_t>(llEnd) - st.st_size;
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<uint64_t>(llEnd) > static_cast<uint64_t>(limit.rlim_cur)) {
        setLastError(EFBIG);
        return false;
    }
    if (retryInterrupted([&] { return ::fallocate(pHandle->nFd, FALLOC_FL_KEEP_SIZE, st.st_size, llGrow); }) == 0)
        return true;
    const int nError = errno;
    if (nError == EOPNOTSUPP || nError == ENOSYS) {
        struct statvfs vfs {};
        if (::fstatvfs(pHandle->nFd, &vfs) == 0 &&
            static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize < static_cast<uint64_t>(llGrow)) {
            setLastError(ENOSPC);
            return false;
        }
        return true;
    }
    // A failed allocation may keep the blocks it got before it failed. Cutting at the unchanged
    // size gives back what lies past the end and changes no byte.
    retryInterrupted([&] { return ::ftruncate(pHandle->nFd, st.st_size); });
    setLastError(static_cast<uint32_t>(nError));
    return false;
}

}  // namespace qr::sys
