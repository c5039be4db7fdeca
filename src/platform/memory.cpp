// Platform layer, shared by every backend: heap memory behind the fault seam (the C run-time's allocator).
#include <cstdlib>

#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_memory.h"

namespace qr::sys {

namespace {
bool refused() {
    if (const uint32_t nCode = takeFault(Op::Alloc)) {
        setLastError(nCode);
        return true;
    }
    return false;
}
}  // namespace

void* memAlloc(std::size_t nBytes) {
    if (refused()) return nullptr;
    void* p = std::malloc(nBytes == 0 ? 1 : nBytes);
    if (p == nullptr) setLastError(kErrorNoMemory);
    return p;
}

void* memAllocZeroed(std::size_t nBytes) {
    if (refused()) return nullptr;
    void* p = std::calloc(nBytes == 0 ? 1 : nBytes, 1);
    if (p == nullptr) setLastError(kErrorNoMemory);
    return p;
}

void* memRealloc(void* pBlock, std::size_t nBytes) {
    if (refused()) return nullptr;
    void* p = std::realloc(pBlock, nBytes == 0 ? 1 : nBytes);
    if (p == nullptr) setLastError(kErrorNoMemory);
    return p;
}

void memFree(void* pBlock) { std::free(pBlock); }

}  // namespace qr::sys
