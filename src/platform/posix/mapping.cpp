// POSIX backend: file-mapping handles over files or page-file memory, views with their registry,
// view flushing, the allocation granularity and its test seam.
//
// Files under a mapping: the process holds the "mapped" share slot of the file for as long as a
// mapping of it or a view lives (once per file: share_locks.h), so that no library call in any
// process cuts the file below a view; and a mapping that grows its file reserves the grown blocks
// first, so that a full disk fails the mapping instead of a later write into a view (which would
// end the process with a bus error).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/posix/file_handle.h"
#include "platform/posix/share_locks.h"
#include "platform/posix/shm_object.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"
#include "platform/sys_mapping.h"

namespace qr::sys {

const uint32_t kErrorNotOwner = EPERM;

namespace {

using posix::ObjectInfo;
using posix::ObjectKind;
using posix::SharedObject;

// One mapping object as this process holds it. Handles and views share it; it goes when the
// last of them goes, and with it this process's hold on the named object.
struct MappingObject {
    SharedObject shared;  // the named (or unnamed page-file) object; not valid for an unnamed file one
    int nFileFd = -1;     // file-backed: this object's own descriptor of the file
    MappedFileHold mapped;  // file-backed: the process's hold of the file's "mapped" slot
    int64_t llSize = 0;
    uint32_t nProtect = 0;
    int64_t llDataOffset = 0;  // where the data starts in the descriptor views map

    MappingObject() = default;
    MappingObject(const MappingObject&) = delete;
    MappingObject& operator=(const MappingObject&) = delete;
    ~MappingObject() {
        if (nFileFd >= 0) ::close(nFileFd);
    }
    int dataFd() const { return nFileFd >= 0 ? nFileFd : shared.descriptor(); }
    bool isFile() const { return nFileFd >= 0; }
};

struct MappingHandle {
    std::shared_ptr<MappingObject> pObject;
    bool bWritable = false;
};

struct ViewRecord {
    std::size_t nLength = 0;
    int64_t llOffset = 0;  // offset of the view in the object's data
    std::shared_ptr<MappingObject> pObject;
};

std::mutex g_mutex;  // guards the two registries below
std::unordered_set<MappingHandle*> g_handles;
std::map<uintptr_t, ViewRecord> g_views;
std::atomic<uint32_t> g_nGranularity{0};

uint32_t pageSize() {
    static const uint32_t s_nPage = [] {
        const long n = ::sysconf(_SC_PAGESIZE);
        return n > 0 ? static_cast<uint32_t>(n) : 4096u;
    }();
    return s_nPage;
}

bool fail(uint32_t nCode) {
    setLastError(nCode);
    return false;
}

bool faulted(Op op) {
    if (const uint32_t nCode = takeFault(op)) return fail(nCode), true;
    return false;
}

std::shared_ptr<MappingObject> objectOf(void* hMapping) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto* pHandle = static_cast<MappingHandle*>(hMapping);
    if (g_handles.count(pHandle) == 0) return nullptr;
    return pHandle->pObject;
}

void* newHandle(std::shared_ptr<MappingObject> pObject, bool bWritable) {
    auto* pHandle = new (std::nothrow) MappingHandle{std::move(pObject), bWritable};
    if (pHandle == nullptr) {
        setLastError(kErrorNoMemory);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handles.insert(pHandle);
    return pHandle;
}

// A descriptor of its own for the file of fdFile: a new open file description, so that the share
// locks of the caller's handle go when that handle is closed, while the mapping keeps the file.
// Without /proc it shares the caller's description, and a cut through that very handle is then
// not seen as a cut under a mapping.
int reopenDescriptor(int fdFile, bool bWritable) {
    const std::string sLink = "/proc/self/fd/" + std::to_string(fdFile);
    const int fd = ::open(sLink.c_str(), (bWritable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    return ::fcntl(fdFile, F_DUPFD_CLOEXEC, 0);  // no /proc: share the caller's description
}

// Makes fd (of the file with device nDevice and inode nInode) the descriptor that backs the
// mapping object, holding the file's "mapped" slot until the object goes. False with the last
// error set when fd is not valid or the slot cannot be held; the object owns fd either way.
bool backWithDescriptor(MappingObject& object, int fd, uint64_t nDevice, uint64_t nInode) {
    if (fd < 0) return captureLastError(), false;
    object.nFileFd = fd;
    object.mapped = MappedFileHold::take(fd, nDevice, nInode);
    return static_cast<bool>(object.mapped);
}

// Opens the file an object records by its path, for a process that has no descriptor of it. The
// path may name something else by now: the open neither follows a symbolic link put there nor
// waits for a FIFO's peer, and the caller compares device and inode before trusting it.
int openRecordedFile(const std::string& sPath, bool bWritable) {
    const int fd = ::open(sPath.c_str(), (bWritable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        // A symbolic link in the file's place: the recorded file is not there any more.
        if (errno == ELOOP) setLastError(kErrorNotFound);
        else captureLastError();
        return -1;
    }
    const int nFlags = ::fcntl(fd, F_GETFL);
    if (nFlags < 0 || ::fcntl(fd, F_SETFL, nFlags & ~O_NONBLOCK) != 0) {
        captureLastError();
        ::close(fd);
        return -1;
    }
    return fd;
}

// Grows the file of fd to llNew bytes, if it is shorter, for a writable mapping. The grown range
// gets its blocks now, unless the file was marked sparse: a write through a view into a range
// without blocks on a full disk cannot fail, it ends the process. On failure the file is cut back
// to the size it had and the cause is returned (ENOSPC, EFBIG, ...); 0 on success.
int growFile(int fd, int64_t llNew, bool bSparse) {
    struct stat st{};
    if (::fstat(fd, &st) != 0) return errno;
    const int64_t llOld = static_cast<int64_t>(st.st_size);
    if (llOld >= llNew) return 0;
    if (bSparse) {
        while (::ftruncate(fd, static_cast<off_t>(llNew)) != 0)
            if (errno != EINTR) return errno;
        return 0;
    }
    int nErr = 0;
    while ((nErr = ::posix_fallocate(fd, static_cast<off_t>(llOld), static_cast<off_t>(llNew - llOld))) == EINTR) {
    }
    if (nErr == 0) return 0;
    // A reservation that stopped half way may have moved the end: put it back (should that fail
    // too, the reservation's cause is still the one to report).
    if (::fstat(fd, &st) == 0 && st.st_size != llOld && ::ftruncate(fd, static_cast<off_t>(llOld)) != 0) {
    }
    return nErr;
}

std::string nameOf(const char* szName) { return szName != nullptr ? std::string(szName) : std::string(); }

// The path under which other processes find the file of descriptor fd.
bool pathOfDescriptor(int fd, std::string& sPath) {
    const std::string sLink = "/proc/self/fd/" + std::to_string(fd);
    char szPath[PATH_MAX];
    const ssize_t n = ::readlink(sLink.c_str(), szPath, sizeof szPath);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) >= sizeof szPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    sPath.assign(szPath, static_cast<std::size_t>(n));
    return true;
}

// Attaches to the object another user published. A file-backed one is reached through fdOwnFile
// when the caller has the file open already (a creator whose name was taken by an object of the
// same file), else by the path the object records; either way the descriptor must still be the
// recorded file (device and inode), large enough, and it then holds the "mapped" slot.
std::shared_ptr<MappingObject> attach(SharedObject&& shared, bool bWritable, int fdOwnFile) {
    auto pObject = std::make_shared<MappingObject>();
    const ObjectInfo& info = shared.info();
    pObject->llSize = info.llSize;
    pObject->nProtect = info.nProtect;
    if (info.kind == ObjectKind::File) {
        const int fd = fdOwnFile >= 0 ? reopenDescriptor(fdOwnFile, bWritable) : openRecordedFile(info.sFilePath, bWritable);
        if (fd < 0) {
            if (fdOwnFile >= 0) captureLastError();
            return nullptr;
        }
        pObject->nFileFd = fd;
        struct stat st{};
        if (::fstat(fd, &st) != 0) return captureLastError(), nullptr;
        if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_dev) != info.nDevice ||
            static_cast<uint64_t>(st.st_ino) != info.nInode)
            return setLastError(kErrorNotFound), nullptr;  // the file was replaced under its name
        if (st.st_size < info.llSize) return setLastError(kErrorInvalidArgument), nullptr;
        pObject->mapped = MappedFileHold::take(fd, info.nDevice, info.nInode);
        if (!pObject->mapped) return nullptr;
    } else {
        pObject->llDataOffset = posix::kHeaderBytes;
    }
    pObject->shared = std::move(shared);
    return pObject;
}

// Maps nLength bytes of fd at llOffset at an address that is a multiple of the allocation
// granularity, as view addresses are on the platform whose granularity the seam imitates. At the
// page size that is what mmap does anyway; above it, room is reserved and the slack given back.
void* mapAligned(std::size_t nLength, int nProt, int fd, int64_t llOffset) {
    const std::size_t nAlign = allocationGranularity();
    if (nAlign <= pageSize()) {
        void* p = ::mmap(nullptr, nLength, nProt, MAP_SHARED, fd, static_cast<off_t>(llOffset));
        if (p == MAP_FAILED) return captureLastError(), nullptr;
        return p;
    }
    if (nLength > SIZE_MAX - nAlign) return setLastError(kErrorNoMemory), nullptr;
    void* pRoom = ::mmap(nullptr, nLength + nAlign, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (pRoom == MAP_FAILED) return captureLastError(), nullptr;
    const uintptr_t nRoom = reinterpret_cast<uintptr_t>(pRoom);
    const uintptr_t nStart = (nRoom + nAlign - 1) / nAlign * nAlign;
    void* p = ::mmap(reinterpret_cast<void*>(nStart), nLength, nProt, MAP_SHARED | MAP_FIXED, fd, static_cast<off_t>(llOffset));
    if (p == MAP_FAILED) {
        captureLastError();
        ::munmap(pRoom, nLength + nAlign);
        return nullptr;
    }
    const std::size_t nMapped = (nLength + pageSize() - 1) / pageSize() * pageSize();
    if (nStart > nRoom) ::munmap(pRoom, nStart - nRoom);
    const uintptr_t nEnd = nRoom + nLength + nAlign;
    if (nStart + nMapped < nEnd) ::munmap(reinterpret_cast<void*>(nStart + nMapped), nEnd - (nStart + nMapped));
    return p;
}

}  // namespace

void* createFileMapping(void* hFile, uint32_t nProtect, int64_t llSize, const char* szName, bool /*bInheritable*/,
                        uint32_t nFlags, bool* pbExisted) {
    if (pbExisted != nullptr) *pbExisted = false;
    if (faulted(Op::CreateMapping)) return nullptr;
    if (nProtect != kPageReadOnly && nProtect != kPageReadWrite) return fail(kErrorInvalidArgument), nullptr;
    if ((nFlags & ~(kMapCreateExclusive | kMapCreateAppendNull)) != 0) return fail(kErrorInvalidArgument), nullptr;
    const std::string sName = nameOf(szName);
    if (sName.size() > posix::kMaxObjectName) return fail(kErrorNameTooLong), nullptr;
    const bool bWritable = nProtect == kPageReadWrite;
    const bool bExclusive = (nFlags & kMapCreateExclusive) != 0;

    ObjectInfo info;
    info.nProtect = nProtect;
    info.bAppendNull = (nFlags & kMapCreateAppendNull) != 0;
    int fdFile = -1;
    int64_t llFileSize = 0;
    bool bSparse = false;
    HandleRef fileRef;  // keeps the caller's descriptor open while the object is made
    if (hFile == kInvalidHandle) {
        if (llSize <= 0) return fail(kErrorInvalidArgument), nullptr;
        info.kind = ObjectKind::PageFile;
        info.llSize = llSize;
    } else {
        fileRef = lookupHandle(hFile);
        if (!fileRef) return fail(kErrorInvalidHandle), nullptr;
        fdFile = fileRef->nFd;
        // A mapping reads its file; a writable one writes it too.
        const uint32_t nNeeded = bWritable ? kGenericRead | kGenericWrite : kGenericRead;
        if ((fileRef->nAccess & nNeeded) != nNeeded) return fail(kErrorAccessDenied), nullptr;
        struct stat st{};
        if (::fstat(fdFile, &st) != 0) return captureLastError(), nullptr;
        if (!S_ISREG(st.st_mode)) return fail(kErrorInvalidArgument), nullptr;
        if (llSize < 0) return fail(kErrorInvalidArgument), nullptr;
        llFileSize = static_cast<int64_t>(st.st_size);
        info.kind = ObjectKind::File;
        info.llSize = llSize != 0 ? llSize : llFileSize;
        // An empty file cannot be mapped, and a read-only object cannot grow its file.
        if (info.llSize == 0 || (!bWritable && info.llSize > llFileSize)) return fail(kErrorInvalidArgument), nullptr;
        info.nDevice = static_cast<uint64_t>(st.st_dev);
        info.nInode = static_cast<uint64_t>(st.st_ino);
        bSparse = fileRef.sparse();
        if (!sName.empty() && !pathOfDescriptor(fdFile, info.sFilePath)) return captureLastError(), nullptr;
    }
    // The file grows only once the object is known to be new: a creator that meets an existing
    // object of its name leaves its file as it was.
    const auto growIfNeeded = [&]() -> int { return growFile(fdFile, info.llSize, bSparse); };

    for (int nRound = 0; nRound < 1000; ++nRound) {
        SharedObject shared;
        if (!sName.empty()) {
            if (shared.open(sName)) {
                if (bExclusive) return fail(kErrorAlreadyExists), nullptr;
                const ObjectInfo& existing = shared.info();
                // A file mapping shares only the object of its own file: a name made from a
                // relative path may be another folder's file of the same name.
                if (fdFile >= 0 && (existing.kind != ObjectKind::File || existing.nDevice != info.nDevice ||
                                    existing.nInode != info.nInode))
                    return fail(kErrorMappingOtherFile), nullptr;
                // Terminator bytes may be written only into an object made for them.
                if (info.bAppendNull && !existing.bAppendNull) return fail(kErrorMappingNotAppendNull), nullptr;
                // The existing object keeps its size and page access; the handle gets no more
                // access than both the object and the caller's page access allow.
                const bool bHandleWritable = bWritable && existing.nProtect == kPageReadWrite;
                std::shared_ptr<MappingObject> pObject = attach(std::move(shared), bHandleWritable, fdFile);
                if (pObject == nullptr) return nullptr;
                void* hMapping = newHandle(std::move(pObject), bHandleWritable);
                if (hMapping != nullptr && pbExisted != nullptr) *pbExisted = true;
                return hMapping;
            }
            if (errno != ENOENT) return captureLastError(), nullptr;
        }
        auto pObject = std::make_shared<MappingObject>();
        pObject->llSize = info.llSize;
        pObject->nProtect = nProtect;
        if (fdFile >= 0) {
            if (!backWithDescriptor(*pObject, reopenDescriptor(fdFile, bWritable), info.nDevice, info.nInode))
                return nullptr;
            if (sName.empty()) {
                if (const int nErr = growIfNeeded(); nErr != 0) return fail(static_cast<uint32_t>(nErr)), nullptr;
                return newHandle(std::move(pObject), bWritable);
            }
            if (shared.create(sName, info, growIfNeeded)) {
                pObject->shared = std::move(shared);
                return newHandle(std::move(pObject), bWritable);
            }
        } else {
            pObject->llDataOffset = posix::kHeaderBytes;
            if (shared.create(sName, info)) {
                pObject->shared = std::move(shared);
                return newHandle(std::move(pObject), bWritable);
            }
        }
        if (errno != EEXIST) return captureLastError(), nullptr;
        // Someone published the name meanwhile: open theirs.
    }
    return fail(kErrorAlreadyExists), nullptr;
}

void* openFileMapping(uint32_t nAccess, bool /*bInheritable*/, const char* szName) {
    if (faulted(Op::OpenMapping)) return nullptr;
    if (nAccess != kMapRead && nAccess != kMapWrite) return fail(kErrorInvalidArgument), nullptr;
    const std::string sName = nameOf(szName);
    if (sName.empty()) return fail(kErrorNotFound), nullptr;
    if (sName.size() > posix::kMaxObjectName) return fail(kErrorNameTooLong), nullptr;
    SharedObject shared;
    if (!shared.open(sName)) return captureLastError(), nullptr;
    const bool bWritable = nAccess == kMapWrite;
    if (bWritable && shared.info().nProtect != kPageReadWrite) return fail(kErrorAccessDenied), nullptr;
    std::shared_ptr<MappingObject> pObject = attach(std::move(shared), bWritable, -1);
    if (pObject == nullptr) return nullptr;
    return newHandle(std::move(pObject), bWritable);
}

int64_t fileMappingSize(void* hMapping) {
    if (faulted(Op::Size)) return -1;
    std::shared_ptr<MappingObject> pObject = objectOf(hMapping);
    if (pObject == nullptr) return fail(kErrorInvalidHandle), -1;
    return pObject->llSize;
}

bool closeFileMapping(void* hMapping) {
    if (faulted(Op::Close)) return false;
    std::shared_ptr<MappingObject> pObject;  // released after the lock
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto* pHandle = static_cast<MappingHandle*>(hMapping);
        if (g_handles.erase(pHandle) == 0) return fail(kErrorInvalidHandle);
        pObject = std::move(pHandle->pObject);
        delete pHandle;
    }
    return true;
}

void* mapViewOfFile(void* hMapping, uint32_t nAccess, int64_t llOffset, std::size_t nLength) {
    if (faulted(Op::MapView)) return nullptr;
    bool bHandleWritable = false;
    std::shared_ptr<MappingObject> pObject;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto* pHandle = static_cast<MappingHandle*>(hMapping);
        if (g_handles.count(pHandle) == 0) return fail(kErrorInvalidHandle), nullptr;
        pObject = pHandle->pObject;
        bHandleWritable = pHandle->bWritable;
    }
    if (nAccess != kMapRead && nAccess != kMapWrite) return fail(kErrorInvalidArgument), nullptr;
    const bool bWrite = nAccess == kMapWrite;
    if (bWrite && !bHandleWritable) return fail(kErrorAccessDenied), nullptr;
    if (llOffset < 0 || llOffset % allocationGranularity() != 0) return fail(kErrorInvalidArgument), nullptr;
    if (llOffset >= pObject->llSize) return fail(kErrorInvalidArgument), nullptr;
    const uint64_t nRoom = static_cast<uint64_t>(pObject->llSize - llOffset);
    if (nLength == 0) {
        if (nRoom > SIZE_MAX) return fail(kErrorNoMemory), nullptr;
        nLength = static_cast<std::size_t>(nRoom);
    } else if (nLength > nRoom) {
        return fail(kErrorInvalidArgument), nullptr;
    }
    if (pObject->isFile()) {
        // A file cut short behind our back would turn reads of the view into bus errors.
        struct stat st{};
        if (::fstat(pObject->nFileFd, &st) != 0) return captureLastError(), nullptr;
        if (static_cast<uint64_t>(st.st_size) < static_cast<uint64_t>(llOffset) + nLength)
            return fail(kErrorInvalidArgument), nullptr;
    }
    const int nProt = bWrite ? PROT_READ | PROT_WRITE : PROT_READ;
    void* pBase = mapAligned(nLength, nProt, pObject->dataFd(), pObject->llDataOffset + llOffset);
    if (pBase == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_views[reinterpret_cast<uintptr_t>(pBase)] = ViewRecord{nLength, llOffset, std::move(pObject)};
    return pBase;
}

bool unmapViewOfFile(void* pBase) {
    if (faulted(Op::UnmapView)) return false;
    std::shared_ptr<MappingObject> pObject;  // released after the lock
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_views.find(reinterpret_cast<uintptr_t>(pBase));
    if (it == g_views.end()) return fail(kErrorInvalidArgument);
    if (::munmap(pBase, it->second.nLength) != 0) return captureLastError(), false;
    pObject = std::move(it->second.pObject);
    g_views.erase(it);
    return true;
}

bool flushViewOfFile(const void* pAddress, std::size_t nLength) {
    if (faulted(Op::FlushView)) return false;
    const uintptr_t nAddress = reinterpret_cast<uintptr_t>(pAddress);
    int fd = -1;
    int64_t llStart = 0;
    std::size_t nBytes = 0;
    std::shared_ptr<MappingObject> pObject;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_views.upper_bound(nAddress);
        if (it == g_views.begin()) return fail(kErrorInvalidArgument);
        --it;
        const uintptr_t nBase = it->first;
        if (nAddress - nBase >= it->second.nLength) return fail(kErrorInvalidArgument);
        const std::size_t nInView = static_cast<std::size_t>(nAddress - nBase);
        const std::size_t nLeft = it->second.nLength - nInView;
        nBytes = nLength == 0 || nLength > nLeft ? nLeft : nLength;
        pObject = it->second.pObject;
        if (!pObject->isFile()) return true;  // page-file memory has no file to write
        fd = pObject->nFileFd;
        llStart = it->second.llOffset + static_cast<int64_t>(nInView);
    }
    // The modified pages of the range are written and waited for, as the file's own data; the
    // file's metadata and the disk's cache are the business of a file flush.
    while (::sync_file_range(fd, static_cast<off_t>(llStart), static_cast<off_t>(nBytes),
                             SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        if (errno != EINTR) return captureLastError(), false;
    }
    return true;
}

uint32_t allocationGranularity() {
    const uint32_t n = g_nGranularity.load(std::memory_order_relaxed);
    return n != 0 ? n : pageSize();
}

bool setAllocationGranularity(uint32_t nGranularity) {
    if (nGranularity != 0 && ((nGranularity & (nGranularity - 1)) != 0 || nGranularity % pageSize() != 0))
        return false;
    g_nGranularity.store(nGranularity);
    return true;
}

bool markFileSparse(void* hFile) {
    if (faulted(Op::RangeEdit)) return false;
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return fail(kErrorInvalidHandle);
    struct stat st{};
    if (::fstat(handle->nFd, &st) != 0) return captureLastError(), false;
    if (!S_ISREG(st.st_mode)) return fail(kErrorInvalidArgument);
    handle.markSparse();
    return true;
}

bool checkFileNotMapped(void* hFile) {
    if (faulted(Op::Size)) return false;
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return fail(kErrorInvalidHandle);
    return refuseIfMapped(handle->nFd);
}

}  // namespace qr::sys
