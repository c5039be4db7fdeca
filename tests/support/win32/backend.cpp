// Test support, Windows: what this backend does differently from the others.
#include "support/backend.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <vector>

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
        /*bNameLivesWithViews=*/false,
        /*bExactObjectSize=*/false,
        /*bWine=*/::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr,
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

namespace {
// The system's table of open handles (SystemHandleInformation), one entry per handle.
struct HandleEntry {
    USHORT nProcessId;
    USHORT nCreatorBackTraceIndex;
    UCHAR nObjectTypeIndex;
    UCHAR nHandleAttributes;
    USHORT nHandleValue;
    PVOID pObject;
    ULONG nGrantedAccess;
};
struct HandleTable {
    ULONG nCount;
    HandleEntry entries[1];
};
constexpr int kSystemHandleInformation = 16;
}  // namespace

int openHandles() {
    // Counted in the system's handle table: GetProcessHandleCount is not implemented under Wine.
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ULONG nNeeded = 0;
        const NTSTATUS nStatus = ::NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                                                            buffer.data(), static_cast<ULONG>(buffer.size()), &nNeeded);
        if (nStatus == static_cast<NTSTATUS>(0xC0000004L)) {  // the table grew: a larger buffer
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (nStatus < 0) return -1;
        break;
    }
    const auto* pTable = reinterpret_cast<const HandleTable*>(buffer.data());
    const USHORT nSelf = static_cast<USHORT>(::GetCurrentProcessId());
    int nCount = 0;
    for (ULONG i = 0; i < pTable->nCount; ++i) nCount += pTable->entries[i].nProcessId == nSelf ? 1 : 0;
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
