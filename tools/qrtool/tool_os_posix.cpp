// qrtool: the tool's operating-system services on POSIX systems (see tool_os.h).
#include "tool_os.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace qrtool::os {

namespace {

std::string errnoText(int nError) { return std::strerror(nError); }

FileIdentity identityFrom(const struct stat& st) {
    FileIdentity id;
    id.bKnown = true;
    id.bRegular = S_ISREG(st.st_mode);
    id.llDevice = static_cast<uint64_t>(st.st_dev);
    id.llFile = static_cast<uint64_t>(st.st_ino);
    return id;
}

int descriptorOf(Stream stream) {
    switch (stream) {
    case Stream::In: return STDIN_FILENO;
    case Stream::Out: return STDOUT_FILENO;
    case Stream::Err: break;
    }
    return STDERR_FILENO;
}

// Permission bits a newly created file gets: 0666 less the process's umask (read without
// changing it for good: umask has no query form).
mode_t newFileMode() {
    const mode_t nMask = ::umask(0);
    ::umask(nMask);
    return static_cast<mode_t>(0666 & ~nMask);
}

}  // namespace

bool isTerminal(Stream stream) { return ::isatty(descriptorOf(stream)) == 1; }

void prepareStreams() { ::signal(SIGPIPE, SIG_IGN); }

int readByte(std::FILE* pFile) { return getc_unlocked(pFile); }

FileIdentity identityOf(const std::string& sPath) {
    struct stat st {};
    if (::stat(sPath.c_str(), &st) != 0) return {};
    return identityFrom(st);
}

FileIdentity identityOf(Stream stream) {
    struct stat st {};
    if (::fstat(descriptorOf(stream), &st) != 0) return {};
    return identityFrom(st);
}

PathKind kindOf(const std::string& sPath) {
    struct stat st {};
    if (::stat(sPath.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    return PathKind::Other;
}

namespace {

// The protected-link rule: a link in a sticky folder that others may write is followed only
// when its owner owns the folder too or is the caller. The kernel applies it only when the
// system is set so, and never to links that a program reads and follows itself.
bool linkRefused(const struct stat& link, const struct stat& folder) {
    return (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && link.st_uid != folder.st_uid &&
           link.st_uid != ::geteuid();
}

// Pushes the components of sPath onto the stack of those still to walk, the first on top;
// empty ones and "." are left out.
void pushComponents(const std::string& sPath, std::vector<std::string>& stack) {
    std::vector<std::string> parts;
    for (std::size_t nAt = 0; nAt <= sPath.size();) {
        std::size_t nSlash = sPath.find('/', nAt);
        if (nSlash == std::string::npos) nSlash = sPath.size();
        std::string sPart = sPath.substr(nAt, nSlash - nAt);
        if (!sPart.empty() && sPart != ".") parts.push_back(std::move(sPart));
        nAt = nSlash + 1;
    }
    stack.insert(stack.end(), parts.rbegin(), parts.rend());
}

// The folder a resolved prefix names ("." for the empty one), without a trailing separator
// (which would make the system follow a link put there since).
std::string folderName(const std::string& sFolder) {
    if (sFolder.empty()) return ".";
    if (sFolder == "/") return sFolder;
    return sFolder.substr(0, sFolder.size() - 1);
}

std::string baseName(const std::string& sPath) { return sPath.substr(sPath.rfind('/') + 1); }

}  // namespace

bool resolveTarget(const std::string& sPath, Target& target, std::string& sError) {
    target = Target{};
    if (sPath.empty()) {
        sError = errnoText(ENOENT);
        return false;
    }
    // sDone is the part walked so far, free of links, with its trailing separator.
    std::string sDone = sPath[0] == '/' ? "/" : "";
    std::vector<std::string> todo;
    pushComponents(sPath, todo);
    int nLinks = 0;
    std::string sFinal;  // the last component, once reached
    while (!todo.empty()) {
        const std::string sPart = todo.back();
        todo.pop_back();
        const bool bLast = todo.empty();
        if (sPart == "..") {
            // The prefix holds no links, so its parent is a matter of text.
            if (sDone.empty() || (sDone.size() >= 3 && sDone.compare(sDone.size() - 3, 3, "../") == 0)) sDone += "../";
            else if (sDone != "/") sDone.erase(sDone.rfind('/', sDone.size() - 2) + 1);
            continue;
        }
        const std::string sNext = sDone + sPart;
        struct stat st {};
        if (::lstat(sNext.c_str(), &st) != 0) {
            if (errno == ENOENT && bLast) {  // a new file
                sFinal = sPart;
                break;
            }
            sError = sNext + ": " + errnoText(errno);
            return false;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (bLast) {
                sFinal = sPart;
                break;
            }
            if (!S_ISDIR(st.st_mode)) {
                sError = sNext + ": " + errnoText(ENOTDIR);
                return false;
            }
            sDone = sNext + "/";
            continue;
        }
        struct stat stFolder {};
        if (++nLinks > 40 || ::stat(folderName(sDone).c_str(), &stFolder) != 0) {
            sError = sNext + ": " + errnoText(nLinks > 40 ? ELOOP : errno);
            return false;
        }
        if (linkRefused(st, stFolder)) {
            sError = sNext + ": a symbolic link of another user in a shared sticky folder: not followed";
            return false;
        }
        char szLink[PATH_MAX];
        const ssize_t n = ::readlink(sNext.c_str(), szLink, sizeof szLink - 1);
        if (n <= 0) {
            sError = sNext + ": " + errnoText(n < 0 ? errno : ENOENT);
            return false;
        }
        const std::string sLink(szLink, static_cast<std::size_t>(n));
        // A descriptor's link ("pipe:[1234]") names no path: the system follows it itself.
        if (sLink[0] != '/' && sDone.rfind("/proc/", 0) == 0) {
            if (!bLast) {
                sError = sNext + ": " + errnoText(ENOTDIR);
                return false;
            }
            target.bLink = true;
            sFinal = sPart;
            break;
        }
        if (sLink[0] == '/') sDone.assign(1, '/');  // assign(const char*) trips a false -Wrestrict at -O3
        pushComponents(sLink, todo);
        if (todo.empty()) {  // a link to "." or "/"
            sError = sNext + ": " + errnoText(EISDIR);
            return false;
        }
    }
    target.sFolder = sDone;
    target.sName = sFinal;
    target.sPath = sDone + target.sName;
    if (target.sPath.empty()) target.sPath = ".";
    struct stat stFolder {};
    if (::stat(folderName(sDone).c_str(), &stFolder) == 0) target.folder = identityFrom(stFolder);
    return true;
}

std::FILE* openForWriting(const Target& target, std::string& sError) {
    const int nFlags = O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC | (target.bLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(target.sPath.c_str(), nFlags);
    std::FILE* pFile = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (pFile == nullptr) {
        sError = errnoText(errno);
        if (fd >= 0) ::close(fd);
    }
    return pFile;
}

bool beginReplacement(const Target& target, Replacement& replacement, std::string& sError) {
    const int nFolder = ::open(folderName(target.sFolder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (nFolder < 0 || ::fstat(nFolder, &st) != 0) {
        sError = errnoText(errno);
        if (nFolder >= 0) ::close(nFolder);
        return false;
    }
    if (target.folder.bKnown && !(identityFrom(st) == target.folder)) {
        sError = "its folder was replaced while the tool was looking at it: nothing written";
        ::close(nFolder);
        return false;
    }
    // A name of our own, owner-only from the first instant; a taken one is tried again.
    std::random_device random;
    int fd = -1;
    std::string sName;
    for (int nTry = 0; nTry < 100 && fd < 0; ++nTry) {
        char szName[32];
        std::snprintf(szName, sizeof szName, ".qrtool-%08x", static_cast<unsigned>(random()));
        sName = szName;
        fd = ::openat(nFolder, szName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    std::FILE* pFile = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (pFile == nullptr) {
        sError = errnoText(errno);
        if (fd >= 0) {
            ::close(fd);
            ::unlinkat(nFolder, sName.c_str(), 0);
        }
        ::close(nFolder);
        return false;
    }
    replacement.pFile = pFile;
    replacement.sTempPath = target.sFolder + sName;
    replacement.sTarget = target.sPath;
    replacement.nFolder = nFolder;
    return true;
}

bool commitReplacement(Replacement& replacement, std::string& sError) {
    std::FILE* pFile = replacement.pFile;
    replacement.pFile = nullptr;
    const std::string sTemp = baseName(replacement.sTempPath), sTarget = baseName(replacement.sTarget);
    int nError = 0;
    errno = 0;
    if (std::fflush(pFile) != 0 || std::ferror(pFile) != 0) nError = errno != 0 ? errno : EIO;
    // The permission bits of the file replaced, but never its set-user and set-group bits: the
    // new file belongs to the caller, and such a bit would lend the caller's rights to the
    // program it holds.
    if (nError == 0) {
        struct stat st {};
        const bool bOld = ::fstatat(replacement.nFolder, sTarget.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        if (::fchmod(::fileno(pFile), bOld ? (st.st_mode & 0777) : newFileMode()) != 0) nError = errno;
    }
    if (nError == 0 && ::fsync(::fileno(pFile)) != 0) nError = errno;
    // The close is checked even after an earlier failure, and its error kept when it is the first.
    if (std::fclose(pFile) != 0 && nError == 0) nError = errno;
    if (nError == 0 && ::renameat(replacement.nFolder, sTemp.c_str(), replacement.nFolder, sTarget.c_str()) != 0)
        nError = errno;
    if (nError != 0) ::unlinkat(replacement.nFolder, sTemp.c_str(), 0);
    ::close(replacement.nFolder);
    replacement.nFolder = -1;
    if (nError != 0) {
        sError = errnoText(nError);
        return false;
    }
    return true;
}

void abandonReplacement(Replacement& replacement) {
    if (replacement.pFile != nullptr) std::fclose(replacement.pFile);
    replacement.pFile = nullptr;
    if (replacement.nFolder >= 0) {
        if (!replacement.sTempPath.empty()) ::unlinkat(replacement.nFolder, baseName(replacement.sTempPath).c_str(), 0);
        ::close(replacement.nFolder);
        replacement.nFolder = -1;
    }
}

}  // namespace qrtool::os
