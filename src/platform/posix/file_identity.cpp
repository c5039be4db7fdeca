// POSIX backend: which file a handle or path reaches (device, inode, generation; the resolved
// full path), data and folder flushes, and restricting a new file to its owner.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/posix/file_handle.h"
#include "platform/posix/interrupted.h"
#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_files.h"

namespace qr::sys {

namespace {
// fstat of a descriptor the caller holds through its HandleRef; false with the system's error.
bool statDescriptor(int nFd, struct stat& st) {
    if (::fstat(nFd, &st) == 0) return true;
    captureLastError();
    return false;
}
bool faulted(Op op) {
    if (const uint32_t nCode = takeFault(op)) {
        setLastError(nCode);
        return true;
    }
    return false;
}
}  // namespace

bool fileIdentity(void* hFile, FileIdentity* pIdentity) {
    // Held to the end: the descriptor cannot be closed and given to another file meanwhile.
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::Size)) return false;
    struct stat st {};
    if (!statDescriptor(nFd, st)) return false;
    FileIdentity identity;
    identity.nVolume = static_cast<uint64_t>(st.st_dev);
    identity.nIndex = static_cast<uint64_t>(st.st_ino);
    // Inode numbers are reused after a delete; the generation (ext4, XFS, btrfs) tells the new
    // file from the old one. File systems without it leave 0.
    int nGeneration = 0;
    if (::ioctl(nFd, FS_IOC_GETVERSION, &nGeneration) == 0)
        identity.nGeneration = static_cast<uint32_t>(nGeneration);
    if (pIdentity != nullptr) *pIdentity = identity;
    return true;
}

std::string finalPath(const char* szPath) {
    if (faulted(Op::Path)) return {};
    if (szPath == nullptr) {
        setLastError(kErrorInvalidArgument);
        return {};
    }
    char* szResolved = ::realpath(szPath, nullptr);
    if (szResolved == nullptr) {
        captureLastError();
        return {};
    }
    std::string sPath(szResolved);
    std::free(szResolved);
    return sPath;
}

std::string finalPathOf(void* hFile) {
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return {};
    const int nFd = handle->nFd;
    if (faulted(Op::Path)) return {};
    struct stat st {};
    if (!statDescriptor(nFd, st)) return {};
    if (st.st_nlink == 0) {  // deleted while open: no name leads to it any more
        setLastError(kErrorNotFound);
        return {};
    }
    // The kernel's name of the open file, which follows renames.
    const std::string sLink = "/proc/self/fd/" + std::to_string(nFd);
    std::string sPath(PATH_MAX, '\0');
    const ssize_t n = ::readlink(sLink.c_str(), sPath.data(), sPath.size());
    if (n < 0) {
        captureLastError();
        return {};
    }
    if (static_cast<std::size_t>(n) >= sPath.size() || sPath[0] != '/') {
        setLastError(kErrorNameTooLong);
        return {};
    }
    sPath.resize(static_cast<std::size_t>(n));
    return sPath;
}

bool restrictToOwner(void* hFile) {
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::Open)) return false;
    if (retryInterrupted([&] { return ::fchmod(nFd, S_IRUSR | S_IWUSR); }) != 0) {
        captureLastError();
        return false;
    }
    return true;
}

bool startWriteBack(void* hFile, int64_t llPos, int64_t llLength) {
    const HandleRef handle = lookupHandle(hFile);
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::WriteBack)) return false;
    if (::sync_file_range(nFd, static_cast<off_t>(llPos), static_cast<off_t>(llLength), SYNC_FILE_RANGE_WRITE) != 0) {
        captureLastError();
        return false;
    }
    return true;
}

bool flushFolder(const char* szFolder) {
    if (faulted(Op::Flush)) return false;
    if (szFolder == nullptr) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    const int nFd = retryInterrupted([&] { return ::open(szFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (nFd < 0) {
        captureLastError();
        return false;
    }
    // Some file systems keep folder entries durable by themselves and refuse to flush a folder.
    const bool bOk = retryInterrupted([&] { return ::fsync(nFd); }) == 0 || errno == EINVAL;
    if (!bOk) captureLastError();
    ::close(nFd);
    return bOk;
}

}  // namespace qr::sys

namespace qr::sys {

namespace {
FileOwnership ownershipOf(const struct stat& st) {
    FileOwnership ownership;
    ownership.sOwner = std::to_string(st.st_uid);
    ownership.bRegular = S_ISREG(st.st_mode);
    ownership.bOwnerOnly = (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    ownership.nLinks = static_cast<uint32_t>(st.st_nlink);
    return ownership;
}
}  // namespace

bool fileOwnership(void* hFile, FileOwnership* pOwnership) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::Size)) return false;
    struct stat st {};
    if (!statDescriptor(nFd, st)) return false;
    *pOwnership = ownershipOf(st);
    return true;
}

bool pathOwnership(const char* szPath, FileOwnership* pOwnership) {
    struct stat st {};
    if (szPath == nullptr || ::lstat(szPath, &st) != 0) {
        if (szPath == nullptr) setLastError(kErrorInvalidArgument);
        else captureLastError();
        return false;
    }
    *pOwnership = ownershipOf(st);
    return true;
}

bool deleteOpenFile(void* hFile, const char* szPath) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::Delete)) return false;
    if (szPath == nullptr) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    struct stat stOpen {};
    struct stat stName {};
    if (!statDescriptor(nFd, stOpen)) return false;
    if (::lstat(szPath, &stName) != 0 || stName.st_dev != stOpen.st_dev || stName.st_ino != stOpen.st_ino) {
        setLastError(kErrorNotFound);
        return false;
    }
    if (::unlink(szPath) != 0) {
        captureLastError();
        return false;
    }
    return true;
}

std::string processOwner() { return std::to_string(::geteuid()); }

bool giveFileTo(void* hFile, const std::string& sOwner) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    struct stat st {};
    if (!statDescriptor(nFd, st)) return false;
    if (std::to_string(st.st_uid) == sOwner) return true;
    if (faulted(Op::Open)) return false;
    char* pEnd = nullptr;
    const unsigned long nOwner = std::strtoul(sOwner.c_str(), &pEnd, 10);
    if (sOwner.empty() || *pEnd != '\0') {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    if (retryInterrupted([&] { return ::fchown(nFd, static_cast<uid_t>(nOwner), static_cast<gid_t>(-1)); }) != 0) {
        if (captureLastError() == EPERM) setLastError(kErrorAccessDenied);
        return false;
    }
    return true;
}

namespace {
constexpr std::size_t kMaxMark = 8192;  // a nonce and a full path

std::string markName(const char* szName) { return std::string("user.") + (szName != nullptr ? szName : ""); }

// A file system without extended attributes (or without the user's) says ENOTSUP or EOPNOTSUPP.
void captureMarkError() {
    const uint32_t nError = captureLastError();
    if (nError == ENOTSUP || nError == EOPNOTSUPP) setLastError(kErrorNotSupported);
}

// The value read by fnGet into a buffer; *pbFound false for ENODATA.
template <typename Get>
bool readMark(Get fnGet, std::string* pValue, bool* pbFound) {
    std::string sValue(kMaxMark, '\0');
    const ssize_t n = fnGet(sValue.data(), sValue.size());
    *pbFound = n >= 0;
    if (n < 0) {
        if (errno == ENODATA) return true;
        captureMarkError();
        return false;
    }
    sValue.resize(static_cast<std::size_t>(n));
    if (pValue != nullptr) *pValue = sValue;
    return true;
}
}  // namespace

bool setFileMark(void* hFile, const char* szName, const std::string& sValue, bool bNew) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (faulted(Op::Write)) return false;
    if (::fsetxattr(nFd, markName(szName).c_str(), sValue.data(), sValue.size(), bNew ? XATTR_CREATE : 0) != 0) {
        captureMarkError();
        return false;
    }
    return true;
}

bool fileMark(const char* szPath, const char* szName, std::string* pValue, bool* pbFound) {
    if (szPath == nullptr) {
        setLastError(kErrorInvalidArgument);
        return false;
    }
    const std::string sName = markName(szName);
    return readMark([&](char* p, std::size_t n) { return ::getxattr(szPath, sName.c_str(), p, n); }, pValue, pbFound);
}

bool fileMarkOf(void* hFile, const char* szName, std::string* pValue, bool* pbFound) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    const std::string sName = markName(szName);
    return readMark([&](char* p, std::size_t n) { return ::fgetxattr(nFd, sName.c_str(), p, n); }, pValue, pbFound);
}

bool removeFileMark(void* hFile, const char* szName) {
    const HandleRef handle = lookupHandle(hFile);  // held while its descriptor is used
    if (!handle) return false;
    const int nFd = handle->nFd;
    if (::fremovexattr(nFd, markName(szName).c_str()) != 0 && errno != ENODATA) {
        captureMarkError();
        return false;
    }
    return true;
}

}  // namespace qr::sys
