// POSIX backend: the existence test behind IsExistFile and QR_OpenFile, with Win32 wildcard
// matching in the last path component, and the test for names that are patterns.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/posix/wildcard.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"

namespace qr::sys {

namespace {
// The last component of a path (separators are '/' here; the folder part is taken literally).
std::string_view lastComponent(std::string_view sPath) {
    const std::size_t nSlash = sPath.rfind('/');
    return nSlash == std::string_view::npos ? sPath : sPath.substr(nSlash + 1);
}
}  // namespace

bool isWildcardName(const char* szPath) { return szPath != nullptr && hasWildcard(lastComponent(szPath)); }

bool findFile(const char* szPattern) {
    if (const uint32_t nCode = takeFault(Op::Find)) {
        setLastError(nCode);
        return false;
    }
    if (szPattern == nullptr || *szPattern == '\0') {
        setLastError(kErrorNotFound);
        return false;
    }
    const std::string_view sPattern(szPattern);
    const std::size_t nSlash = sPattern.rfind('/');
    const std::string_view sLast = lastComponent(sPattern);
    if (!hasWildcard(sLast)) {
        // A plain name: the entry itself, a dangling symbolic link included.
        struct stat st {};
        if (::lstat(szPattern, &st) != 0) {
            captureLastError();
            return false;
        }
        return true;
    }
    // Only the last component is a pattern; the folder part is taken literally.
    std::string sFolder;
    if (nSlash == std::string_view::npos) sFolder = ".";
    else if (nSlash == 0) sFolder = "/";
    else sFolder.assign(sPattern.substr(0, nSlash));
    DIR* pDir = ::opendir(sFolder.c_str());
    if (pDir == nullptr) {
        captureLastError();
        return false;
    }
    bool bFound = false;
    for (;;) {
        errno = 0;
        const dirent* pEntry = ::readdir(pDir);
        if (pEntry == nullptr) break;
        // "." and ".." name the folder and its parent, not files in it.
        const std::string_view sEntry(pEntry->d_name);
        if (sEntry == "." || sEntry == "..") continue;
        if (matchesWin32Pattern(sEntry, sLast)) {
            bFound = true;
            break;
        }
    }
    const uint32_t nReadError = static_cast<uint32_t>(errno);
    ::closedir(pDir);
    if (!bFound) setLastError(nReadError != 0 ? nReadError : kErrorNotFound);
    return bFound;
}

}  // namespace qr::sys
