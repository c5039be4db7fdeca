// Test helper (POSIX): a simulated power cut for the second process of the space tests. Linked
// into that program only, it stands in for the C library's write, ftruncate, fsync, fdatasync,
// unlink and open, and keeps, per file, every change since the file's last flush (and per folder,
// every entry created or removed since the folder's last flush). At the chosen call it cuts the
// power before making the call: each 512-byte sector changed since the last flush goes back to a
// random point of its history (the disk may have written any of its versions, or none), the size
// to a random point of its own, each unflushed folder entry change is undone or kept at random;
// then the process kills itself. What stays is a state the disk could hold after a real power
// cut, given that it keeps what was flushed and writes a sector whole.
#include "power_cut_posix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kSector = 512;

template <typename Function>
Function realFunction(const char* szName) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, szName));
}

using Key = std::pair<dev_t, ino_t>;

// One change of a file's bytes or size, with what it replaced.
struct Change {
    int64_t llPos = 0;
    std::vector<unsigned char> old;  // the bytes at llPos before (zeros past the old end)
    int64_t llSizeBefore = 0;
    int64_t llSizeAfter = 0;
    bool bCut = false;               // a truncation: old holds the bytes it cut away
};

struct FileChanges {
    std::string sPath;
    std::vector<Change> changes;
};

struct EntryChange {
    std::string sPath;
    bool bCreated = false;                // else removed, with its bytes
    std::vector<unsigned char> content;
};

std::map<Key, FileChanges> g_files;
std::map<std::string, std::vector<EntryChange>> g_folders;
int64_t g_llCalls = 0;
int64_t g_llCutAt = 0;
std::mt19937_64 g_random;

std::string pathOf(int nFd) {
    char szPath[4096];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(nFd)).c_str(), szPath, sizeof szPath - 1);
    return n > 0 ? std::string(szPath, static_cast<std::size_t>(n)) : std::string();
}

std::string folderOf(const std::string& sPath) {
    const std::size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : sPath.substr(0, nSlash);
}

std::string absolute(const char* szPath) {
    if (szPath[0] == '/') return szPath;
    char szDir[4096];
    return ::getcwd(szDir, sizeof szDir) != nullptr ? std::string(szDir) + "/" + szPath : szPath;
}

std::vector<unsigned char> readAt(int nFd, int64_t llPos, int64_t llCount) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(llCount), 0);
    if (llCount > 0) {
        const ssize_t n = ::pread(nFd, bytes.data(), bytes.size(), llPos);
        (void)n;  // what is not there reads as zeros
    }
    return bytes;
}

void writeAt(int nFd, const unsigned char* pBytes, int64_t llCount, int64_t llPos) {
    static const auto s_pwrite = realFunction<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (llCount > 0 && s_pwrite(nFd, pBytes, static_cast<size_t>(llCount), llPos) != llCount) ::_exit(90);
}

[[noreturn]] void cutThePower() {
    static const auto s_open = realFunction<int (*)(const char*, int, ...)>("open");
    static const auto s_unlink = realFunction<int (*)(const char*)>("unlink");
    static const auto s_ftruncate = realFunction<int (*)(int, off_t)>("ftruncate");
    // Folder entries first (a removed file comes back with the bytes it had), newest first.
    for (auto& [sFolder, entries] : g_folders) {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (g_random() % 2 == 0) continue;  // this change reached the disk
            if (it->bCreated) {
                s_unlink(it->sPath.c_str());
            } else {
                const int nFd = s_open(it->sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (nFd < 0) ::_exit(91);
                writeAt(nFd, it->content.data(), static_cast<int64_t>(it->content.size()), 0);
                ::close(nFd);
            }
        }
    }
    // Then every file's sectors and size, each back to some point since the last flush.
    for (auto& [key, file] : g_files) {
        const int nFd = s_open(file.sPath.c_str(), O_RDWR | O_CLOEXEC);
        if (nFd < 0) continue;  // its entry did not reach the disk
        const std::size_t nChanges = file.changes.size();
        const std::size_t nSizeKept = g_random() % (nChanges + 1);
        std::map<int64_t, std::size_t> kept;  // sector -> how many of its changes reached the disk
        for (std::size_t j = nChanges; j-- > 0;) {
            const Change& change = file.changes[j];
            if (change.bCut) {
                if (j >= nSizeKept) writeAt(nFd, change.old.data(), static_cast<int64_t>(change.old.size()), change.llPos);
                continue;
            }
            const int64_t llEnd = change.llPos + static_cast<int64_t>(change.old.size());
            for (int64_t llSector = change.llPos / kSector * kSector; llSector < llEnd; llSector += kSector) {
                const std::size_t nKept = kept.emplace(llSector, g_random() % (nChanges + 1)).first->second;
                if (j < nKept) continue;
                const int64_t llFrom = std::max(llSector, change.llPos);
                const int64_t llTo = std::min(llSector + kSector, llEnd);
                writeAt(nFd, change.old.data() + (llFrom - change.llPos), llTo - llFrom, llFrom);
            }
        }
        const int64_t llSize = nSizeKept == 0 ? file.changes.front().llSizeBefore : file.changes[nSizeKept - 1].llSizeAfter;
        if (s_ftruncate(nFd, llSize) != 0) ::_exit(92);
        ::close(nFd);
    }
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
}

// Counts a call that could be the last before the power goes.
void count() {
    if (g_llCutAt > 0 && ++g_llCalls == g_llCutAt) cutThePower();
}

bool regularFile(int nFd, struct stat* pStat) { return ::fstat(nFd, pStat) == 0 && S_ISREG(pStat->st_mode); }

FileChanges& changesOf(int nFd, const struct stat& st) {
    FileChanges& file = g_files[{st.st_dev, st.st_ino}];
    file.sPath = pathOf(nFd);
    return file;
}

// A flush: the file's changes (or the folder's entries) are on the disk from here on.
int flushed(int nFd, int (*pfnFlush)(int)) {
    struct stat st {};
    if (g_llCutAt <= 0 || ::fstat(nFd, &st) != 0) return pfnFlush(nFd);
    count();
    const int nResult = pfnFlush(nFd);
    if (nResult == 0) {
        if (S_ISDIR(st.st_mode)) g_folders.erase(pathOf(nFd));
        else g_files.erase({st.st_dev, st.st_ino});
    }
    return nResult;
}

}  // namespace

void armPowerCut(int64_t llCall, uint64_t nSeed) {
    g_llCutAt = llCall;
    g_random.seed(nSeed);
}

int64_t powerCutCalls() { return g_llCalls; }

extern "C" {

ssize_t write(int nFd, const void* pBuffer, size_t nCount) {
    static const auto s_write = realFunction<ssize_t (*)(int, const void*, size_t)>("write");
    struct stat st {};
    if (g_llCutAt <= 0 || !regularFile(nFd, &st)) return s_write(nFd, pBuffer, nCount);
    count();
    const off_t llPos = ::lseek(nFd, 0, SEEK_CUR);
    Change change;
    change.llPos = llPos;
    change.llSizeBefore = st.st_size;
    change.old = readAt(nFd, llPos, static_cast<int64_t>(nCount));
    const ssize_t n = s_write(nFd, pBuffer, nCount);
    if (n > 0) {
        change.old.resize(static_cast<std::size_t>(n));
        change.llSizeAfter = std::max<int64_t>(st.st_size, llPos + n);
        changesOf(nFd, st).changes.push_back(std::move(change));
    }
    return n;
}

int ftruncate(int nFd, off_t llLength) {
    static const auto s_ftruncate = realFunction<int (*)(int, off_t)>("ftruncate");
    struct stat st {};
    if (g_llCutAt <= 0 || !regularFile(nFd, &st)) return s_ftruncate(nFd, llLength);
    count();
    Change change;
    change.bCut = true;
    change.llPos = llLength;
    change.llSizeBefore = st.st_size;
    change.llSizeAfter = llLength;
    if (llLength < st.st_size) change.old = readAt(nFd, llLength, st.st_size - llLength);
    const int nResult = s_ftruncate(nFd, llLength);
    if (nResult == 0) changesOf(nFd, st).changes.push_back(std::move(change));
    return nResult;
}

int fsync(int nFd) {
    static const auto s_fsync = realFunction<int (*)(int)>("fsync");
    return flushed(nFd, s_fsync);
}

int fdatasync(int nFd) {
    static const auto s_fdatasync = realFunction<int (*)(int)>("fdatasync");
    return flushed(nFd, s_fdatasync);
}

int unlink(const char* szPath) {
    static const auto s_unlink = realFunction<int (*)(const char*)>("unlink");
    struct stat st {};
    if (g_llCutAt <= 0 || ::lstat(szPath, &st) != 0 || !S_ISREG(st.st_mode)) return s_unlink(szPath);
    count();
    EntryChange entry;
    entry.sPath = absolute(szPath);
    const int nFd = ::open(szPath, O_RDONLY | O_CLOEXEC);
    if (nFd >= 0) {
        entry.content = readAt(nFd, 0, st.st_size);
        ::close(nFd);
    }
    const int nResult = s_unlink(szPath);
    if (nResult == 0) g_folders[folderOf(entry.sPath)].push_back(std::move(entry));
    return nResult;
}

int open(const char* szPath, int nFlags, ...) {
    static const auto s_open = realFunction<int (*)(const char*, int, ...)>("open");
    mode_t nMode = 0;
    if ((nFlags & O_CREAT) != 0) {
        va_list args;
        va_start(args, nFlags);
        nMode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    struct stat st {};
    const bool bNew = g_llCutAt > 0 && (nFlags & O_CREAT) != 0 && ::lstat(szPath, &st) != 0;
    if (bNew) count();
    const int nFd = s_open(szPath, nFlags, nMode);
    if (bNew && nFd >= 0) g_folders[folderOf(absolute(szPath))].push_back({absolute(szPath), true, {}});
    return nFd;
}

}  // extern "C"
