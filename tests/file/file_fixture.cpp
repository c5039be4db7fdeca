// File-object tests: the shared fixture and file-system helpers.
#include "file_fixture.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <random>

#include "platform/platform.h"
#include "qrcore/error.h"

namespace filetest {

void FileTest::SetUp() {
    if (const char* szOld = ::getenv("TMPDIR")) {
        m_bHadTmpDir = true;
        m_sOldTmpDir = szOld;
    }
    ::setenv("TMPDIR", scratch.path().c_str(), 1);
    qr::sys::clearFaults();
    ShowErrorWin();
    ReportError(0);
    notices.clear();
}

void FileTest::TearDown() {
    qr::sys::clearFaults();
    if (m_bHadTmpDir) {
        ::setenv("TMPDIR", m_sOldTmpDir.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

std::vector<std::string> FileTest::tempEntries() const {
    std::vector<std::string> names;
    if (DIR* pDir = ::opendir(scratch.path().c_str())) {
        while (const dirent* pEntry = ::readdir(pDir)) {
            const std::string sName = pEntry->d_name;
            if (sName != "." && sName != "..") names.push_back(sName);
        }
        ::closedir(pDir);
    }
    return names;
}

std::size_t FileTest::questionCount() const {
    std::size_t n = 0;
    for (const auto& notice : notices.notices) n += notice.kind == QR_NoticeQuestion ? 1 : 0;
    return n;
}

int64_t diskSize(const std::string& sPath) {
    struct stat st {};
    return ::stat(sPath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int openDescriptors() {
    int n = 0;
    if (DIR* pDir = ::opendir("/proc/self/fd")) {
        while (const dirent* pEntry = ::readdir(pDir)) n += pEntry->d_name[0] != '.' ? 1 : 0;
        ::closedir(pDir);
    }
    return n - 1;  // the descriptor of the listing itself
}

std::string baseName(const std::string& sPath) {
    const std::size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? sPath : sPath.substr(nSlash + 1);
}

std::vector<unsigned char> patternBytes(std::size_t nCount, uint32_t nSeed) {
    std::mt19937 gen(nSeed);
    std::vector<unsigned char> bytes(nCount);
    for (auto& b : bytes) b = static_cast<unsigned char>(gen() >> 24);
    return bytes;
}

}  // namespace filetest
