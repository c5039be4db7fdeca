// qrtool: the tool's operating-system services on POSIX systems (see tool_os.h).
#include "tool_os.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// The folder part of sPath with its trailing separator ("" for a bare name).
std::string folderOf(const std::string& sPath) {
    const std::size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? std::string() : sPath.substr(0, nSlash + 1);
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

std::string replacementTarget(const std::string& sPath) {
    std::string sTarget = sPath;
    // A bounded walk along the chain of links; each relative link is read from its own folder.
    for (int nHops = 0; nHops < 40; ++nHops) {
        struct stat st {};
        if (::lstat(sTarget.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return sTarget;
        char szLink[PATH_MAX];
        const ssize_t n = ::readlink(sTarget.c_str(), szLink, sizeof szLink - 1);
        if (n <= 0) return sPath;
        const std::string sLink(szLink, static_cast<std::size_t>(n));
        sTarget = sLink[0] == '/' ? sLink : folderOf(sTarget) + sLink;
    }
    return sPath;
}

bool beginReplacement(const std::string& sTarget, Replacement& replacement, std::string& sError) {
    std::string sTemplate = folderOf(sTarget) + ".qrtool-XXXXXX";
    std::vector<char> name(sTemplate.begin(), sTemplate.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        sError = errnoText(errno);
        return false;
    }
    std::FILE* pFile = ::fdopen(fd, "wb");
    if (pFile == nullptr) {
        sError = errnoText(errno);
        ::close(fd);
        ::unlink(name.data());
        return false;
    }
    replacement.pFile = pFile;
    replacement.sTempPath = name.data();
    replacement.sTarget = sTarget;
    return true;
}

bool commitReplacement(Replacement& replacement, std::string& sError) {
    std::FILE* pFile = replacement.pFile;
    replacement.pFile = nullptr;
    int nError = 0;
    errno = 0;
    if (std::fflush(pFile) != 0 || std::ferror(pFile) != 0) nError = errno != 0 ? errno : EIO;
    if (nError == 0 && ::fsync(::fileno(pFile)) != 0) nError = errno;
    // The close is checked even after an earlier failure, and its error kept when it is the first.
    if (std::fclose(pFile) != 0 && nError == 0) nError = errno;
    if (nError == 0) {
        struct stat st {};
        const mode_t nMode = ::stat(replacement.sTarget.c_str(), &st) == 0 ? (st.st_mode & 07777) : newFileMode();
        if (::chmod(replacement.sTempPath.c_str(), nMode) != 0) nError = errno;
    }
    if (nError == 0 && ::rename(replacement.sTempPath.c_str(), replacement.sTarget.c_str()) != 0) nError = errno;
    if (nError != 0) {
        ::unlink(replacement.sTempPath.c_str());
        sError = errnoText(nError);
        return false;
    }
    return true;
}

void abandonReplacement(Replacement& replacement) {
    if (replacement.pFile != nullptr) std::fclose(replacement.pFile);
    replacement.pFile = nullptr;
    if (!replacement.sTempPath.empty()) ::unlink(replacement.sTempPath.c_str());
}

}  // namespace qrtool::os
