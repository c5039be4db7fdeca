// Fuzzes StrSymbols: -1 exactly when a byte above 0xA0 is not paired with another, else a
// count between half the length and the length.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sText(reinterpret_cast<const char*>(pData), nSize);
    sText = sText.c_str();
    const int32_t n = StrSymbols(sText.c_str());
    const auto nLength = static_cast<int32_t>(sText.size());
    if (n == -1) return 0;
    if (n < (nLength + 1) / 2 || n > nLength) __builtin_trap();
    return 0;
}
