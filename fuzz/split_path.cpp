// Fuzzes SplitPath: the first four bytes choose the buffer sizes (0 = no buffer), the rest is
// the path. Buffers are heap blocks of exactly the given size.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qrcore/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 4) return 0;
    uint32_t sizes[4];
    std::unique_ptr<char[]> buffers[4];
    for (int i = 0; i < 4; ++i) {
        sizes[i] = pData[i] % 40u;
        if (sizes[i] > 0) buffers[i] = std::make_unique<char[]>(sizes[i]);
    }
    std::string sPath(reinterpret_cast<const char*>(pData + 4), nSize - 4);
    sPath = sPath.c_str();  // up to the first zero byte
    const int32_t nResult = SplitPath(sPath.c_str(), buffers[0].get(), sizes[0], buffers[1].get(), sizes[1],
                                      buffers[2].get(), sizes[2], buffers[3].get(), sizes[3]);
    if (nResult != 0 && nResult != ERANGE) __builtin_trap();
    std::string sJoined;
    for (int i = 0; i < 4; ++i) {
        if (buffers[i] == nullptr) continue;
        const void* pEnd = std::memchr(buffers[i].get(), '\0', sizes[i]);
        if (pEnd == nullptr) __builtin_trap();  // every given buffer is terminated
        if (nResult != 0 && buffers[i][0] != '\0') __builtin_trap();
        sJoined += buffers[i].get();
    }
    // With every part given and found, the parts put together are the path.
    if (nResult == 0 && sizes[0] && sizes[1] && sizes[2] && sizes[3] && sJoined != sPath) __builtin_trap();
    return 0;
}
