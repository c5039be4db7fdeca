// Utilities: records of blank-separated fields: their column widths and their split form.
#include <cstring>

#include "platform/sys_memory.h"
#include "qrcore/util.h"
#include "util/text_length.h"

namespace {

// Calls onField(nEnd) with the position just after each field of szRecord, in order.
template <typename OnField>
void forEachFieldEnd(const char* szRecord, OnField onField) {
    std::size_t i = 0;
    for (;;) {
        while (szRecord[i] == ' ') ++i;
        if (szRecord[i] == '\0') return;
        while (szRecord[i] != ' ' && szRecord[i] != '\0') ++i;
        onField(i);
    }
}

}  // namespace

extern "C" QR_API int32_t* QR_CALL RecordFormatAnalyse(const char* szRecord, int32_t* pnCount) {
    if (szRecord == nullptr || szRecord[0] == '\0') return nullptr;
    std::size_t nFields = 0;
    forEachFieldEnd(szRecord, [&](std::size_t) { ++nFields; });
    // Widths are int32_t: a record too long for them gets no analysis rather than wrong widths.
    if (nFields == 0 || std::strlen(szRecord) > static_cast<std::size_t>(INT32_MAX)) {
        if (pnCount != nullptr) *pnCount = 0;
        return nullptr;
    }
    // From the C heap (through the fault seam): the caller releases the array with free().
    auto* pWidths = static_cast<int32_t*>(qr::sys::memAlloc(nFields * sizeof(int32_t)));
    if (pWidths == nullptr) {
        if (pnCount != nullptr) *pnCount = 0;
        return nullptr;
    }
    // Each column runs from just after the previous field to the end of its own field.
    std::size_t k = 0;
    std::size_t nPrevEnd = 0;
    forEachFieldEnd(szRecord, [&](std::size_t nEnd) {
        pWidths[k++] = static_cast<int32_t>(nEnd - nPrevEnd);
        nPrevEnd = nEnd;
    });
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
    std::size_t nCount = 0;
    std::size_t i = 0;
    for (;;) {
        while (szBuffer[i] == ' ') ++i;
        if (szBuffer[i] == '\0') break;  // trailing blanks give no field
        while (szBuffer[i] != ' ' && szBuffer[i] != '\0') ++i;
        ++nCount;
        if (szBuffer[i] == '\0') break;
        szBuffer[i++] = '\0';  // the next field's string starts with its remaining blanks
    }
    return qr::clampLength(nCount);
}
