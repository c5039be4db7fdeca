// Win32 backend: the system's folder for temporary files and its unique temporary file names.
#include <string>

#include "platform/win32/seam.h"

namespace qr::sys {

std::string tempFolder() {
    // The system's rule: TMP, TEMP, USERPROFILE, then the Windows folder; always ends in '\'.
    // When the system has none (a setting too long for it, for instance), "" with the last error
    // set: no temporary file is made anywhere else.
    std::string sFolder(MAX_PATH + 1, '\0');
    DWORD nLength = ::GetTempPathA(static_cast<DWORD>(sFolder.size()), sFolder.data());
    if (nLength >= sFolder.size()) {
        sFolder.assign(nLength + 1, '\0');
        nLength = ::GetTempPathA(static_cast<DWORD>(sFolder.size()), sFolder.data());
    }
    if (nLength == 0 || nLength >= sFolder.size()) {
        if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_PATH_NOT_FOUND);
        return {};
    }
    sFolder.resize(nLength);
    if (sFolder.back() != '\\' && sFolder.back() != '/') sFolder.push_back('\\');
    return sFolder;
}

std::string makeTempFileName(const char* szFolder, const char* szPrefix) {
    if (win32::faulted(Op::TempName)) return {};
    if (szFolder == nullptr) {
        win32::fail(ERROR_INVALID_PARAMETER);
        return {};
    }
    // With 0 as the unique number the system picks a hexadecimal number not yet taken, from up to
    // three characters of the prefix, and creates the empty file.
    char szPath[MAX_PATH];
    if (::GetTempFileNameA(szFolder, szPrefix != nullptr ? szPrefix : "", 0, szPath) == 0) return {};
    return szPath;
}

}  // namespace qr::sys
