// POSIX backend: inserting and removing whole file-system blocks inside a file in place
// (fallocate), the fast path of the in-file space functions.
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/vfs.h>

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

}  // namespace qr::sys
