// Test support for the mapped-file suites: a CxMapFile that shows its protected members, and a
// fixture with recorded notices and a clean error state.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/mapfile.h"
#include "support/notices.h"

namespace mftest {

class Probe : public CxMapFile {
public:
    using CxMapFile::CxMapFile;
    using CxMapFile::AdjustViewParam;
    using CxMapFile::CreateMappingName;
    using CxMapFile::CreateMutexName;
    using CxMapFile::FindView;
    using CxMapFile::Initialize;
    using CxMapFile::m_CurrentView;
    using CxMapFile::m_pViewList;
    using CxMapFile::m_szFileName;
    using CxMapFile::m_szMappingName;

    // Ids of the view list in order.
    std::vector<int32_t> ids() const {
        std::vector<int32_t> result;
        for (const _tagMemViewList* p = m_pViewList; p != nullptr; p = p->pNext) result.push_back(p->MemView.lViewID);
        return result;
    }
};

class MapFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        notices.clear();
    }
    void TearDown() override {
        qr::sys::setAllocationGranularity(0);
        qr::sys::clearFaults();
    }

    // The text of error 1000000 for a native code, as the error state shows it.
    static std::string systemText(uint32_t nCode) { return qr::sys::systemErrorText(nCode); }

    qrtest::RecordingNotices notices;
};

inline std::string uniqueName(const std::string& sStem) {
    return "qrtest_" + sStem + "_" + std::to_string(qr::sys::randomBelow(1000000000)) + "_" +
           std::to_string(qr::sys::randomBelow(1000000));
}

// Whether another user of the name would find the mapping object (opens and closes a handle).
inline bool objectExists(const std::string& sName) {
    void* h = qr::sys::openFileMapping(qr::sys::kMapRead, false, sName.c_str());
    if (h == nullptr) return false;
    qr::sys::closeFileMapping(h);
    return true;
}

// The name of the mapping object of a file mapped by path: the path with every backslash made
// '_' (on Windows the folder separators; on POSIX a backslash is an ordinary byte of a name).
inline std::string mappingNameOf(std::string sPath) {
    for (char& c : sPath)
        if (c == '\\') c = '_';
    return sPath;
}

// Bytes [llOffset, llOffset + nLength) of the file behind hFile, read through that handle (the
// mapped file is held without sharing: on Windows no other open may read it); the file pointer
// is put back afterwards.
inline std::vector<unsigned char> readThrough(void* hFile, int64_t llOffset, std::size_t nLength) {
    int64_t llPos = 0;
    std::vector<unsigned char> bytes(nLength);
    uint32_t nRead = 0;
    if (!qr::sys::setFilePointer(hFile, 0, qr::sys::kSeekCurrent, &llPos)) return {};
    const bool bRead = qr::sys::setFilePointer(hFile, llOffset, qr::sys::kSeekBegin, nullptr) &&
                       qr::sys::readFile(hFile, bytes.data(), static_cast<uint32_t>(nLength), &nRead);
    qr::sys::setFilePointer(hFile, llPos, qr::sys::kSeekBegin, nullptr);
    bytes.resize(bRead ? nRead : 0);
    return bytes;
}

// Whether hFile is no longer an open file handle of this process.
inline bool handleClosed(void* hFile) {
    int64_t llSize = 0;
    return !qr::sys::getFileSize(hFile, &llSize) && qr::sys::lastError() == qr::sys::kErrorInvalidHandle;
}

}  // namespace mftest
