// Fuzzes StringToID on arbitrary text, and the IDToString -> StringToID round trip on arbitrary
// IDs. Buffers are exactly as large as documented, so any overrun is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    // The input up to its first zero byte is the text.
    std::vector<char> text(pData, pData + nSize);
    text.push_back('\0');
    const std::size_t nLength = std::strlen(text.data());
    text.resize(nLength + 1);

    std::vector<char> id(nLength + 1);
    const int32_t n = StringToID(id.data(), text.data());
    if (n < -1 || n > static_cast<int32_t>(nLength)) __builtin_trap();
    if (n >= 0 && id[static_cast<std::size_t>(n)] != '\0') __builtin_trap();

    // The same bytes as an ID: written as text and read back they must survive, unless they
    // hold "(", which the text form cannot carry.
    std::vector<char> written(4 * nLength + 1);
    std::vector<char> original(pData, pData + nSize);
    original.push_back('\0');
    original.resize(nLength + 1);
    const int32_t nWritten = IDToString(written.data(), original.data());
    if (nWritten < 0 || static_cast<std::size_t>(nWritten) != std::strlen(written.data())) __builtin_trap();
    std::vector<char> back(static_cast<std::size_t>(nWritten) + 1);
    const int32_t nBack = StringToID(back.data(), written.data());
    if (std::memchr(original.data(), '(', nLength) == nullptr) {
        if (nBack != static_cast<int32_t>(nLength)) __builtin_trap();
        if (std::memcmp(back.data(), original.data(), nLength) != 0) __builtin_trap();
    }
    return 0;
}
