// POSIX backend: process-local named mutexes with the owner semantics of the Win32 mutex:
// recursive for the owning thread, timed waits, abandoned when the owning thread ends.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_mapping.h"

namespace qr::sys {

namespace {

struct MutexObject {
    std::mutex guard;
    std::condition_variable released;
    bool bOwned = false;
    std::thread::id owner;
    uint32_t nCount = 0;
    bool bAbandoned = false;  // the last owner ended without releasing it
    std::string sName;
    uint32_t nHandles = 0;  // guarded by g_registry
};

struct MutexHandle {
    std::shared_ptr<MutexObject> pObject;
};

std::mutex g_registry;  // guards the two tables below
std::unordered_set<MutexHandle*> g_handles;
std::map<std::string, std::weak_ptr<MutexObject>> g_names;

// The mutexes the calling thread owns. When the thread ends, each is left abandoned: the next
// waiter gets it with kWaitAbandoned.
class OwnedMutexes {
public:
    ~OwnedMutexes() {
        const std::thread::id me = std::this_thread::get_id();
        for (const std::shared_ptr<MutexObject>& pObject : m_held) {
            {
                std::lock_guard<std::mutex> lock(pObject->guard);
                if (!pObject->bOwned || pObject->owner != me) continue;
                pObject->bOwned = false;
                pObject->nCount = 0;
                pObject->bAbandoned = true;
            }
            pObject->released.notify_one();
        }
    }
    void add(std::shared_ptr<MutexObject> pObject) { m_held.push_back(std::move(pObject)); }
    void remove(const MutexObject* pObject) {
        for (std::size_t i = 0; i < m_held.size(); ++i) {
            if (m_held[i].get() == pObject) {
                m_held[i] = std::move(m_held.back());
                m_held.pop_back();
                return;
            }
        }
    }

private:
    std::vector<std::shared_ptr<MutexObject>> m_held;
};

OwnedMutexes& ownedByThisThread() {
    thread_local OwnedMutexes t_owned;
    return t_owned;
}

std::shared_ptr<MutexObject> objectOf(void* hMutex) {
    std::lock_guard<std::mutex> lock(g_registry);
    auto* pHandle = static_cast<MutexHandle*>(hMutex);
    if (g_handles.count(pHandle) == 0) return nullptr;
    return pHandle->pObject;
}

}  // namespace

void* createMutex(bool bInitialOwner, const char* szName, bool* pbExisted) {
    if (pbExisted != nullptr) *pbExisted = false;
    if (const uint32_t nCode = takeFault(Op::Mutex)) {
        setLastError(nCode);
        return nullptr;
    }
    const std::string sName = szName != nullptr ? szName : "";
    auto* pHandle = new (std::nothrow) MutexHandle;
    if (pHandle == nullptr) {
        setLastError(kErrorNoMemory);
        return nullptr;
    }
    bool bExisted = false;
    {
        std::lock_guard<std::mutex> lock(g_registry);
        if (!sName.empty()) {
            auto it = g_names.find(sName);
            if (it != g_names.end()) {
                pHandle->pObject = it->second.lock();
                if (pHandle->pObject == nullptr) g_names.erase(it);
            }
        }
        bExisted = pHandle->pObject != nullptr;
        if (!bExisted) {
            pHandle->pObject = std::make_shared<MutexObject>();
            pHandle->pObject->sName = sName;
            if (!sName.empty()) g_names[sName] = pHandle->pObject;
        }
        ++pHandle->pObject->nHandles;
        g_handles.insert(pHandle);
    }
    if (bExisted) {
        if (pbExisted != nullptr) *pbExisted = true;
    } else if (bInitialOwner) {
        MutexObject& object = *pHandle->pObject;
        std::lock_guard<std::mutex> lock(object.guard);
        object.bOwned = true;
        object.owner = std::this_thread::get_id();
        object.nCount = 1;
        ownedByThisThread().add(pHandle->pObject);
    }
    return pHandle;
}

bool closeMutex(void* hMutex) {
    if (const uint32_t nCode = takeFault(Op::Mutex)) {
        setLastError(nCode);
        return false;
    }
    std::shared_ptr<MutexObject> pObject;  // released after the lock
    std::lock_guard<std::mutex> lock(g_registry);
    auto* pHandle = static_cast<MutexHandle*>(hMutex);
    if (g_handles.erase(pHandle) == 0) {
        setLastError(kErrorInvalidHandle);
        return false;
    }
    pObject = std::move(pHandle->pObject);
    delete pHandle;
    // The last handle takes the name with it; a thread that still owns the mutex keeps the
    // object alive, not the name.
    if (--pObject->nHandles == 0 && !pObject->sName.empty()) g_names.erase(pObject->sName);
    return true;
}

uint32_t waitForSingleObject(void* hMutex, uint32_t nMilliseconds) {
    if (const uint32_t nCode = takeFault(Op::Mutex)) {
        setLastError(nCode);
        return kWaitFailed;
    }
    std::shared_ptr<MutexObject> pObject = objectOf(hMutex);
    if (pObject == nullptr) {
        setLastError(kErrorInvalidHandle);
        return kWaitFailed;
    }
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(pObject->guard);
    if (pObject->bOwned && pObject->owner == me) {
        if (pObject->nCount == UINT32_MAX) {
            setLastError(kErrorInvalidArgument);
            return kWaitFailed;
        }
        ++pObject->nCount;
        return kWaitObject0;
    }
    auto isFree = [&] { return !pObject->bOwned; };
    if (nMilliseconds == kInfinite) {
        pObject->released.wait(lock, isFree);
    } else if (!pObject->released.wait_for(lock, std::chrono::milliseconds(nMilliseconds), isFree)) {
        return kWaitTimeout;
    }
    pObject->bOwned = true;
    pObject->owner = me;
    pObject->nCount = 1;
    const bool bAbandoned = pObject->bAbandoned;
    pObject->bAbandoned = false;
    lock.unlock();
    ownedByThisThread().add(std::move(pObject));
    return bAbandoned ? kWaitAbandoned : kWaitObject0;
}

bool releaseMutex(void* hMutex) {
    if (const uint32_t nCode = takeFault(Op::Mutex)) {
        setLastError(nCode);
        return false;
    }
    std::shared_ptr<MutexObject> pObject = objectOf(hMutex);
    if (pObject == nullptr) {
        setLastError(kErrorInvalidHandle);
        return false;
    }
    bool bFreed = false;
    {
        std::lock_guard<std::mutex> lock(pObject->guard);
        if (!pObject->bOwned || pObject->owner != std::this_thread::get_id()) {
            setLastError(kErrorNotOwner);
            return false;
        }
        if (--pObject->nCount == 0) {
            pObject->bOwned = false;
            bFreed = true;
        }
    }
    if (bFreed) {
        pObject->released.notify_one();
        ownedByThisThread().remove(pObject.get());
    }
    return true;
}

}  // namespace qr::sys
