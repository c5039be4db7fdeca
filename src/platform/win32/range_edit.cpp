// Win32 backend: the in-place range edits of the space functions. The system has no call that
// inserts or removes blocks inside a file, so both report "not supported" and the space
// functions move the tail in chunks; the block size is the volume's cluster size.
#include "platform/win32/seam.h"

namespace qr::sys {

uint32_t fileBlockSize(void* hFile) {
    if (!isValidHandle(hFile)) return win32::fail(ERROR_INVALID_HANDLE), 0;
    if (win32::faulted(Op::Size)) return 0;
    IO_STATUS_BLOCK status{};
    FILE_FS_SIZE_INFORMATION info{};
    const NTSTATUS nStatus = ::NtQueryVolumeInformationFile(win32::systemHandle(hFile), &status, &info,
                                                            sizeof info, FileFsSizeInformation);
    if (nStatus < 0) return win32::fail(::RtlNtStatusToDosError(nStatus)), 0;
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

bool collapseRange(void* hFile, int64_t llPos, int64_t llLength) { return unsupported(hFile, llPos, llLength); }

}  // namespace qr::sys
