// Fuzzes ReplaceCRLF on a heap copy of exactly the text's size: a true result leaves a blank
// and the terminator where the first CR LF was, and nothing before it changes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sText(reinterpret_cast<const char*>(pData), nSize);
    sText = sText.c_str();
    auto copy = std::make_unique<char[]>(sText.size() + 1);
    std::memcpy(copy.get(), sText.c_str(), sText.size() + 1);
    const bool bFound = ReplaceCRLF(copy.get());
    const std::size_t nPair = sText.find("\r\n");
    const std::size_t nStop = sText.find('\x1A');
    const bool bExpected = nPair != std::string::npos && (nStop == std::string::npos || nStop > nPair);
    if (bFound != bExpected) __builtin_trap();
    if (bFound) {
        if (copy[nPair] != ' ' || copy[nPair + 1] != '\0') __builtin_trap();
        if (std::memcmp(copy.get(), sText.data(), nPair) != 0) __builtin_trap();
    } else if (std::memcmp(copy.get(), sText.c_str(), sText.size() + 1) != 0) {
        __builtin_trap();
    }
    return 0;
}
