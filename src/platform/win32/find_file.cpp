// Win32 backend: the existence test behind IsExistFile and QR_OpenFile, the system's own file
// search with its wildcard rules.
#include "platform/win32/seam.h"

namespace qr::sys {

bool findFile(const char* szPattern) {
    if (win32::faulted(Op::Find)) return false;
    if (szPattern == nullptr || *szPattern == '\0') return win32::fail(ERROR_FILE_NOT_FOUND);
    WIN32_FIND_DATAA data;
    HANDLE hFind = ::FindFirstFileA(szPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return false;  // the search's own code: not found, no path
    ::FindClose(hFind);
    return true;
}

}  // namespace qr::sys
