// POSIX backend: the registry of live file handles: handle values from a counter, records
// counted by the operations that use them, descriptors closed after the last of those.
#include "platform/posix/file_handle.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/sys_error.h"
#include "platform/sys_files.h"

namespace qr::sys {

// nUsers counts the HandleRefs alive; bClosed is set when the handle left the registry. The
// descriptor is closed by whoever sees both "closed" and "no users" first. Both fields are
// guarded by the registry's mutex.
struct HandleRef::Record {
    FileHandle handle;
    int nUsers = 0;
    bool bClosed = false;
    std::atomic<bool> bSparse{false};  // not guarded: set and read by any holder
};

namespace {
// The first value given out: far from the small numbers that descriptors and counts look like.
constexpr uintptr_t kFirstValue = 0x10000;

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, HandleRef::Record*> live;
    uintptr_t nNext = kFirstValue;
};

// Never destroyed: handles may still be closed from other static destructors at exit.
Registry& registry() {
    static Registry* s_pRegistry = new Registry;
    return *s_pRegistry;
}

uintptr_t valueOf(void* hFile) { return reinterpret_cast<uintptr_t>(hFile); }

// Closes a descriptor whose handle is gone, when nobody can be told of an error any more.
void closeQuietly(int nFd) {
    const uint32_t nSaved = lastError();
    ::close(nFd);
    setLastError(nSaved);
}

void release(HandleRef::Record* pRecord) {
    bool bLast = false;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        bLast = --pRecord->nUsers == 0 && pRecord->bClosed;
    }
    if (bLast) {
        closeQuietly(pRecord->handle.nFd);
        delete pRecord;
    }
}
}  // namespace

HandleRef::~HandleRef() {
    if (m_pRecord != nullptr) release(m_pRecord);
}

HandleRef::HandleRef(HandleRef&& other) noexcept : m_pRecord(other.m_pRecord) { other.m_pRecord = nullptr; }

HandleRef& HandleRef::operator=(HandleRef&& other) noexcept {
    if (this != &other) {
        if (m_pRecord != nullptr) release(m_pRecord);
        m_pRecord = other.m_pRecord;
        other.m_pRecord = nullptr;
    }
    return *this;
}

const FileHandle* HandleRef::operator->() const { return &m_pRecord->handle; }
const FileHandle& HandleRef::operator*() const { return m_pRecord->handle; }
bool HandleRef::sparse() const { return m_pRecord->bSparse.load(); }
void HandleRef::markSparse() const { m_pRecord->bSparse.store(true); }

HandleRef lookupHandle(void* hFile) {
    if (isValidHandle(hFile)) {
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        const auto it = reg.live.find(valueOf(hFile));
        if (it != reg.live.end()) {
            ++it->second->nUsers;
            return HandleRef(it->second);
        }
    }
    setLastError(kErrorInvalidHandle);
    return HandleRef();
}

uint32_t accessOf(void* hFile) {
    const HandleRef ref = lookupHandle(hFile);
    return ref ? ref->nAccess : 0;
}

void* registerHandle(const FileHandle& handle) {
    auto* pRecord = new (std::nothrow) HandleRef::Record;
    if (pRecord == nullptr) {
        setLastError(kErrorNoMemory);
        return kInvalidHandle;
    }
    pRecord->handle = handle;
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    // A value is never given out twice; once the counter would reach the invalid value the
    // process can open no more files (not reachable in practice with 64-bit values).
    if (reg.nNext >= valueOf(kInvalidHandle)) {
        delete pRecord;
        setLastError(EMFILE);
        return kInvalidHandle;
    }
    const uintptr_t nValue = reg.nNext;
    try {
        reg.live.emplace(nValue, pRecord);
    } catch (const std::bad_alloc&) {
        delete pRecord;
        setLastError(kErrorNoMemory);
        return kInvalidHandle;
    }
    ++reg.nNext;
    return reinterpret_cast<void*>(nValue);
}

bool closeRegisteredHandle(void* hFile) {
    HandleRef::Record* pRecord = nullptr;
    {
        Registry& reg = registry();
        std::lock_guard<std::mutex> lock(reg.mutex);
        const auto it = isValidHandle(hFile) ? reg.live.find(valueOf(hFile)) : reg.live.end();
        if (it == reg.live.end()) {
            setLastError(kErrorInvalidHandle);
            return false;
        }
        pRecord = it->second;
        reg.live.erase(it);
        pRecord->bClosed = true;
        // Operations still running on other threads close it when the last one ends.
        if (pRecord->nUsers != 0) return true;
    }
    // The descriptor is released even when close reports an error (Linux semantics); the error
    // still reaches the caller, since it may mean that written data was lost.
    const int nResult = ::close(pRecord->handle.nFd);
    const bool bOk = nResult == 0 || errno == EINTR;
    if (!bOk) captureLastError();
    delete pRecord;
    return bOk;
}

}  // namespace qr::sys
