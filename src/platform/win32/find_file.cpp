// Win32 backend: the existence test behind IsExistFile and QR_OpenFile, the system's own file
// search with its wildcard rules, and the test for names that are patterns.
#include <cstring>

#include "platform/win32/seam.h"

namespace qr::sys {

namespace {
bool isDotEntry(const char* szName) {
    return std::strcmp(szName, ".") == 0 || std::strcmp(szName, "..") == 0;
}
}  // namespace

bool isWildcardName(const char* szPath) {
    if (szPath == nullptr) return false;
    const char* szLast = szPath;
    for (const char* p = szPath; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') szLast = p + 1;
    return std::strpbrk(szLast, "*?") != nullptr;
}

bool findFile(const char* szPattern) {
    if (win32::faulted(Op::Find)) return false;
    if (szPattern == nullptr || *szPattern == '\0') return win32::fail(ERROR_FILE_NOT_FOUND);
    WIN32_FIND_DATAA data;
    HANDLE hFind = ::FindFirstFileA(szPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return false;  // the search's own code: not found, no path
    // A pattern that matches every name of a folder finds its "." and ".." first: they are the
    // folder itself and its parent, not entries.
    bool bFound = !isWildcardName(szPattern) || !isDotEntry(data.cFileName);
    while (!bFound && ::FindNextFileA(hFind, &data)) bFound = !isDotEntry(data.cFileName);
    ::FindClose(hFind);
    return bFound || win32::fail(ERROR_FILE_NOT_FOUND);
}

}  // namespace qr::sys
