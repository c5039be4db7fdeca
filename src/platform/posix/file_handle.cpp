// POSIX backend: the registry of live file handles and the lookups other backend files use.
#include "platform/posix/file_handle.h"

#include <mutex>
#include <unordered_set>

#include "platform/sys_error.h"
#include "platform/sys_files.h"

namespace qr::sys {

namespace {
struct Registry {
    std::mutex mutex;
    std::unordered_set<FileHandle*> live;
};

// Never destroyed: handles may still be closed from other static destructors at exit.
Registry& registry() {
    static Registry* s_pRegistry = new Registry;
    return *s_pRegistry;
}

// The live record behind hFile, taken out of the registry when bRemove; null with
// kErrorInvalidHandle for anything that is not a live handle.
FileHandle* liveHandle(void* hFile, bool bRemove) {
    if (!isValidHandle(hFile)) {
        setLastError(kErrorInvalidHandle);
        return nullptr;
    }
    auto* pHandle = static_cast<FileHandle*>(hFile);
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    const bool bLive = bRemove ? reg.live.erase(pHandle) != 0 : reg.live.count(pHandle) != 0;
    if (!bLive) {
        setLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return pHandle;
}
}  // namespace

FileHandle* lookupHandle(void* hFile) { return liveHandle(hFile, false); }

int descriptorOf(void* hFile) {
    const FileHandle* pHandle = lookupHandle(hFile);
    return pHandle != nullptr ? pHandle->nFd : -1;
}

uint32_t accessOf(void* hFile) {
    const FileHandle* pHandle = lookupHandle(hFile);
    return pHandle != nullptr ? pHandle->nAccess : 0;
}

void* registerHandle(FileHandle* pHandle) {
    Registry& reg = registry();
    std::lock_guard<std::mutex> lock(reg.mutex);
    reg.live.insert(pHandle);
    return pHandle;
}

FileHandle* unregisterHandle(void* hFile) { return liveHandle(hFile, true); }

}  // namespace qr::sys
