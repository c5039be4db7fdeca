// Fuzzes RecordFormatAnalyse: the widths must add up to the end of the last field, each column
// must end in a non-blank, and the record must stay unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sRecord(reinterpret_cast<const char*>(pData), nSize);
    sRecord = sRecord.c_str();
    const std::string sBefore = sRecord;
    int32_t nCount = -5;
    int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nCount);
    if (sRecord != sBefore) __builtin_trap();
    const std::size_t nLastEnd = sRecord.find_last_not_of(' ');
    if (pWidths == nullptr) {
        if (sRecord.empty() ? nCount != -5 : nCount != 0) __builtin_trap();
        if (nLastEnd != std::string::npos) __builtin_trap();  // a record with a field has widths
        return 0;
    }
    if (nCount <= 0) __builtin_trap();
    std::size_t nPos = 0;
    for (int32_t k = 0; k < nCount; ++k) {
        if (pWidths[k] <= 0) __builtin_trap();
        nPos += static_cast<std::size_t>(pWidths[k]);
        if (nPos > sRecord.size() || sRecord[nPos - 1] == ' ') __builtin_trap();
        if (nPos < sRecord.size() && sRecord[nPos] != ' ') __builtin_trap();
    }
    if (nPos != nLastEnd + 1) __builtin_trap();
    std::free(pWidths);
    return 0;
}
