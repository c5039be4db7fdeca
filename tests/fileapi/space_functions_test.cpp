// The in-file space functions on small files: the documented examples and refusals, on the
// chunked path and (where the file system allows) the in-place path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "error/error_state.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using qrtest::readFileBytes;

std::string fileText(const std::string& sPath) {
    const std::vector<unsigned char> bytes = readFileBytes(sPath);
    return std::string(bytes.begin(), bytes.end());
}

class SpaceFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        m_sPath = dir.file("digits.dat");
        qrtest::writeFileText(m_sPath, "0123456789");
        ASSERT_TRUE(QR_OpenFile(&m_hFile, m_sPath.c_str(), 0x0300));  // shared: read beside it
    }
    void TearDown() override {
        if (m_hFile != nullptr) QR_CloseFile(m_hFile);
        qr::setSpaceFastPath(true);
    }
    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
    std::string m_sPath;
    void* m_hFile = nullptr;
};

TEST_F(SpaceFunctions, DigitExamples) {
    ASSERT_TRUE(AllocateDiskSpace(m_hFile, 4, 3));
    EXPECT_EQ(fileText(m_sPath), "0123" + std::string(3, '\0') + "456789");
    ASSERT_TRUE(FreeDiskSpace(m_hFile, 4, 3));
    EXPECT_EQ(fileText(m_sPath), "0123456789");
    ASSERT_TRUE(FreeDiskSpace(m_hFile, 2, 3));
    EXPECT_EQ(fileText(m_sPath), "0156789");
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(SpaceFunctions, RefusalsLeaveTheFileAndSetNoNumber) {
    const struct {
        const char* szName;
        bool (*pfnCall)(void*);
    } rows[] = {
        {"free reaching the end", [](void* h) { return FreeDiskSpace(h, 7, 3); }},
        {"free past the end", [](void* h) { return FreeDiskSpace(h, 8, 5); }},
        {"allocate at the end", [](void* h) { return AllocateDiskSpace(h, 10, 3); }},
        {"allocate after the end", [](void* h) { return AllocateDiskSpace(h, 12, 3); }},
        {"allocate size 0", [](void* h) { return AllocateDiskSpace(h, 2, 0); }},
        {"free negative size", [](void* h) { return FreeDiskSpace(h, 2, -1); }},
        {"move length 0", [](void* h) { _tagMoveData m{0, 2, 0}; return MoveData(h, &m); }},
        {"move onto itself", [](void* h) { _tagMoveData m{3, 3, 4}; return MoveData(h, &m); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        EXPECT_FALSE(row.pfnCall(m_hFile));
        EXPECT_EQ(GetDllErrorNo(), 0);
        EXPECT_EQ(fileText(m_sPath), "0123456789");
    }
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(SpaceFunctions, ZeroFill) {
    ASSERT_TRUE(InitiateSpaceIntoZero(m_hFile, 8, 4));
    EXPECT_EQ(fileText(m_sPath), std::string("01234567\0\0\0\0", 12));
    // Size 0 only positions the file pointer.
    ASSERT_TRUE(InitiateSpaceIntoZero(m_hFile, 1, 0));
    char c = 0;
    ASSERT_EQ(QR_Read(m_hFile, &c, 1), 1u);
    EXPECT_EQ(c, '1');
    ASSERT_TRUE(InitiateSpaceIntoZero(m_hFile, 20, 2500));
    EXPECT_EQ(readFileBytes(m_sPath).size(), 2520u);
}

}  // namespace
