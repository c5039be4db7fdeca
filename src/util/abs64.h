// Utilities: the 64-bit absolute value shared by the exported QR_llabs and the row sort, where
// it must inline into the comparisons.
#pragma once

#include <cstdint>

namespace qr {

// Negated over all 64 bits in unsigned arithmetic: the most negative value maps to itself
// without undefined behaviour.
inline int64_t abs64(int64_t llValue) {
    return llValue < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(llValue)) : llValue;
}

}  // namespace qr
