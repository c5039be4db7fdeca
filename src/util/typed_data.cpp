// Utilities: typed-data helpers (absolute value, data-type sizes, byte-order reversal).
#include <algorithm>

#include "qrcore/util.h"
#include "util/abs64.h"

extern "C" QR_API int64_t QR_CALL QR_llabs(int64_t llValue) { return qr::abs64(llValue); }

extern "C" QR_API int32_t QR_CALL GetDataTypeBytes(int32_t nType) {
    switch (nType) {
        case 1: case 2: return 1;
        case 3: case 4: return 2;
        case 5: case 6: case 17: return 4;
        case 7: case 8: case 18: return 8;
        default: return 0;
    }
}

extern "C" QR_API int32_t QR_CALL BufferReverse(void* pBuffer, int32_t nLength) {
    if (pBuffer != nullptr && nLength > 1) {
        auto* pBytes = static_cast<unsigned char*>(pBuffer);
        std::reverse(pBytes, pBytes + nLength);
    }
    return nLength;
}
