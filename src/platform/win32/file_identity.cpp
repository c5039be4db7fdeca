// Win32 backend: what the journal of an interrupted edit needs of a file beyond reading and
// writing it: its identity (volume serial number and file index), its final path, durable data,
// durable folder entries, an owner-only access list, and who owns a file and may open it.
#include "platform/win32/seam.h"  // <windows.h> first: the headers below build on it

#include "platform/open_request.h"

#include <aclapi.h>
#include <sddl.h>

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

// Who may have written a file: owner, access list, kind and names.
namespace qr::sys {

namespace {
// A protected access list with one entry, full control for the owner new files of this process
// get (the token's default owner), kept in *pStorage.
ACL* ownerOnlyAcl(std::unique_ptr<unsigned char[]>* pStorage) {
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return nullptr;
    DWORD nSize = 0;
    ::GetTokenInformation(hToken, TokenOwner, nullptr, 0, &nSize);
    std::unique_ptr<unsigned char[]> pOwner(new unsigned char[nSize != 0 ? nSize : 1]);
    const bool bOwner = nSize != 0 && ::GetTokenInformation(hToken, TokenOwner, pOwner.get(), nSize, &nSize) != FALSE;
    win32::closeQuietly(hToken);
    if (!bOwner) return nullptr;
    PSID pSid = reinterpret_cast<TOKEN_OWNER*>(pOwner.get())->Owner;
    const DWORD nAclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(pSid);
    pStorage->reset(new unsigned char[nAclSize]);
    auto* pAcl = reinterpret_cast<ACL*>(pStorage->get());
    if (!::InitializeAcl(pAcl, nAclSize, ACL_REVISION) || !::AddAccessAllowedAce(pAcl, ACL_REVISION, FILE_ALL_ACCESS, pSid))
        return nullptr;
    return pAcl;
}

std::string sidText(PSID pSid) {
    char* szSid = nullptr;
    if (!::ConvertSidToStringSidA(pSid, &szSid)) return {};
    std::string sSid(szSid);
    ::LocalFree(szSid);
    return sSid;
}

bool ownershipOf(HANDLE h, FileOwnership* pOwnership) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return false;
    PSID pOwner = nullptr;
    ACL* pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    const DWORD nResult = ::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &pOwner, nullptr, &pDacl, nullptr, &pDescriptor);
    if (nResult != ERROR_SUCCESS) return fail(nResult);
    FileOwnership ownership;
    ownership.sOwner = sidText(pOwner);
    ownership.bRegular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                         ::GetFileType(h) == FILE_TYPE_DISK;
    ownership.nLinks = info.nNumberOfLinks;
    // No list at all lets everyone in; otherwise every entry that allows must be the owner's, or
    // the system's or the administrators' (who may open any file anyway).
    ownership.bOwnerOnly = pDacl != nullptr;
    for (DWORD i = 0; pDacl != nullptr && i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!::GetAce(pDacl, i, &pAce)) {
            ownership.bOwnerOnly = false;
            break;
        }
        const auto* pHeader = static_cast<ACE_HEADER*>(pAce);
        if (pHeader->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        PSID pAceSid = pHeader->AceType == ACCESS_ALLOWED_ACE_TYPE ? &static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart : nullptr;
        if (pAceSid == nullptr || (!::EqualSid(pAceSid, pOwner) && !::IsWellKnownSid(pAceSid, WinLocalSystemSid) &&
                                   !::IsWellKnownSid(pAceSid, WinBuiltinAdministratorsSid))) {
            ownership.bOwnerOnly = false;
            break;
        }
    }
    ::LocalFree(pDescriptor);
    *pOwnership = ownership;
    return true;
}
}  // namespace

void* createPrivateFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition) {
    if (faulted(Op::Open)) return kInvalidHandle;
    if (const uint32_t nRefused = openRequestError(szPath, nAccess, nDisposition)) return fail(nRefused), kInvalidHandle;
    if (nDisposition == kCreateAlways || nDisposition == kTruncateExisting) return fail(ERROR_INVALID_PARAMETER), kInvalidHandle;
    std::unique_ptr<unsigned char[]> pAclBytes;
    ACL* pAcl = ownerOnlyAcl(&pAclBytes);
    if (pAcl == nullptr) return kInvalidHandle;
    SECURITY_DESCRIPTOR descriptor{};
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, pAcl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return kInvalidHandle;
    SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};
    // A reparse point is opened itself, never followed; the handle asks to read the access list
    // and to delete the file (deleteOpenFile).
    HANDLE h = ::CreateFileA(szPath, nAccess | READ_CONTROL | DELETE, nShare & (kShareRead | kShareWrite), &security, nDisposition,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A folder cannot be opened as a file: someone else's object at the name.
        const DWORD nError = ::GetLastError();
        const DWORD nAttributes = ::GetFileAttributesA(szPath);
        if (nAttributes != INVALID_FILE_ATTRIBUTES && (nAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return fail(kErrorJournalNotOurs), kInvalidHandle;
        return fail(nError), kInvalidHandle;
    }
    FileOwnership ownership;
    if (!ownershipOf(h, &ownership)) {
        win32::closeQuietly(h);
        return kInvalidHandle;
    }
    if (!ownership.bRegular) {  // a link, a pipe or a device
        ::CloseHandle(h);
        return fail(kErrorJournalNotOurs), kInvalidHandle;
    }
    return h;
}

bool fileOwnership(void* hFile, FileOwnership* pOwnership) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::Size)) return false;
    return ownershipOf(systemHandle(hFile), pOwnership);
}

bool pathOwnership(const char* szPath, FileOwnership* pOwnership) {
    if (szPath == nullptr) return fail(ERROR_INVALID_PARAMETER);
    HANDLE h = ::CreateFileA(szPath, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool bOk = ownershipOf(h, pOwnership);
    win32::closeQuietly(h);
    return bOk;
}

bool deleteOpenFile(void* hFile, const char* szPath) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    if (faulted(Op::Delete)) return false;
    if (szPath == nullptr) return fail(ERROR_INVALID_PARAMETER);
    // The handle itself is marked: the name goes when it is closed, and it is the handle's file
    // whatever the name leads to meanwhile.
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(systemHandle(hFile), FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    return false;
}

std::string processOwner() {
    HANDLE hToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return {};
    DWORD nSize = 0;
    ::GetTokenInformation(hToken, TokenOwner, nullptr, 0, &nSize);
    std::unique_ptr<unsigned char[]> pOwner(new unsigned char[nSize != 0 ? nSize : 1]);
    const bool bOwner = nSize != 0 && ::GetTokenInformation(hToken, TokenOwner, pOwner.get(), nSize, &nSize) != FALSE;
    win32::closeQuietly(hToken);
    return bOwner ? sidText(reinterpret_cast<TOKEN_OWNER*>(pOwner.get())->Owner) : std::string();
}

bool giveFileTo(void* hFile, const std::string& sOwner) {
    if (!isValidHandle(hFile)) return fail(ERROR_INVALID_HANDLE);
    FileOwnership ownership;
    if (!ownershipOf(systemHandle(hFile), &ownership)) return false;
    if (ownership.sOwner == sOwner) return true;
    if (faulted(Op::Open)) return false;
    PSID pSid = nullptr;
    if (!::ConvertStringSidToSidA(sOwner.c_str(), &pSid)) return false;
    // Through the name, as restrictToOwner: the handle holds no right to change the owner.
    std::string sPath = systemFinalPath(systemHandle(hFile));
    DWORD nResult = sPath.empty() ? ::GetLastError()
                                  : ::SetNamedSecurityInfoA(sPath.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                            pSid, nullptr, nullptr, nullptr);
    ::LocalFree(pSid);
    if (nResult == ERROR_INVALID_OWNER || nResult == ERROR_PRIVILEGE_NOT_HELD) nResult = ERROR_ACCESS_DENIED;
    return nResult == ERROR_SUCCESS || fail(nResult);
}

// No marks that travel with a file are kept here (see sys_files.h).
bool setFileMark(void*, const char*, const std::string&, bool) { return fail(ERROR_NOT_SUPPORTED); }
bool fileMark(const char*, const char*, std::string*, bool* pbFound) {
    if (pbFound != nullptr) *pbFound = false;
    return fail(ERROR_NOT_SUPPORTED);
}
bool fileMarkOf(void*, const char*, std::string*, bool* pbFound) {
    if (pbFound != nullptr) *pbFound = false;
    return fail(ERROR_NOT_SUPPORTED);
}
bool removeFileMark(void*, const char*) { return fail(ERROR_NOT_SUPPORTED); }

}  // namespace qr::sys
