// Fuzzes SplitRecord into a buffer of exactly length + 1 bytes: the field count must match the
// count of non-blank runs, and the fields put back together must give the record's fields.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sRecord(reinterpret_cast<const char*>(pData), nSize);
    sRecord = sRecord.c_str();
    auto buffer = std::make_unique<char[]>(sRecord.size() + 1);
    const int32_t nCount = SplitRecord(sRecord.c_str(), buffer.get());

    int32_t nRuns = 0;
    for (std::size_t i = 0; i < sRecord.size(); ++i)
        if (sRecord[i] != ' ' && (i == 0 || sRecord[i - 1] == ' ')) ++nRuns;
    if (nCount != nRuns) __builtin_trap();

    // Each string of the split form is blanks followed by one field, in the record's order.
    std::size_t nOffset = 0, nSearch = 0;
    for (int32_t k = 0; k < nCount; ++k) {
        if (nOffset > sRecord.size()) __builtin_trap();
        const std::string sPart = buffer.get() + nOffset;
        const std::size_t nStart = sPart.find_first_not_of(' ');
        if (nStart == std::string::npos || sPart.find(' ', nStart) != std::string::npos) __builtin_trap();
        const std::size_t nAt = sRecord.find(sPart.substr(nStart), nSearch);
        if (nAt == std::string::npos) __builtin_trap();
        nSearch = nAt + sPart.size() - nStart;
        nOffset += sPart.size() + 1;
    }
    return 0;
}
