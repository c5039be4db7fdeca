// Win32 backend: what the journal of an interrupted edit needs of a file beyond reading and
// writing it: its identity (volume serial number and file index), its final path, durable data,
// durable folder entries, and an owner-only access list.
#include "platform/win32/seam.h"  // <windows.h> first: the headers below build on it

#include <aclapi.h>

#include <memory>
#include <string>

namespace qr::sys {

using win32::fail;
using win32::faulted;
using win32::systemHandle;

bool fileIdentity(void* hFile, FileIdentity* pIdentity) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::Size)) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(systemHandle(hFile), &info)) return false;
    if (pIdentity != nullptr) {
        pIdentity->nVolume = info.dwVolumeSerialNumber;
        pIdentity->nIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        pIdentity->nGeneration = 0;  // file indexes are not reused while the volume lives
    }
    return true;
}

namespace {
// The path the system resolves hFile to, in the ordinary form; "" with the last error set.
std::string systemFinalPath(HANDLE hFile) {
    std::string sPath(MAX_PATH, '\0');
    for (;;) {
        const DWORD nLength =
            ::GetFinalPathNameByHandleA(hFile, sPath.data(), static_cast<DWORD>(sPath.size()), FILE_NAME_NORMALIZED);
        if (nLength == 0) return {};
        if (nLength < sPath.size()) {
            sPath.resize(nLength);
            break;
        }
        sPath.resize(nLength + 1);  // the length the system needs, its terminator included
    }
    // The system writes the long-path form ("\\?\C:\..."; "\\?\UNC\server\..." for a share);
    // the callers compare and print the ordinary form.
    if (sPath.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + sPath.substr(7);
    if (sPath.rfind("\\\\?\\", 0) == 0) return sPath.substr(4);
    return sPath;
}
}  // namespace

std::string finalPathOf(void* hFile) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE), std::string();
    if (faulted(Op::Path)) return {};
    return systemFinalPath(systemHandle(hFile));
}

std::string finalPath(const char* szPath) {
    if (szPath == nullptr || *szPath == '\0') return fail(ERROR_FILE_NOT_FOUND), std::string();
    if (faulted(Op::Path)) return {};
    // No access asked: the name is resolved whatever the sharing of other opens; backup
    // semantics so that a folder resolves too.
    HANDLE h = ::CreateFileA(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string sPath = systemFinalPath(h);
    win32::closeQuietly(h);
    return sPath;
}

bool flushFileData(void* hFile) {
    // The system has one flush, of data and metadata alike.
    return flushFileBuffers(hFile);
}

bool startWriteBack(void* hFile, int64_t, int64_t) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::WriteBack)) return false;
    return true;  // no such call: the later flush writes everything
}

bool flushFolder(const char* szFolder) {
    if (faulted(Op::Flush)) return false;
    if (szFolder == nullptr) return fail(ERROR_INVALID_PARAMETER);
    // The file systems keep their folder entries durable themselves (a journal of their own); the
    // folder is only checked.
    const DWORD nAttributes = ::GetFileAttributesA(szFolder);
    if (nAttributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((nAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return fail(ERROR_DIRECTORY);
    return true;
}

bool restrictToOwner(void* hFile) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::Open)) return false;
    // A protected access list with one entry: full control for the user the process runs as. The
    // entries the folder would pass on are not inherited.
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    DWORD nSize = 0;
    ::GetTokenInformation(hToken, TokenUser, nullptr, 0, &nSize);
    std::unique_ptr<unsigned char[]> pUser(new unsigned char[nSize != 0 ? nSize : 1]);
    const bool bUser = nSize != 0 && ::GetTokenInformation(hToken, TokenUser, pUser.get(), nSize, &nSize) != FALSE;
    win32::closeQuietly(hToken);
    if (!bUser) return false;
    PSID pSid = reinterpret_cast<TOKEN_USER*>(pUser.get())->User.Sid;
    const DWORD nAclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(pSid);
    std::unique_ptr<unsigned char[]> pAclBytes(new unsigned char[nAclSize]);
    auto* pAcl = reinterpret_cast<ACL*>(pAclBytes.get());
    if (!::InitializeAcl(pAcl, nAclSize, ACL_REVISION) ||
        !::AddAccessAllowedAce(pAcl, ACL_REVISION, FILE_ALL_ACCESS, pSid))
        return false;
    // Through the name: the caller's handle holds data access only, not the right to change the
    // access list (which the owner has without asking for it by handle).
    std::string sPath = systemFinalPath(systemHandle(hFile));
    if (sPath.empty()) return false;
    const DWORD nResult = ::SetNamedSecurityInfoA(sPath.data(), SE_FILE_OBJECT,
                                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                  nullptr, nullptr, pAcl, nullptr);
    if (nResult == ERROR_SUCCESS) return true;
    // A file system without access lists (FAT, some network shares) has nothing to restrict.
    if (nResult == ERROR_NOT_SUPPORTED || nResult == ERROR_INVALID_FUNCTION) return true;
    return fail(nResult);
}

}  // namespace qr::sys
