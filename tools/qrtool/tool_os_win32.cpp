// qrtool: the tool's operating-system services on Windows (see tool_os.h).
#include "tool_os.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qrtool::os {

namespace {

// The system's own text for a Win32 error code, without the line end it comes with.
std::string systemText(DWORD nError) {
    char* pBuffer = nullptr;
    const DWORD nLength = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nError,
        0, reinterpret_cast<char*>(&pBuffer), 0, nullptr);
    std::string sText = nLength != 0 && pBuffer != nullptr ? std::string(pBuffer, nLength) : std::string();
    if (pBuffer != nullptr) ::LocalFree(pBuffer);
    while (!sText.empty() && (sText.back() == '\n' || sText.back() == '\r' || sText.back() == ' ')) sText.pop_back();
    if (sText.empty()) sText = "system error " + std::to_string(nError);
    return sText;
}

DWORD stdHandleOf(Stream stream) {
    switch (stream) {
    case Stream::In: return STD_INPUT_HANDLE;
    case Stream::Out: return STD_OUTPUT_HANDLE;
    case Stream::Err: break;
    }
    return STD_ERROR_HANDLE;
}

FileIdentity identityOfHandle(HANDLE hFile) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(hFile, &info)) return {};
    FileIdentity id;
    id.bKnown = true;
    id.bRegular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && ::GetFileType(hFile) == FILE_TYPE_DISK;
    id.llDevice = info.dwVolumeSerialNumber;
    id.llFile = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

// Opens sPath for reading its attributes only (a folder too), following symbolic links, without
// standing in the way of anyone who has it open.
HANDLE openForQuery(const std::string& sPath) {
    return ::CreateFileA(sPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The folder part of sPath with its trailing separator ("" for a bare name). Both separators
// count, and a drive prefix ("C:name") is a folder of its own.
std::string folderOf(const std::string& sPath) {
    const std::size_t nSlash = sPath.find_last_of("\\/:");
    return nSlash == std::string::npos ? std::string() : sPath.substr(0, nSlash + 1);
}

// The final path the system gives a handle comes in its long form ("\\?\C:\..."); the ordinary
// form when it is a plain drive path, since not every API takes the long one.
std::string ordinaryPath(std::string sPath) {
    if (sPath.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + sPath.substr(8);
    if (sPath.rfind("\\\\?\\", 0) == 0 && sPath.size() >= 6 && sPath[5] == ':') return sPath.substr(4);
    return sPath;
}

}  // namespace

bool isTerminal(Stream stream) {
    DWORD nMode = 0;
    return ::GetConsoleMode(::GetStdHandle(stdHandleOf(stream)), &nMode) != 0;
}

// A pipe whose reader has gone already makes a write fail (ERROR_NO_DATA) rather than end the
// process, so only the line-end translation of the C run-time needs turning off.
void prepareStreams() {
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

int readByte(std::FILE* pFile) { return _getc_nolock(pFile); }

FileIdentity identityOf(const std::string& sPath) {
    const HANDLE hFile = openForQuery(sPath);
    if (hFile == INVALID_HANDLE_VALUE) return {};
    const FileIdentity id = identityOfHandle(hFile);
    ::CloseHandle(hFile);
    return id;
}

FileIdentity identityOf(Stream stream) {
    const HANDLE hFile = ::GetStdHandle(stdHandleOf(stream));
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE) return {};
    if (::GetFileType(hFile) == FILE_TYPE_DISK) return identityOfHandle(hFile);
    // A console, a pipe or a device: there, but never the same file as a path's.
    FileIdentity id;
    id.bKnown = true;
    return id;
}

PathKind kindOf(const std::string& sPath) {
    DWORD nAttributes = ::GetFileAttributesA(sPath.c_str());
    // The attributes of a link are its own, and devices such as NUL or COM1 have none: both are
    // opened to learn what is really there.
    if (nAttributes == INVALID_FILE_ATTRIBUTES || (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const HANDLE hFile = openForQuery(sPath);
        if (hFile == INVALID_HANDLE_VALUE) return PathKind::Missing;
        const DWORD nType = ::GetFileType(hFile);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool bInfo = ::GetFileInformationByHandle(hFile, &info) != 0;
        ::CloseHandle(hFile);
        if (nType != FILE_TYPE_DISK || !bInfo) return PathKind::Other;
        nAttributes = info.dwFileAttributes;
    }
    if ((nAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
    if ((nAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::Other;
    return PathKind::Regular;
}

// Links here are reparse points, which only privileged users or developer mode may create, in
// folders without the sticky rule of POSIX systems: the system's own resolution is followed.
bool resolveTarget(const std::string& sPath, Target& target, std::string& sError) {
    target = Target{};
    if (sPath.empty()) {
        sError = systemText(ERROR_FILE_NOT_FOUND);
        return false;
    }
    target.sPath = sPath;
    const DWORD nAttributes = ::GetFileAttributesA(sPath.c_str());
    if (nAttributes != INVALID_FILE_ATTRIBUTES && (nAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const HANDLE hFile = openForQuery(sPath);
        if (hFile != INVALID_HANDLE_VALUE) {
            char szFinal[MAX_PATH * 4];
            const DWORD n = ::GetFinalPathNameByHandleA(hFile, szFinal, sizeof szFinal, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            ::CloseHandle(hFile);
            if (n != 0 && n < sizeof szFinal) target.sPath = ordinaryPath(std::string(szFinal, n));
        }
    }
    target.sFolder = folderOf(target.sPath);
    target.sName = target.sPath.substr(target.sFolder.size());
    return true;
}

std::FILE* openForWriting(const Target& target, std::string& sError) {
    errno = 0;
    std::FILE* pFile = std::fopen(target.sPath.c_str(), "wb");
    if (pFile == nullptr) sError = std::strerror(errno);
    return pFile;
}

bool beginReplacement(const Target& target, Replacement& replacement, std::string& sError) {
    const std::string& sTarget = target.sPath;
    // A name of our own made from the process and a counter; CREATE_NEW refuses one that is
    // taken, and the next is tried.
    static unsigned nCounter = 0;
    const std::string sFolder = folderOf(sTarget);
    HANDLE hFile = INVALID_HANDLE_VALUE;
    std::string sTemp;
    DWORD nError = ERROR_FILE_EXISTS;
    for (int nTry = 0; nTry < 100 && nError == ERROR_FILE_EXISTS; ++nTry) {
        sTemp = sFolder + ".qrtool-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++nCounter) + "-" +
                std::to_string(::GetTickCount());
        hFile = ::CreateFileA(sTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        nError = hFile == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    }
    if (hFile == INVALID_HANDLE_VALUE) {
        sError = systemText(nError);
        return false;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_BINARY | _O_WRONLY);
    if (fd < 0) {
        sError = systemText(ERROR_TOO_MANY_OPEN_FILES);
        ::CloseHandle(hFile);
        ::DeleteFileA(sTemp.c_str());
        return false;
    }
    std::FILE* pFile = ::_fdopen(fd, "wb");
    if (pFile == nullptr) {
        sError = std::strerror(errno);
        ::_close(fd);
        ::DeleteFileA(sTemp.c_str());
        return false;
    }
    replacement.pFile = pFile;
    replacement.sTempPath = sTemp;
    replacement.sTarget = sTarget;
    return true;
}

bool commitReplacement(Replacement& replacement, std::string& sError) {
    std::FILE* pFile = replacement.pFile;
    replacement.pFile = nullptr;
    // A failed write through the C stream leaves the cause in GetLastError (the run-time's errno
    // is only a rough mapping of it).
    DWORD nError = ERROR_SUCCESS;
    ::SetLastError(ERROR_SUCCESS);
    if (std::fflush(pFile) != 0 || std::ferror(pFile) != 0) {
        nError = ::GetLastError();
        if (nError == ERROR_SUCCESS) nError = ERROR_WRITE_FAULT;
    }
    if (nError == ERROR_SUCCESS) {
        const HANDLE hFile = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(pFile)));
        if (!::FlushFileBuffers(hFile)) nError = ::GetLastError();
    }
    // The close is checked even after an earlier failure, and its error kept when it is the first.
    if (std::fclose(pFile) != 0 && nError == ERROR_SUCCESS) {
        nError = ::GetLastError();
        if (nError == ERROR_SUCCESS) nError = ERROR_WRITE_FAULT;
    }
    // The attributes of the file being replaced (read-only, hidden and so on) go to the new one;
    // a new file keeps those it was created with. A read-only target refuses the rename, as it
    // refuses any write.
    if (nError == ERROR_SUCCESS) {
        const DWORD nAttributes = ::GetFileAttributesA(replacement.sTarget.c_str());
        if (nAttributes != INVALID_FILE_ATTRIBUTES) {
            const DWORD nKept = nAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
            if ((nAttributes & FILE_ATTRIBUTE_READONLY) != 0) nError = ERROR_ACCESS_DENIED;
            else if (nKept != 0 && !::SetFileAttributesA(replacement.sTempPath.c_str(), nKept)) nError = ::GetLastError();
        }
    }
    if (nError == ERROR_SUCCESS &&
        !::MoveFileExA(replacement.sTempPath.c_str(), replacement.sTarget.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        nError = ::GetLastError();
    if (nError != ERROR_SUCCESS) {
        ::SetFileAttributesA(replacement.sTempPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(replacement.sTempPath.c_str());
        sError = systemText(nError);
        return false;
    }
    return true;
}

void abandonReplacement(Replacement& replacement) {
    if (replacement.pFile != nullptr) std::fclose(replacement.pFile);
    replacement.pFile = nullptr;
    if (!replacement.sTempPath.empty()) ::DeleteFileA(replacement.sTempPath.c_str());
}

}  // namespace qrtool::os
