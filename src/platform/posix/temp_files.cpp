// POSIX backend: the folder for temporary files and unique temporary file names.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/interrupted.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"
#include "platform/sys_process.h"

namespace qr::sys {

namespace {
// Numbers 1 to 0xFFFF, as many as the Win32 scheme has names per prefix and folder.
constexpr uint32_t kNumberRange = 0xFFFF;

// The first up to three bytes of szPrefix, never ending inside a UTF-8 sequence.
std::string shortPrefix(const char* szPrefix) {
    std::string sPrefix;
    if (szPrefix == nullptr) return sPrefix;
    for (std::size_t i = 0; i < 3 && szPrefix[i] != '\0'; ++i) sPrefix.push_back(szPrefix[i]);
    std::size_t nKeep = sPrefix.size();
    // Walk back over continuation bytes; drop a lead byte whose sequence does not fit.
    std::size_t nStart = nKeep;
    while (nStart > 0 && (static_cast<unsigned char>(sPrefix[nStart - 1]) & 0xC0) == 0x80) --nStart;
    if (nStart > 0) {
        const auto cLead = static_cast<unsigned char>(sPrefix[nStart - 1]);
        std::size_t nNeed = 1;
        if ((cLead & 0xE0) == 0xC0) nNeed = 2;
        else if ((cLead & 0xF0) == 0xE0) nNeed = 3;
        else if ((cLead & 0xF8) == 0xF0) nNeed = 4;
        if (cLead >= 0x80 && nKeep - (nStart - 1) < nNeed) nKeep = nStart - 1;
    }
    sPrefix.resize(nKeep);
    return sPrefix;
}
}  // namespace

std::string tempFolder() {
    const char* szDir = std::getenv("TMPDIR");
    std::string sFolder = (szDir != nullptr && *szDir != '\0') ? szDir : "/tmp";
    if (sFolder.back() != '/') sFolder.push_back('/');
    return sFolder;
}

std::string makeTempFileName(const char* szFolder, const char* szPrefix) {
    if (const uint32_t nCode = takeFault(Op::TempName)) {
        setLastError(nCode);
        return {};
    }
    const std::string sPrefix = shortPrefix(szPrefix);
    if (szFolder == nullptr || sPrefix.find('/') != std::string::npos) {
        setLastError(kErrorInvalidArgument);
        return {};
    }
    std::string sBase = szFolder;
    if (!sBase.empty() && sBase.back() != '/') sBase.push_back('/');
    sBase += sPrefix;

    uint32_t nNumber = randomBelow(kNumberRange) + 1;
    for (uint32_t nTry = 0; nTry < kNumberRange; ++nTry) {
        char szNumber[16];
        std::snprintf(szNumber, sizeof szNumber, "%X", nNumber);
        std::string sPath = sBase + szNumber + ".tmp";
        const int nFd =
            retryInterrupted([&] { return ::open(sPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600); });
        if (nFd >= 0) {
            ::close(nFd);
            return sPath;
        }
        if (errno != EEXIST) {
            captureLastError();
            return {};
        }
        nNumber = nNumber % kNumberRange + 1;
    }
    setLastError(EEXIST);
    return {};
}

}  // namespace qr::sys
