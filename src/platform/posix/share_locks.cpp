// POSIX backend: share modes as open file description locks on four reserved one-byte slots.
//
// Every open holds a shared lock on the slots that describe it: "has read" and "has write" for
// the access it holds, "deny read" and "deny write" for the sharing it refuses. A new open
// first takes its own slots, then asks (F_OFD_GETLK with an exclusive probe) whether another
// open file description holds a slot it clashes with: "deny read" when it wants to read, "deny
// write" when it wants to write, "has read" when it refuses read sharing, "has write" when it
// refuses write sharing. Taking before testing means that of two racing opens in different
// processes at least one sees the other (both may give up, never both succeed). Locks of the
// same open file description never conflict with each other, so the probe ignores our own
// slots. The slots lie near the largest offset, far beyond any data, and the kernel drops them
// when the last descriptor of the open file description is closed, also when a process dies.
//
// A fifth slot, "mapped", is held by every process that maps the file: a file cut below a live
// view would turn every later touch of that view into a bus error in whichever process holds it,
// so the operations that shorten files probe this slot first and refuse. A process takes it once
// per file, not per mapping or view: the lock call is paid by the first mapping of a file only.
#include "platform/posix/share_locks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <new>
#include <utility>

#include "platform/sys_error.h"
#include "platform/sys_files.h"

namespace qr::sys {

namespace {
constexpr int64_t kSlotBase = std::numeric_limits<int64_t>::max() - 8;
constexpr int64_t kSlotHasRead = kSlotBase + 0;
constexpr int64_t kSlotHasWrite = kSlotBase + 1;
constexpr int64_t kSlotDenyRead = kSlotBase + 2;
constexpr int64_t kSlotDenyWrite = kSlotBase + 3;
constexpr int64_t kSlotMapped = kSlotBase + 4;

bool lockSlot(int nFd, int64_t llSlot) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = llSlot;
    lock.l_len = 1;
    while (::fcntl(nFd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) {
            captureLastError();
            return false;
        }
    }
    return true;
}

void unlockSlot(int nFd, int64_t llSlot) {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = llSlot;
    lock.l_len = 1;
    while (::fcntl(nFd, F_OFD_SETLK, &lock) != 0 && errno == EINTR) {
    }
}

// *pbHeld: whether another open file description holds a lock on the slot.
bool probeSlot(int nFd, int64_t llSlot, bool* pbHeld) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = llSlot;
    lock.l_len = 1;
    while (::fcntl(nFd, F_OFD_GETLK, &lock) != 0) {
        if (errno != EINTR) {
            captureLastError();
            return false;
        }
    }
    *pbHeld = lock.l_type != F_UNLCK;
    return true;
}
}  // namespace

std::mutex& shareMutex() {
    static std::mutex* s_pMutex = new std::mutex;
    return *s_pMutex;
}

bool takeShareSlots(int nFd, uint32_t nAccess, uint32_t nShare) {
    const bool bRead = (nAccess & kGenericRead) != 0;
    const bool bWrite = (nAccess & kGenericWrite) != 0;
    const bool bShareRead = (nShare & kShareRead) != 0;
    const bool bShareWrite = (nShare & kShareWrite) != 0;

    if (bRead && !lockSlot(nFd, kSlotHasRead)) return false;
    if (bWrite && !lockSlot(nFd, kSlotHasWrite)) return false;
    if (!bShareRead && !lockSlot(nFd, kSlotDenyRead)) return false;
    if (!bShareWrite && !lockSlot(nFd, kSlotDenyWrite)) return false;

    const struct {
        bool bApplies;
        int64_t llSlot;
    } probes[] = {
        {bRead, kSlotDenyRead},
        {bWrite, kSlotDenyWrite},
        {!bShareRead, kSlotHasRead},
        {!bShareWrite, kSlotHasWrite},
    };
    for (const auto& probe : probes) {
        if (!probe.bApplies) continue;
        bool bHeld = false;
        if (!probeSlot(nFd, probe.llSlot, &bHeld)) return false;
        if (bHeld) {
            setLastError(kErrorSharingViolation);
            return false;
        }
    }
    return true;
}

void dropWriteSlot(int nFd) { unlockSlot(nFd, kSlotHasWrite); }

// nUsers and the registry are guarded by the registry's mutex.
struct MappedFileHold::File {
    std::pair<uint64_t, uint64_t> key;  // device, inode
    int nFd = -1;                      // holds the slot; keeps the inode (and so the key) alive
    long nUsers = 0;
};

namespace {
struct MappedFiles {
    std::mutex mutex;
    std::map<std::pair<uint64_t, uint64_t>, MappedFileHold::File*> files;
};

// Never destroyed: mappings may still be closed from other static destructors at exit.
MappedFiles& mappedFiles() {
    static MappedFiles* s_pFiles = new MappedFiles;
    return *s_pFiles;
}

void release(MappedFileHold::File* pFile) {
    MappedFiles& reg = mappedFiles();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        if (--pFile->nUsers != 0) return;
        reg.files.erase(pFile->key);
    }
    const uint32_t nSaved = lastError();
    ::close(pFile->nFd);  // drops the lock once no other descriptor of its description is open
    setLastError(nSaved);
    delete pFile;
}
}  // namespace

MappedFileHold MappedFileHold::take(int nFd, uint64_t nDevice, uint64_t nInode) {
    MappedFiles& reg = mappedFiles();
    const std::pair<uint64_t, uint64_t> key(nDevice, nInode);
    // The lock is taken under the mutex: another thread must not find the record before the slot
    // is held, nor take a second one meanwhile.
    std::lock_guard<std::mutex> lock(reg.mutex);
    const auto it = reg.files.find(key);
    if (it != reg.files.end()) {
        ++it->second->nUsers;
        return MappedFileHold(it->second);
    }
    auto* pFile = new (std::nothrow) File;
    if (pFile == nullptr) return setLastError(kErrorNoMemory), MappedFileHold();
    pFile->key = key;
    pFile->nUsers = 1;
    pFile->nFd = ::fcntl(nFd, F_DUPFD_CLOEXEC, 0);
    bool bOk = pFile->nFd >= 0;
    if (!bOk) captureLastError();
    bOk = bOk && lockSlot(pFile->nFd, kSlotMapped);
    if (bOk) {
        try {
            reg.files.emplace(key, pFile);
        } catch (const std::bad_alloc&) {
            setLastError(kErrorNoMemory);
            bOk = false;
        }
    }
    if (!bOk) {
        const uint32_t nCode = lastError();
        if (pFile->nFd >= 0) ::close(pFile->nFd);
        delete pFile;
        setLastError(nCode);
        return MappedFileHold();
    }
    return MappedFileHold(pFile);
}

MappedFileHold::~MappedFileHold() {
    if (m_pFile != nullptr) release(m_pFile);
}

MappedFileHold::MappedFileHold(MappedFileHold&& other) noexcept : m_pFile(std::exchange(other.m_pFile, nullptr)) {}

MappedFileHold& MappedFileHold::operator=(MappedFileHold&& other) noexcept {
    if (this != &other) {
        if (m_pFile != nullptr) release(m_pFile);
        m_pFile = std::exchange(other.m_pFile, nullptr);
    }
    return *this;
}

bool refuseIfMapped(int nFd) {
    bool bHeld = false;
    if (!probeSlot(nFd, kSlotMapped, &bHeld)) return false;
    if (bHeld) {
        setLastError(kErrorUserMappedFile);
        return false;
    }
    return true;
}

}  // namespace qr::sys
