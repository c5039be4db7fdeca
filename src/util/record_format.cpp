// Utilities: records of blank-separated fields: their column widths and their split form.
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/sys_memory.h"
#include "qrcore/util.h"
#include "util/text_length.h"

namespace {

// One bit per byte of the 8-byte word w (bit j for the byte at address offset j, which needs a
// little-endian load): set when the byte is neither a blank nor a zero byte. Zero bytes count as
// blanks so that SplitRecord can write its terminators into the very text being scanned.
inline unsigned fieldByteBits(uint64_t w) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const uint64_t xBlank = w ^ 0x2020202020202020ull;
    // The high bit of each byte: set when the byte is not zero (exact per byte, no borrows).
    const uint64_t notBlank = (((xBlank & kLow7) + kLow7) | xBlank) & kHigh;
    const uint64_t notZero = (((w & kLow7) + kLow7) | w) & kHigh;
    // Gather the eight high bits into the low byte.
    return static_cast<unsigned>((((notBlank & notZero) >> 7) * 0x0102040810204080ull) >> 56);
}

inline bool isFieldByte(char c) { return c != ' ' && c != '\0'; }

// Calls onField(nEnd) with the position just after each field of the nLength bytes at p, in
// order, in one pass: a field ends where a field byte is followed by a blank or the end. Eight
// bytes are classified at a time.
template <typename OnField>
void forEachFieldEnd(const char* p, std::size_t nLength, OnField onField) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= nLength; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            const unsigned nBits = fieldByteBits(w);
            const unsigned nNext = i + 8 < nLength && isFieldByte(p[i + 8]) ? 1u : 0u;
            unsigned nEnds = nBits & ~((nBits >> 1) | (nNext << 7));
            while (nEnds != 0) {
                onField(i + static_cast<std::size_t>(std::countr_zero(nEnds)) + 1);
                nEnds &= nEnds - 1;
            }
        }
    }
    for (; i < nLength; ++i)
        if (isFieldByte(p[i]) && (i + 1 == nLength || !isFieldByte(p[i + 1]))) onField(i + 1);
}

}  // namespace

extern "C" QR_API int32_t* QR_CALL RecordFormatAnalyse(const char* szRecord, int32_t* pnCount) {
    if (szRecord == nullptr || szRecord[0] == '\0') return nullptr;
    const std::size_t nLength = std::strlen(szRecord);
    // Widths are int32_t: a record too long for them gets no analysis rather than wrong widths.
    if (nLength > static_cast<std::size_t>(INT32_MAX)) {
        if (pnCount != nullptr) *pnCount = 0;
        return nullptr;
    }
    // One pass finds the widths of a record of up to 64 fields, which then needs no memory but
    // the result; a record with more fields is walked a second time into the result.
    constexpr std::size_t kLocal = 64;
    int32_t aLocal[kLocal];
    std::size_t nFields = 0, nPrevEnd = 0;
    forEachFieldEnd(szRecord, nLength, [&](std::size_t nEnd) {
        if (nFields < kLocal) aLocal[nFields] = static_cast<int32_t>(nEnd - nPrevEnd);
        ++nFields;
        nPrevEnd = nEnd;
    });
    if (nFields == 0) {
        if (pnCount != nullptr) *pnCount = 0;
        return nullptr;
    }
    // From the C heap (through the fault seam): the caller releases the array with free().
    auto* pWidths = static_cast<int32_t*>(qr::sys::memAlloc(nFields * sizeof(int32_t)));
    if (pWidths == nullptr) {
        if (pnCount != nullptr) *pnCount = 0;
        return nullptr;
    }
    if (nFields <= kLocal) {
        std::memcpy(pWidths, aLocal, nFields * sizeof(int32_t));
    } else {
        std::size_t k = 0;
        nPrevEnd = 0;
        forEachFieldEnd(szRecord, nLength, [&](std::size_t nEnd) {
            pWidths[k++] = static_cast<int32_t>(nEnd - nPrevEnd);
            nPrevEnd = nEnd;
        });
    }
    if (pnCount != nullptr) *pnCount = static_cast<int32_t>(nFields);
    return pWidths;
}

extern "C" QR_API int32_t QR_CALL SplitRecord(const char* szRecord, char* szBuffer) {
    if (szBuffer == nullptr) return 0;
    if (szRecord == nullptr) {
        szBuffer[0] = '\0';
        return 0;
    }
    const std::size_t nLength = std::strlen(szRecord);
    std::memmove(szBuffer, szRecord, nLength + 1);
    // The first blank after each field becomes a terminator; the next field's string starts with
    // its remaining blanks. The scan reads terminators it has written as blanks, so writing them
    // as it goes changes nothing it has still to classify.
    std::size_t nCount = 0;
    forEachFieldEnd(szBuffer, nLength, [&](std::size_t nEnd) {
        ++nCount;
        if (nEnd < nLength) szBuffer[nEnd] = '\0';
    });
    return qr::clampLength(nCount);
}
