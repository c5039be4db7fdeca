// Utilities: typed-data helpers (absolute value, data-type sizes, byte-order reversal).
#include "qrcore/util.h"

extern "C" QR_API int64_t QR_llabs(int64_t llValue) {
    // Negated over all 64 bits in unsigned arithmetic: the most negative value maps to itself
    // without undefined behaviour.
    return llValue < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(llValue)) : llValue;
}
