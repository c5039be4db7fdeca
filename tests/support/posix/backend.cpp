// Test support, POSIX: what this backend does differently from the others.
#include "support/backend.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>

namespace qrtest {

const Backend& backend() {
    static const Backend s_backend{
        "posix",
        /*bNamesCaseSensitive=*/true,
        /*bHandlesNeverReused=*/true,
        /*bRangeEdits=*/true,
        /*nNegativeSeekError=*/EINVAL,
        /*nFileExistsError=*/EEXIST,
        /*bLongPaths=*/true,
        /*bExactObjectSize=*/true,
        /*bNameLivesWithViews=*/true,
        /*bLibraryBesideProgram=*/false,
        /*bWine=*/false,
        /*bFork=*/true,
    };
    return s_backend;
}

int64_t allocatedBytes(const std::string& sPath) {
    struct stat st {};
    if (::stat(sPath.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_blocks) * 512;
}

int openHandles() {
    int n = 0;
    if (DIR* pDir = ::opendir("/proc/self/fd")) {
        while (const dirent* pEntry = ::readdir(pDir)) n += pEntry->d_name[0] != '.' ? 1 : 0;
        ::closedir(pDir);
    }
    return n - 1;  // the descriptor of the listing itself
}

TempFolderOverride::TempFolderOverride(const std::string& sFolder) {
    if (const char* szOld = ::getenv("TMPDIR")) {
        m_bHadOld = true;
        m_sOld = szOld;
    }
    set(sFolder);
}

TempFolderOverride::~TempFolderOverride() {
    if (m_bHadOld) ::setenv("TMPDIR", m_sOld.c_str(), 1);
    else ::unsetenv("TMPDIR");
}

void TempFolderOverride::set(const std::string& sFolder) { ::setenv("TMPDIR", sFolder.c_str(), 1); }

std::string systemText(const char* szUtf8) { return szUtf8; }

}  // namespace qrtest
