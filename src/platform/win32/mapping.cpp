// Win32 backend: the system's file-mapping objects (named ones shared between processes by the
// system's object namespace), views, view flushing, the allocation granularity and its test seam,
// and marking a file sparse. Mapping handles are the system's own HANDLEs.
#include "platform/win32/seam.h"  // <windows.h> first: the headers below build on it

#include <winioctl.h>
#include <winternl.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/sys_mapping.h"

// The size of a section object; not in the SDK headers, stable since the first NT.
extern "C" {
struct QrSectionBasicInformation {
    PVOID pBaseAddress;
    ULONG nAllocationAttributes;
    LARGE_INTEGER maximumSize;
};
NTSTATUS NTAPI NtQuerySection(HANDLE hSection, int nInformationClass, PVOID pInformation, SIZE_T nLength,
                              PSIZE_T pnResultLength);
}

namespace qr::sys {

using win32::fail;
using win32::faulted;
using win32::systemHandle;

namespace {

constexpr int kSectionBasicInformation = 0;
// Names longer than this are refused before the system sees them, as on every backend.
constexpr std::size_t kMaxObjectName = 255;

// Views this backend mapped, by base address, so that an address that is not a view's base is
// refused (the system would unmap the view that contains it) and a flush knows its view's end.
std::mutex g_viewMutex;
std::map<uintptr_t, std::size_t> g_views;
std::atomic<uint32_t> g_nGranularity{0};

uint32_t systemGranularity() {
    static const uint32_t s_nGranularity = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return info.dwAllocationGranularity != 0 ? static_cast<uint32_t>(info.dwAllocationGranularity) : 65536u;
    }();
    return s_nGranularity;
}

bool nameTooLong(const char* szName) { return szName != nullptr && std::strlen(szName) > kMaxObjectName; }

// The byte size of a mapping object, or -1 with the last error set.
int64_t sectionSize(HANDLE hMapping) {
    QrSectionBasicInformation info{};
    const NTSTATUS nStatus = ::NtQuerySection(hMapping, kSectionBasicInformation, &info, sizeof info, nullptr);
    if (nStatus < 0) return fail(::RtlNtStatusToDosError(nStatus)), -1;
    return info.maximumSize.QuadPart;
}

DWORD high(int64_t llValue) { return static_cast<DWORD>(static_cast<uint64_t>(llValue) >> 32); }
DWORD low(int64_t llValue) { return static_cast<DWORD>(static_cast<uint64_t>(llValue) & 0xFFFFFFFFu); }

}  // namespace

void* createFileMapping(void* hFile, uint32_t nProtect, int64_t llSize, const char* szName, bool bInheritable,
                        bool bExclusive, bool* pbExisted) {
    if (pbExisted != nullptr) *pbExisted = false;
    if (faulted(Op::CreateMapping)) return nullptr;
    if (nProtect != kPageReadOnly && nProtect != kPageReadWrite) return fail(ERROR_INVALID_PARAMETER), nullptr;
    if (nameTooLong(szName)) return fail(ERROR_FILENAME_EXCED_RANGE), nullptr;
    if (hFile == kInvalidHandle) {
        if (llSize <= 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
    } else {
        if (hFile == nullptr) return fail(ERROR_INVALID_HANDLE), nullptr;
        if (llSize < 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
        LARGE_INTEGER fileSize{};
        if (!::GetFileSizeEx(systemHandle(hFile), &fileSize)) return nullptr;
        // An empty file cannot be mapped, and a read-only object cannot grow its file: refused with
        // the contract's code before the system gives its own (ERROR_FILE_INVALID).
        const int64_t llObject = llSize != 0 ? llSize : fileSize.QuadPart;
        if (llObject == 0 || (nProtect == kPageReadOnly && llObject > fileSize.QuadPart))
            return fail(ERROR_INVALID_PARAMETER), nullptr;
    }
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = bInheritable ? TRUE : FALSE;
    const char* szSystemName = szName != nullptr && *szName != '\0' ? szName : nullptr;
    // A writable object larger than its file grows the file (the system's own rule).
    HANDLE hMapping = ::CreateFileMappingA(systemHandle(hFile), &security, nProtect, high(llSize), low(llSize),
                                           szSystemName);
    if (hMapping == nullptr) return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // The existing object, with its own size and access; the caller's size is ignored.
        if (bExclusive) {
            win32::closeQuietly(hMapping);
            return fail(ERROR_ALREADY_EXISTS), nullptr;
        }
        if (pbExisted != nullptr) *pbExisted = true;
    }
    return hMapping;
}

void* openFileMapping(uint32_t nAccess, bool bInheritable, const char* szName) {
    if (faulted(Op::OpenMapping)) return nullptr;
    if (nAccess != kMapRead && nAccess != kMapWrite) return fail(ERROR_INVALID_PARAMETER), nullptr;
    if (szName == nullptr || *szName == '\0') return fail(ERROR_FILE_NOT_FOUND), nullptr;
    if (nameTooLong(szName)) return fail(ERROR_FILENAME_EXCED_RANGE), nullptr;
    // SECTION_QUERY: the opener learns the object's size (fileMappingSize).
    HANDLE hMapping = ::OpenFileMappingA(nAccess | SECTION_QUERY, bInheritable ? TRUE : FALSE, szName);
    if (hMapping == nullptr) return nullptr;
    if (nAccess == kMapWrite) {
        // The system grants write access to a handle of a read-only object and refuses only its
        // views; one trial view tells it here, where the contract says so.
        void* pTrial = ::MapViewOfFile(hMapping, FILE_MAP_WRITE, 0, 0, 1);
        if (pTrial == nullptr) {
            win32::closeQuietly(hMapping);
            return nullptr;
        }
        ::UnmapViewOfFile(pTrial);
    }
    return hMapping;
}

int64_t fileMappingSize(void* hMapping) {
    if (faulted(Op::Size)) return -1;
    if (!isValidHandle(hMapping)) return fail(ERROR_INVALID_HANDLE), -1;
    return sectionSize(systemHandle(hMapping));
}

bool closeFileMapping(void* hMapping) {
    if (faulted(Op::Close)) return false;
    if (!isValidHandle(hMapping)) return fail(ERROR_INVALID_HANDLE);
    return ::CloseHandle(systemHandle(hMapping)) != FALSE;
}

void* mapViewOfFile(void* hMapping, uint32_t nAccess, int64_t llOffset, std::size_t nLength) {
    if (faulted(Op::MapView)) return nullptr;
    if (!isValidHandle(hMapping)) return fail(ERROR_INVALID_HANDLE), nullptr;
    if (nAccess != kMapRead && nAccess != kMapWrite) return fail(ERROR_INVALID_PARAMETER), nullptr;
    if (llOffset < 0 || llOffset % allocationGranularity() != 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
    // The contract's range rules, checked against the object's size before the system's own
    // (which differ between versions: access denied, not enough memory).
    const int64_t llSize = sectionSize(systemHandle(hMapping));
    if (llSize < 0) return nullptr;
    if (llOffset >= llSize) return fail(ERROR_INVALID_PARAMETER), nullptr;
    const uint64_t nRoom = static_cast<uint64_t>(llSize - llOffset);
    if (nLength == 0) {
        if (nRoom > SIZE_MAX) return fail(ERROR_NOT_ENOUGH_MEMORY), nullptr;
        nLength = static_cast<std::size_t>(nRoom);
    } else if (nLength > nRoom) {
        return fail(ERROR_INVALID_PARAMETER), nullptr;
    }
    void* pBase = ::MapViewOfFile(systemHandle(hMapping), nAccess, high(llOffset), low(llOffset), nLength);
    if (pBase == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(g_viewMutex);
    g_views[reinterpret_cast<uintptr_t>(pBase)] = nLength;
    return pBase;
}

bool unmapViewOfFile(void* pBase) {
    if (faulted(Op::UnmapView)) return false;
    std::lock_guard<std::mutex> lock(g_viewMutex);
    auto it = g_views.find(reinterpret_cast<uintptr_t>(pBase));
    if (it == g_views.end()) return fail(ERROR_INVALID_PARAMETER);
    if (!::UnmapViewOfFile(pBase)) return false;
    g_views.erase(it);
    return true;
}

bool flushViewOfFile(const void* pAddress, std::size_t nLength) {
    if (faulted(Op::FlushView)) return false;
    const uintptr_t nAddress = reinterpret_cast<uintptr_t>(pAddress);
    std::size_t nBytes = 0;
    {
        std::lock_guard<std::mutex> lock(g_viewMutex);
        auto it = g_views.upper_bound(nAddress);
        if (it == g_views.begin()) return fail(ERROR_INVALID_PARAMETER);
        --it;
        if (nAddress - it->first >= it->second) return fail(ERROR_INVALID_PARAMETER);
        const std::size_t nLeft = it->second - static_cast<std::size_t>(nAddress - it->first);
        nBytes = nLength == 0 || nLength > nLeft ? nLeft : nLength;
    }
    // Starts the writes of the modified pages; the file flush waits for the disk.
    return ::FlushViewOfFile(pAddress, nBytes) != FALSE;
}

uint32_t allocationGranularity() {
    const uint32_t n = g_nGranularity.load(std::memory_order_relaxed);
    return n != 0 ? n : systemGranularity();
}

bool setAllocationGranularity(uint32_t nGranularity) {
    // Offsets must stay multiples of the system's own granularity: only larger powers of two.
    if (nGranularity != 0 &&
        ((nGranularity & (nGranularity - 1)) != 0 || nGranularity % systemGranularity() != 0))
        return false;
    g_nGranularity.store(nGranularity);
    return true;
}

bool markFileSparse(void* hFile) {
    if (faulted(Op::RangeEdit)) return false;
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    DWORD nReturned = 0;
    return ::DeviceIoControl(systemHandle(hFile), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &nReturned, nullptr) !=
           FALSE;
}

}  // namespace qr::sys
