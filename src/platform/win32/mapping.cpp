// Win32 backend: the system's file-mapping objects (named ones shared between processes by the
// system's object namespace), views, view flushing, the allocation granularity and its test seam,
// and marking a file sparse. Mapping handles are the system's own HANDLEs.
//
// What the system does not record of a named object, the backend keeps in a small page-file
// object beside it (the name with "#qrcore.info"): whether it is file-backed, its file's identity,
// and whether it was made for append-null mode. Each process that holds the object holds
// that record too, so the record lives exactly as long as the object does for its users. Creates
// of one name are serialised by a named mutex ("#qrcore.lock"), so that the record is complete
// before anyone reads it and a file is grown only by the create that makes the object.
//
// A file with a live mapping is marked by a named event whose name holds the file's identity
// (volume serial number and file index), held by every process that holds a view or handle of a
// mapping of the file; the event exists exactly while anyone holds it, so a cut asks whether it
// exists. (The system refuses to cut a file below its own sections as well, but only at the cut
// itself: the mark answers before any data moves, whatever handles and share modes there are.)
#include "platform/win32/seam.h"  // <windows.h> first: the headers below build on it

#include <winioctl.h>
#include <winternl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

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

// What a process holds for one mapping object besides the system's handle: the object's record
// (named objects) and the lock that marks its file as mapped (file-backed objects). Shared by the
// object's handles and views in this process; released with the last of them.
struct ObjectHold {
    HANDLE hInfo = nullptr;
    HANDLE hMark = nullptr;  // the event that marks the object's file as mapped
    ObjectHold() = default;
    ObjectHold(const ObjectHold&) = delete;
    ObjectHold& operator=(const ObjectHold&) = delete;
    ~ObjectHold() {
        const DWORD nSaved = ::GetLastError();
        if (hMark != nullptr) ::CloseHandle(hMark);
        if (hInfo != nullptr) ::CloseHandle(hInfo);
        ::SetLastError(nSaved);
    }
};
using HoldRef = std::shared_ptr<ObjectHold>;

struct View {
    std::size_t nLength = 0;
    HoldRef pHold;
};

// Views this backend mapped, by base address, so that an address that is not a view's base is
// refused (the system would unmap the view that contains it) and a flush knows its view's end;
// and the holds of the mapping handles this backend gave out.
std::mutex g_viewMutex;
std::map<uintptr_t, View> g_views;
std::map<HANDLE, HoldRef> g_holds;
std::atomic<uint32_t> g_nGranularity{0};

// The record of a named object, in its page-file companion.
constexpr uint32_t kInfoMagic = 0x4F4D5251u;  // "QRMO"
constexpr uint32_t kInfoFileBacked = 1;
constexpr uint32_t kInfoAppendNull = 2;
struct ObjectInfo {
    uint32_t nMagic;
    uint32_t nFlags;
    uint64_t nVolume;
    uint64_t nIndex;
};

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


// The name of the event that marks the file (nVolume, nIndex) as mapped.
std::string markName(uint64_t nVolume, uint64_t nIndex) {
    char szName[64];
    std::snprintf(szName, sizeof szName, "qrcore.mapped.%08llx.%016llx", static_cast<unsigned long long>(nVolume),
                  static_cast<unsigned long long>(nIndex));
    return szName;
}

// Marks the file (nVolume, nIndex) as mapped for as long as pHold lives. A mark that cannot be
// made leaves only the system's own refusal at the cut.
void markMapped(uint64_t nVolume, uint64_t nIndex, ObjectHold* pHold) {
    const DWORD nSaved = ::GetLastError();
    pHold->hMark = ::CreateEventA(nullptr, TRUE, FALSE, markName(nVolume, nIndex).c_str());
    ::SetLastError(nSaved);
}

bool identityOf(HANDLE hFile, uint64_t* pnVolume, uint64_t* pnIndex) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(hFile, &info)) return false;
    *pnVolume = info.dwVolumeSerialNumber;
    *pnIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// Reads the record of the named object szName into *pInfo and returns the companion's handle
// (kept by the caller for as long as it holds the object), or null when the object has none (made
// by a program that does not use this library).
HANDLE readObjectInfo(const std::string& sName, bool bInheritable, ObjectInfo* pInfo) {
    const DWORD nSaved = ::GetLastError();
    HANDLE hInfo = ::OpenFileMappingA(FILE_MAP_READ, bInheritable ? TRUE : FALSE, (sName + "#qrcore.info").c_str());
    if (hInfo != nullptr) {
        const void* pView = ::MapViewOfFile(hInfo, FILE_MAP_READ, 0, 0, sizeof(ObjectInfo));
        if (pView != nullptr) {
            std::memcpy(pInfo, pView, sizeof(ObjectInfo));
            ::UnmapViewOfFile(pView);
        }
        if (pView == nullptr || pInfo->nMagic != kInfoMagic) {
            ::CloseHandle(hInfo);
            hInfo = nullptr;
        }
    }
    ::SetLastError(nSaved);
    return hInfo;
}

// Creates the record of a new named object; its handle, or null with the last error set.
HANDLE writeObjectInfo(const std::string& sName, bool bInheritable, const ObjectInfo& info) {
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = bInheritable ? TRUE : FALSE;
    HANDLE hInfo = ::CreateFileMappingA(INVALID_HANDLE_VALUE, &security, PAGE_READWRITE, 0, sizeof(ObjectInfo),
                                        (sName + "#qrcore.info").c_str());
    if (hInfo == nullptr) return nullptr;
    void* pView = ::MapViewOfFile(hInfo, FILE_MAP_WRITE, 0, 0, sizeof(ObjectInfo));
    if (pView == nullptr) {
        win32::closeQuietly(hInfo);
        return nullptr;
    }
    std::memcpy(pView, &info, sizeof info);
    ::UnmapViewOfFile(pView);
    return hInfo;
}

// Holds the named mutex that serialises the creates of one object name.
class CreateLock {
public:
    explicit CreateLock(const std::string& sName)
        : m_hMutex(::CreateMutexA(nullptr, FALSE, (sName + "#qrcore.lock").c_str())) {
        if (m_hMutex == nullptr) return;
        const DWORD nWait = ::WaitForSingleObject(m_hMutex, INFINITE);
        // An owner that died gives the mutex up as abandoned: it is ours all the same.
        if (nWait != WAIT_OBJECT_0 && nWait != WAIT_ABANDONED) {
            win32::closeQuietly(m_hMutex);
            m_hMutex = nullptr;
        }
    }
    CreateLock(const CreateLock&) = delete;
    CreateLock& operator=(const CreateLock&) = delete;
    ~CreateLock() {
        if (m_hMutex == nullptr) return;
        const DWORD nSaved = ::GetLastError();
        ::ReleaseMutex(m_hMutex);
        ::CloseHandle(m_hMutex);
        ::SetLastError(nSaved);
    }
    bool held() const { return m_hMutex != nullptr; }

private:
    HANDLE m_hMutex;
};

// Gives hMapping out with its hold (kept until its handle and views are gone).
void* giveOut(HANDLE hMapping, HoldRef pHold) {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    g_holds[hMapping] = std::move(pHold);
    return hMapping;
}

HoldRef holdOf(HANDLE hMapping) {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    auto it = g_holds.find(hMapping);
    return it != g_holds.end() ? it->second : HoldRef();
}

bool setFileEnd(HANDLE hFile, int64_t llEnd) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = llEnd;
    return ::SetFileInformationByHandle(hFile, FileEndOfFileInfo, &end, sizeof end) != FALSE;
}

}  // namespace

void* createFileMapping(void* hFile, uint32_t nProtect, int64_t llSize, const char* szName, bool bInheritable,
                        uint32_t nFlags, bool* pbExisted) {
    if (pbExisted != nullptr) *pbExisted = false;
    if (faulted(Op::CreateMapping)) return nullptr;
    if (nProtect != kPageReadOnly && nProtect != kPageReadWrite) return fail(ERROR_INVALID_PARAMETER), nullptr;
    if ((nFlags & ~(kMapCreateExclusive | kMapCreateAppendNull)) != 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
    if (nameTooLong(szName)) return fail(ERROR_FILENAME_EXCED_RANGE), nullptr;
    const bool bFile = hFile != kInvalidHandle;
    LARGE_INTEGER fileSize{};
    BY_HANDLE_FILE_INFORMATION fileInfo{};
    if (!bFile) {
        if (llSize <= 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
    } else {
        if (hFile == nullptr) return fail(ERROR_INVALID_HANDLE), nullptr;
        if (llSize < 0) return fail(ERROR_INVALID_PARAMETER), nullptr;
        if (!::GetFileSizeEx(systemHandle(hFile), &fileSize)) return nullptr;
        if (!::GetFileInformationByHandle(systemHandle(hFile), &fileInfo)) return nullptr;
        // An empty file cannot be mapped, and a read-only object cannot grow its file: refused with
        // the contract's code before the system gives its own (ERROR_FILE_INVALID).
        const int64_t llObject = llSize != 0 ? llSize : fileSize.QuadPart;
        if (llObject == 0 || (nProtect == kPageReadOnly && llObject > fileSize.QuadPart))
            return fail(ERROR_INVALID_PARAMETER), nullptr;
    }
    const uint64_t nVolume = fileInfo.dwVolumeSerialNumber;
    const uint64_t nIndex = (static_cast<uint64_t>(fileInfo.nFileIndexHigh) << 32) | fileInfo.nFileIndexLow;
    const bool bNamed = szName != nullptr && *szName != '\0';
    const std::string sName = bNamed ? szName : "";
    std::unique_ptr<CreateLock> pCreateLock;
    if (bNamed) {
        pCreateLock = std::make_unique<CreateLock>(sName);
        if (!pCreateLock->held()) return nullptr;
    }
    auto pHold = std::make_shared<ObjectHold>();
    if (bNamed) {
        // An object of that name is used as it is: opened, never created over, so that neither its
        // size nor the caller's file changes.
        HANDLE hExisting = ::OpenFileMappingA(FILE_MAP_ALL_ACCESS, bInheritable ? TRUE : FALSE, szName);
        if (hExisting == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
            hExisting = ::OpenFileMappingA(FILE_MAP_READ | SECTION_QUERY, bInheritable ? TRUE : FALSE, szName);
        if (hExisting != nullptr) {
            if ((nFlags & kMapCreateExclusive) != 0) {
                ::CloseHandle(hExisting);
                return fail(ERROR_ALREADY_EXISTS), nullptr;
            }
            ObjectInfo info{};
            pHold->hInfo = readObjectInfo(sName, bInheritable, &info);
            if (pHold->hInfo != nullptr) {
                const bool bOtherFile = bFile && ((info.nFlags & kInfoFileBacked) == 0 || info.nVolume != nVolume ||
                                                  info.nIndex != nIndex);
                const bool bNotAppendNull =
                    (nFlags & kMapCreateAppendNull) != 0 && (info.nFlags & kInfoAppendNull) == 0;
                if (bOtherFile || bNotAppendNull) {
                    ::CloseHandle(hExisting);
                    return fail(bOtherFile ? kErrorMappingOtherFile : kErrorMappingNotAppendNull), nullptr;
                }
            }
            if (bFile) markMapped(nVolume, nIndex, pHold.get());
            if (pbExisted != nullptr) *pbExisted = true;
            return giveOut(hExisting, std::move(pHold));
        }
    }
    // A new object. A writable one larger than its file grows the file (the system's own rule):
    // the grown range gets its clusters first, unless the file is sparse on purpose, so that a
    // full disk fails here and not in a write through a view.
    const bool bGrows = bFile && nProtect == kPageReadWrite && llSize > fileSize.QuadPart;
    if (bGrows && (fileInfo.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0 && !reserveFileSpace(hFile, llSize))
        return nullptr;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = bInheritable ? TRUE : FALSE;
    // A failure after the system grew the file gives the file its old size back.
    auto failGrown = [&](HANDLE hMade) -> void* {
        const DWORD nSaved = ::GetLastError();
        if (hMade != nullptr) ::CloseHandle(hMade);
        if (bGrows) setFileEnd(systemHandle(hFile), fileSize.QuadPart);
        ::SetLastError(nSaved);
        return nullptr;
    };
    HANDLE hMapping = ::CreateFileMappingA(systemHandle(hFile), &security, nProtect, high(llSize), low(llSize),
                                           bNamed ? szName : nullptr);
    if (hMapping == nullptr) return failGrown(nullptr);
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Made between our question and our create by a program that does not take the lock.
        if ((nFlags & kMapCreateExclusive) != 0) {
            win32::closeQuietly(hMapping);
            return fail(ERROR_ALREADY_EXISTS), nullptr;
        }
        if (pbExisted != nullptr) *pbExisted = true;
    } else if (bNamed) {
        ObjectInfo info{};
        info.nMagic = kInfoMagic;
        info.nFlags = (bFile ? kInfoFileBacked : 0u) | ((nFlags & kMapCreateAppendNull) != 0 ? kInfoAppendNull : 0u);
        if (bFile) {
            info.nVolume = nVolume;
            info.nIndex = nIndex;
        }
        pHold->hInfo = writeObjectInfo(sName, bInheritable, info);
        if (pHold->hInfo == nullptr) return failGrown(hMapping);
    }
    if (bFile) markMapped(nVolume, nIndex, pHold.get());
    return giveOut(hMapping, std::move(pHold));
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
    auto pHold = std::make_shared<ObjectHold>();
    ObjectInfo info{};
    pHold->hInfo = readObjectInfo(szName, bInheritable, &info);
    // This process keeps the object's file mapped too.
    if (pHold->hInfo != nullptr && (info.nFlags & kInfoFileBacked) != 0)
        markMapped(info.nVolume, info.nIndex, pHold.get());
    return giveOut(hMapping, std::move(pHold));
}

int64_t fileMappingSize(void* hMapping) {
    if (faulted(Op::Size)) return -1;
    if (!isValidHandle(hMapping)) return fail(ERROR_INVALID_HANDLE), -1;
    return sectionSize(systemHandle(hMapping));
}

bool closeFileMapping(void* hMapping) {
    if (faulted(Op::Close)) return false;
    if (!isValidHandle(hMapping)) return fail(ERROR_INVALID_HANDLE);
    HoldRef pHold;
    {
        std::lock_guard<std::mutex> lock(g_viewMutex);
        auto it = g_holds.find(systemHandle(hMapping));
        if (it != g_holds.end()) {
            pHold = std::move(it->second);
            g_holds.erase(it);
        }
    }
    // The object's own handle goes first: the hold (released when its views are gone too) must
    // not let a cut through while the object is still there.
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
    HoldRef pHold = holdOf(systemHandle(hMapping));
    std::lock_guard<std::mutex> lock(g_viewMutex);
    g_views[reinterpret_cast<uintptr_t>(pBase)] = View{nLength, std::move(pHold)};
    return pBase;
}

bool unmapViewOfFile(void* pBase) {
    if (faulted(Op::UnmapView)) return false;
    std::lock_guard<std::mutex> lock(g_viewMutex);
    auto it = g_views.find(reinterpret_cast<uintptr_t>(pBase));
    if (it == g_views.end()) return fail(ERROR_INVALID_PARAMETER);
    if (!::UnmapViewOfFile(pBase)) return false;
    HoldRef pHold = std::move(it->second.pHold);  // released once the view is gone
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
        if (nAddress - it->first >= it->second.nLength) return fail(ERROR_INVALID_PARAMETER);
        const std::size_t nLeft = it->second.nLength - static_cast<std::size_t>(nAddress - it->first);
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

bool win32::fileNotMapped(HANDLE hFile) {
    uint64_t nVolume = 0;
    uint64_t nIndex = 0;
    if (!identityOf(hFile, &nVolume, &nIndex)) return false;
    HANDLE hMark = ::OpenEventA(SYNCHRONIZE, FALSE, markName(nVolume, nIndex).c_str());
    if (hMark != nullptr) {
        ::CloseHandle(hMark);
        return fail(ERROR_USER_MAPPED_FILE);
    }
    // Not found: nobody holds a mapping of the file. Any other answer means the name exists.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    return fail(ERROR_USER_MAPPED_FILE);
}

bool checkFileNotMapped(void* hFile) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::Size)) return false;
    return win32::fileNotMapped(systemHandle(hFile));
}

}  // namespace qr::sys
