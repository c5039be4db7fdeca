// File-object tests: the shared fixture and file-system helpers.
#include "file_fixture.h"

#include <filesystem>
#include <random>

#include "platform/platform.h"
#include "qrcore/error.h"

namespace filetest {

void FileTest::SetUp() {
    m_pTempFolder = std::make_unique<qrtest::TempFolderOverride>(scratch.path());
    qr::sys::clearFaults();
    ShowErrorWin();
    ReportError(0);
    notices.clear();
}

void FileTest::TearDown() {
    qr::sys::clearFaults();
    m_pTempFolder.reset();
}

std::vector<std::string> FileTest::tempEntries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path(), ec))
        names.push_back(entry.path().filename().string());
    return names;
}

std::size_t FileTest::questionCount() const {
    std::size_t n = 0;
    for (const auto& notice : notices.notices) n += notice.kind == QR_NoticeQuestion ? 1 : 0;
    return n;
}

int64_t diskSize(const std::string& sPath) {
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(sPath, ec);
    return ec ? -1 : static_cast<int64_t>(nSize);
}

std::vector<unsigned char> readThrough(void* hFile) {
    int64_t llPos = 0, llSize = 0;
    if (!qr::sys::setFilePointer(hFile, 0, qr::sys::kSeekCurrent, &llPos) || !qr::sys::getFileSize(hFile, &llSize))
        return {};
    std::vector<unsigned char> bytes(static_cast<std::size_t>(llSize));
    uint32_t nRead = 0;
    const bool bRead = qr::sys::setFilePointer(hFile, 0, qr::sys::kSeekBegin, nullptr) &&
                       qr::sys::readFile(hFile, bytes.data(), static_cast<uint32_t>(bytes.size()), &nRead);
    qr::sys::setFilePointer(hFile, llPos, qr::sys::kSeekBegin, nullptr);
    bytes.resize(bRead ? nRead : 0);
    return bytes;
}

std::string baseName(const std::string& sPath) { return std::filesystem::path(sPath).filename().string(); }

std::vector<unsigned char> patternBytes(std::size_t nCount, uint32_t nSeed) {
    std::mt19937 gen(nSeed);
    std::vector<unsigned char> bytes(nCount);
    for (auto& b : bytes) b = static_cast<unsigned char>(gen() >> 24);
    return bytes;
}

}  // namespace filetest
