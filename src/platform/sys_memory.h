// Platform layer: heap memory through the fault seam (Op::Alloc), so that the library's
// "no memory" paths can be tested. Same contracts as malloc/realloc/free; a failure leaves the
// old block untouched and records kErrorNoMemory.
#pragma once

#include <cstddef>

namespace qr::sys {

void* memAlloc(std::size_t nBytes);
void* memAllocZeroed(std::size_t nBytes);
void* memRealloc(void* pBlock, std::size_t nBytes);
void memFree(void* pBlock);

}  // namespace qr::sys
