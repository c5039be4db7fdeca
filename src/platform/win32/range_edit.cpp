// Win32 backend: the in-place range edits of the space functions. The system has no call that
// inserts or removes blocks inside a file, so both report "not supported" and the space
// functions move the tail in chunks; the block size is the volume's cluster size. Reserving
// room for a file to grow into sets its allocation size, which the file system backs with
// clusters without changing the file's size.
#include "platform/win32/seam.h"

namespace qr::sys {

namespace {
// The volume's size facts for hFile; false with the last error set.
bool volumeSize(HANDLE hFile, FILE_FS_SIZE_INFORMATION* pInfo) {
    IO_STATUS_BLOCK status{};
    const NTSTATUS nStatus =
        ::NtQueryVolumeInformationFile(hFile, &status, pInfo, sizeof *pInfo, FileFsSizeInformation);
    return nStatus >= 0 || win32::fail(::RtlNtStatusToDosError(nStatus));
}
}  // namespace

uint32_t fileBlockSize(void* hFile) {
    if (!isValidHandle(hFile)) return win32::fail(ERROR_INVALID_HANDLE), 0;
    if (win32::faulted(Op::Size)) return 0;
    FILE_FS_SIZE_INFORMATION info{};
    if (!volumeSize(win32::systemHandle(hFile), &info)) return 0;
    const uint64_t nCluster = static_cast<uint64_t>(info.SectorsPerAllocationUnit) * info.BytesPerSector;
    if (nCluster == 0 || nCluster > 0x40000000u) return 0;
    return static_cast<uint32_t>(nCluster);
}

namespace {
bool unsupported(void* hFile, int64_t llPos, int64_t llLength) {
    if (!isValidHandle(hFile)) return win32::fail(ERROR_INVALID_HANDLE);
    // As on every backend, an edit needs a handle that may write, before anything else.
    if (!win32::mayWrite(win32::systemHandle(hFile))) return win32::fail(ERROR_ACCESS_DENIED);
    if (win32::faulted(Op::RangeEdit)) return false;
    if (llPos < 0 || llLength <= 0) return win32::fail(ERROR_INVALID_PARAMETER);
    return win32::fail(ERROR_NOT_SUPPORTED);  // the file is unchanged
}
}  // namespace

bool insertRange(void* hFile, int64_t llPos, int64_t llLength) { return unsupported(hFile, llPos, llLength); }

bool collapseRange(void* hFile, int64_t llPos, int64_t llLength) {
    // A mapped file is refused as such, as every backend refuses a cut below a live mapping.
    if (isValidHandle(hFile) && win32::mayWrite(win32::systemHandle(hFile)) &&
        !win32::fileNotMapped(win32::systemHandle(hFile)) && ::GetLastError() == ERROR_USER_MAPPED_FILE)
        return false;
    return unsupported(hFile, llPos, llLength);
}

// The allocation is given back when the last handle of the file closes; the callers reserve
// right before they grow the file through the same open file.
bool reserveFileSpace(void* hFile, int64_t llEnd) {
    if (!isValidHandle(hFile)) return win32::fail(ERROR_INVALID_HANDLE);
    HANDLE h = win32::systemHandle(hFile);
    if (!win32::mayWrite(h)) return win32::fail(ERROR_ACCESS_DENIED);
    if (win32::faulted(Op::Reserve)) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h, &size)) return false;
    if (llEnd <= size.QuadPart) return true;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = llEnd;
    if (::SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation)) return true;
    const DWORD nError = ::GetLastError();
    if (nError == ERROR_INVALID_PARAMETER || nError == ERROR_INVALID_FUNCTION || nError == ERROR_NOT_SUPPORTED ||
        nError == ERROR_CALL_NOT_IMPLEMENTED) {
        // No reservation on this file system: its free space must hold the growth at least.
        FILE_FS_SIZE_INFORMATION info{};
        if (!volumeSize(h, &info)) return true;  // nothing known: the writes will tell
        const uint64_t nFree = static_cast<uint64_t>(info.AvailableAllocationUnits.QuadPart) *
                               info.SectorsPerAllocationUnit * info.BytesPerSector;
        if (nFree < static_cast<uint64_t>(llEnd - size.QuadPart)) return win32::fail(ERROR_DISK_FULL);
        return true;
    }
    // Clusters a failed attempt took are given back by an allocation at the unchanged size.
    allocation.AllocationSize = size;
    ::SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation);
    return win32::fail(nError);
}

}  // namespace qr::sys
