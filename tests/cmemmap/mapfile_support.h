// Test support for the mapped-file suites: a CxMapFile that shows its protected members, and a
// fixture with recorded notices and a clean error state.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/shm_object.h"
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
    return "qrtest_" + sStem + "_" + std::to_string(::getpid()) + "_" + std::to_string(qr::sys::randomBelow(1000000));
}

inline bool objectExists(const std::string& sName) { return ::access(qr::sys::posix::objectPath(sName).c_str(), F_OK) == 0; }

}  // namespace mftest
