// Test support, Windows: what this backend does differently from the others.
#include "support/backend.h"

#include <windows.h>

#include <cstring>

namespace qrtest {

const Backend& backend() {
    static const Backend s_backend{
        "win32",
        /*bNamesCaseSensitive=*/false,
        /*bHandlesNeverReused=*/false,
        /*bRangeEdits=*/false,
        /*nNegativeSeekError=*/ERROR_NEGATIVE_SEEK,
        /*nFileExistsError=*/ERROR_FILE_EXISTS,
        /*bLongPaths=*/false,
        /*bExactObjectSize=*/false,
        /*bNameLivesWithViews=*/false,
        /*bLibraryBesideProgram=*/true,
        /*bWine=*/::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr,
        /*bFork=*/false,
    };
    return s_backend;
}

int64_t allocatedBytes(const std::string& sPath) {
    // The allocation size of the file's data, which leaves out the holes of a sparse file.
    HANDLE hFile = ::CreateFileA(sPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return -1;
    FILE_STANDARD_INFO info{};
    const BOOL bOk = ::GetFileInformationByHandleEx(hFile, FileStandardInfo, &info, sizeof info);
    ::CloseHandle(hFile);
    return bOk ? static_cast<int64_t>(info.AllocationSize.QuadPart) : -1;
}

int openHandles() {
    // The handle values of the process tried one by one (the system gives out the lowest free
    // multiple of 4): GetProcessHandleCount is not implemented under Wine, and the system-wide
    // handle table is too much for Wine's server while processes come and go.
    // The system opens its folder of named objects once, at the first named-object call of the
    // process, and keeps it; the library asks for named objects on file operations too (whether a
    // file is mapped), so the folder is opened here first and counted in every count alike.
    static const bool s_bObjectFolderOpen = [] {
        const DWORD nSaved = ::GetLastError();
        HANDLE h = ::OpenEventA(SYNCHRONIZE, FALSE, "qrtest.no-such-object");
        if (h != nullptr) ::CloseHandle(h);
        ::SetLastError(nSaved);
        return true;
    }();
    (void)s_bObjectFolderOpen;
    int nCount = 0;
    for (uintptr_t nValue = 4; nValue < 8192; nValue += 4) {
        DWORD nFlags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(nValue), &nFlags)) ++nCount;
    }
    return nCount;
}

TempFolderOverride::TempFolderOverride(const std::string& sFolder) {
    char szOld[32768];
    const DWORD n = ::GetEnvironmentVariableA("TMP", szOld, sizeof szOld);
    if (n > 0 && n < sizeof szOld) {
        m_bHadOld = true;
        m_sOld.assign(szOld, n);
    }
    set(sFolder);
}

TempFolderOverride::~TempFolderOverride() { ::SetEnvironmentVariableA("TMP", m_bHadOld ? m_sOld.c_str() : nullptr); }

void TempFolderOverride::set(const std::string& sFolder) { ::SetEnvironmentVariableA("TMP", sFolder.c_str()); }

std::string systemText(const char* szUtf8) {
    const int nWide = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szUtf8, -1, nullptr, 0);
    std::wstring sWide(static_cast<std::size_t>(nWide > 0 ? nWide : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szUtf8, -1, sWide.data(), nWide);
    const int nBytes = ::WideCharToMultiByte(936, 0, sWide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string sText(static_cast<std::size_t>(nBytes > 0 ? nBytes : 1), '\0');
    ::WideCharToMultiByte(936, 0, sWide.c_str(), -1, sText.data(), nBytes, nullptr, nullptr);
    sText.resize(std::strlen(sText.c_str()));
    return sText;
}

}  // namespace qrtest
