// POSIX backend: named mapping objects under /dev/shm. Publication, lifetime and clean-up are
// built on three facts: a linked name always carries a complete header, every live user holds a
// shared flock, and so an exclusive flock that succeeds proves a name is a leftover. A creator
// that still has work to do once the name is its own (growing the mapped file) holds a lock on
// the header's first byte until it is done, and openers wait for that lock before they trust
// the object.
#include "platform/posix/shm_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qr::sys::posix {

namespace {

constexpr char kMagic[8] = {'Q', 'R', 'M', 'A', 'P', 'O', 'B', '2'};
constexpr uint32_t kFlagAppendNull = 1;

// The header as stored at the start of every object file (native byte order: the objects never
// leave the machine).
struct RawHeader {
    char szMagic[8];
    uint32_t nKind;
    uint32_t nProtect;
    int64_t llSize;
    uint64_t nDevice;
    uint64_t nInode;
    uint32_t nNameLength;
    uint32_t nPathLength;
    uint32_t nFlags;
    char szName[kMaxObjectName + 1];
    char szPath[4096];
};
static_assert(sizeof(RawHeader) <= static_cast<std::size_t>(kHeaderBytes));

// A name whose encoding is longer than this is hashed, so that prefix and encoding stay well
// inside the 255 bytes a file name may have.
constexpr std::size_t kMaxEncoded = 200;

uint64_t fnv1a(const std::string& s, uint64_t nHash) {
    for (char ch : s) {
        nHash ^= static_cast<unsigned char>(ch);
        nHash *= 0x100000001b3ull;
    }
    return nHash;
}

bool retryable(int nErr) { return nErr == EINTR; }

bool lockShared(int fd) {
    while (::flock(fd, LOCK_SH) != 0)
        if (!retryable(errno)) return false;
    return true;
}

// The creator's lock: an open file description lock on the header's first byte, independent of
// the flock. nType F_WRLCK (the creator takes it before linking), F_UNLCK (it is done), or F_RDLCK
// with bWait (an opener waits until no creator holds it).
bool creatorLock(int fd, short nType, bool bWait) {
    struct flock lock {};
    lock.l_type = nType;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    while (::fcntl(fd, bWait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0)
        if (!retryable(errno)) return false;
    return true;
}

// Waits until the creator of fd's object has completed it.
bool waitForCreator(int fd) { return creatorLock(fd, F_RDLCK, true) && creatorLock(fd, F_UNLCK, false); }

// True when sPath names the file open as fd.
bool sameFile(const std::string& sPath, int fd) {
    struct stat stPath{}, stFd{};
    if (::stat(sPath.c_str(), &stPath) != 0 || ::fstat(fd, &stFd) != 0) return false;
    return stPath.st_dev == stFd.st_dev && stPath.st_ino == stFd.st_ino;
}

// Removes sPath if it still names fd's file. Called only while no one else can remove or replace
// the name: holding fd's exclusive lock, or as its creator, whose shared lock keeps everyone else
// from the exclusive one (removing or replacing a name needs that lock or an absent name).
void unlinkIfSame(const std::string& sPath, int fd) {
    if (sameFile(sPath, fd)) ::unlink(sPath.c_str());
}

bool readHeader(int fd, const std::string& sName, ObjectInfo& info) {
    RawHeader header{};
    const ssize_t n = ::pread(fd, &header, sizeof header, 0);
    if (n != static_cast<ssize_t>(sizeof header) || std::memcmp(header.szMagic, kMagic, sizeof kMagic) != 0 ||
        header.nNameLength > kMaxObjectName || header.nPathLength >= sizeof header.szPath ||
        (header.nFlags & ~kFlagAppendNull) != 0 ||
        sName.size() != header.nNameLength || std::memcmp(header.szName, sName.data(), sName.size()) != 0 ||
        (header.nKind != static_cast<uint32_t>(ObjectKind::PageFile) &&
         header.nKind != static_cast<uint32_t>(ObjectKind::File)) ||
        header.llSize <= 0) {
        errno = EINVAL;
        return false;
    }
    info.kind = static_cast<ObjectKind>(header.nKind);
    info.nProtect = header.nProtect;
    info.llSize = header.llSize;
    info.nDevice = header.nDevice;
    info.nInode = header.nInode;
    info.sFilePath.assign(header.szPath, header.nPathLength);
    info.bAppendNull = (header.nFlags & kFlagAppendNull) != 0;
    return true;
}

bool writeHeader(int fd, const std::string& sName, const ObjectInfo& info) {
    RawHeader header{};
    if (sName.size() > kMaxObjectName || info.sFilePath.size() >= sizeof header.szPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(header.szMagic, kMagic, sizeof kMagic);
    header.nKind = static_cast<uint32_t>(info.kind);
    header.nProtect = info.nProtect;
    header.llSize = info.llSize;
    header.nDevice = info.nDevice;
    header.nInode = info.nInode;
    header.nNameLength = static_cast<uint32_t>(sName.size());
    header.nPathLength = static_cast<uint32_t>(info.sFilePath.size());
    header.nFlags = info.bAppendNull ? kFlagAppendNull : 0;
    std::memcpy(header.szName, sName.data(), sName.size());
    std::memcpy(header.szPath, info.sFilePath.data(), info.sFilePath.size());
    const char* p = reinterpret_cast<const char*>(&header);
    std::size_t nDone = 0;
    while (nDone < sizeof header) {
        const ssize_t n = ::pwrite(fd, p + nDone, sizeof header - nDone, static_cast<off_t>(nDone));
        if (n < 0 && retryable(errno)) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        nDone += static_cast<std::size_t>(n);
    }
    return true;
}

// Gives the unnamed file fd the name sPath; EEXIST when the name is taken.
bool linkName(int fd, const std::string& sPath) {
    char szProc[64];
    std::snprintf(szProc, sizeof szProc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, szProc, AT_FDCWD, sPath.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    // Without /proc: the same through the descriptor itself (needs a privilege on most systems).
    return ::linkat(fd, "", AT_FDCWD, sPath.c_str(), AT_EMPTY_PATH) == 0;
}

void closeKeepingErrno(int fd) {
    const int nSaved = errno;
    ::close(fd);
    errno = nSaved;
}

}  // namespace

std::string encodeObjectName(const std::string& sName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string sEncoded;
    for (char ch : sName) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
            sEncoded.push_back(static_cast<char>(c));
        } else {
            sEncoded.push_back('%');
            sEncoded.push_back(kHex[c >> 4]);
            sEncoded.push_back(kHex[c & 15]);
        }
    }
    if (sEncoded.size() > kMaxEncoded) {
        char szHash[40];
        std::snprintf(szHash, sizeof szHash, "#%016llx%016llx",
                      static_cast<unsigned long long>(fnv1a(sName, 0xcbf29ce484222325ull)),
                      static_cast<unsigned long long>(fnv1a(sName, 0x84222325cbf29ce4ull)));
        sEncoded = szHash;
    }
    return sEncoded;
}

std::string objectPath(const std::string& sName) {
    return std::string(kObjectFolder) + "qrcore-" + std::to_string(::geteuid()) + "-" + encodeObjectName(sName);
}

SharedObject::~SharedObject() { release(); }

SharedObject::SharedObject(SharedObject&& other) noexcept
    : m_nFd(other.m_nFd), m_sPath(std::move(other.m_sPath)), m_info(std::move(other.m_info)), m_nOwner(other.m_nOwner) {
    other.m_nFd = -1;
    other.m_sPath.clear();
}

SharedObject& SharedObject::operator=(SharedObject&& other) noexcept {
    if (this != &other) {
        release();
        m_nFd = other.m_nFd;
        m_sPath = std::move(other.m_sPath);
        m_info = std::move(other.m_info);
        m_nOwner = other.m_nOwner;
        other.m_nFd = -1;
        other.m_sPath.clear();
    }
    return *this;
}

bool SharedObject::open(const std::string& sName) {
    release();
    if (sName.size() > kMaxObjectName) {
        errno = ENAMETOOLONG;
        return false;
    }
    const std::string sPath = objectPath(sName);
    // Each round either attaches, or sees the name gone or replaced and looks again; a name
    // cannot change hands forever, the bound only guards against a hostile peer.
    for (int nRound = 0; nRound < 1000; ++nRound) {
        const int fd = ::open(sPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            if (retryable(errno)) continue;
            return false;
        }
        // Only our own objects: a file another user put under our name is neither trusted nor
        // removed.
        struct stat st{};
        if (::fstat(fd, &st) != 0) {
            closeKeepingErrno(fd);
            return false;
        }
        if (st.st_uid != ::geteuid()) {
            ::close(fd);
            errno = EACCES;
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Nobody holds it: a live object always has a holder, so this is what a process
            // that died left behind. Remove it and look again.
            unlinkIfSame(sPath, fd);
            ::close(fd);
            continue;
        }
        if (errno != EWOULDBLOCK || !lockShared(fd)) {
            closeKeepingErrno(fd);
            return false;
        }
        if (!sameFile(sPath, fd)) {  // its last user removed it meanwhile
            ::close(fd);
            continue;
        }
        // Its creator may still be completing it; one that fails removes the name again.
        if (!waitForCreator(fd)) {
            closeKeepingErrno(fd);
            return false;
        }
        if (!sameFile(sPath, fd)) {
            ::close(fd);
            continue;
        }
        ObjectInfo info;
        if (!readHeader(fd, sName, info)) {
            closeKeepingErrno(fd);
            return false;
        }
        m_nFd = fd;
        m_sPath = sPath;
        m_info = std::move(info);
        m_nOwner = ::getpid();
        return true;
    }
    errno = EAGAIN;
    return false;
}

bool SharedObject::create(const std::string& sName, const ObjectInfo& info, const std::function<int()>& fnInitialise) {
    release();
    if (sName.size() > kMaxObjectName) {
        errno = ENAMETOOLONG;
        return false;
    }
    // Published atomically: the file is made without a name, sized, given its header and the
    // creator's shared lock, and only then linked under its name.
    const int fd = ::open(kObjectFolder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (!writeHeader(fd, sName, info)) {
        closeKeepingErrno(fd);
        return false;
    }
    if (info.kind == ObjectKind::PageFile) {
        // Reserve the memory now, as a page-file mapping commits it: touching a page later can
        // then never fail with a bus error.
        const int nErr = ::posix_fallocate(fd, kHeaderBytes, static_cast<off_t>(info.llSize));
        if (nErr != 0) {
            ::close(fd);
            errno = nErr;
            return false;
        }
    }
    if (!lockShared(fd) || (fnInitialise && !creatorLock(fd, F_WRLCK, false))) {
        closeKeepingErrno(fd);
        return false;
    }
    std::string sPath;
    if (!sName.empty()) {
        sPath = objectPath(sName);
        if (!linkName(fd, sPath)) {
            closeKeepingErrno(fd);
            return false;
        }
    }
    if (fnInitialise) {
        if (const int nErr = fnInitialise(); nErr != 0) {
            if (!sPath.empty()) unlinkIfSame(sPath, fd);
            ::close(fd);  // drops the creator's lock: waiting openers find the name gone
            errno = nErr;
            return false;
        }
        if (!creatorLock(fd, F_UNLCK, false)) {
            const int nErr = errno;
            if (!sPath.empty()) unlinkIfSame(sPath, fd);
            ::close(fd);
            errno = nErr;
            return false;
        }
    }
    m_nFd = fd;
    m_sPath = std::move(sPath);
    m_info = info;
    m_nOwner = ::getpid();
    return true;
}

void SharedObject::release() {
    if (m_nFd < 0) return;
    const int nSaved = errno;
    // The last holder removes the name. The conversion may lose the shared lock on the way (it is
    // not atomic); we are leaving anyway, and a newcomer that slipped in keeps the name alive.
    // A forked child shares the parent's open file description and so the parent's very lock:
    // converting it would succeed and end the parent's object, so the child only closes its copy.
    if (!m_sPath.empty() && m_nOwner == ::getpid() && ::flock(m_nFd, LOCK_EX | LOCK_NB) == 0)
        unlinkIfSame(m_sPath, m_nFd);
    ::close(m_nFd);
    m_nFd = -1;
    m_sPath.clear();
    m_info = ObjectInfo{};
    m_nOwner = 0;
    errno = nSaved;
}

}  // namespace qr::sys::posix
