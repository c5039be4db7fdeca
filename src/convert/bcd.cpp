// Conversions: packed decimal (BCD) numbers, two digits a byte, least significant byte first.
#include "qrcore/convert.h"

extern "C" QR_API int32_t QR_CALL BcdTol(const unsigned char* pData, int32_t n) {
    if (pData == nullptr || n <= 0) return 0;
    // Unsigned arithmetic wraps modulo 2^32 where a signed one would overflow; the conversion
    // back gives the two's-complement value.
    uint32_t nValue = 0;
    for (int32_t k = n - 1; k >= 0; --k) {
        const unsigned char nByte = pData[k];
        nValue = nValue * 10u + static_cast<uint32_t>(nByte >> 4);
        nValue = nValue * 10u + static_cast<uint32_t>(nByte & 0x0F);
    }
    return static_cast<int32_t>(nValue);
}
