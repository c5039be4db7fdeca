// Share modes between handles, in one process and against a second real process, compared
// with the Win32 rule: a second open succeeds only when it shares every access the first one
// holds and the first one shares every access the second one asks for.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "support/child.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

struct Mode {
    uint32_t nValue;
    bool bRead, bWrite;            // access held
    bool bShareRead, bShareWrite;  // access granted to others
};

// Every access (read, write, both) with every sharing value.
std::vector<Mode> allModes() {
    std::vector<Mode> modes;
    const struct {
        uint32_t nBits;
        bool bRead, bWrite;
    } accesses[] = {{1, true, false}, {2, false, true}, {3, true, true}};
    for (const auto& access : accesses) {
        for (uint32_t nShare = 0; nShare <= 3; ++nShare) {
            modes.push_back({access.nBits | (nShare << 8), access.bRead, access.bWrite,
                             (nShare & 1) != 0, (nShare & 2) != 0});
        }
    }
    return modes;
}

// The Win32 rule, written from its definition.
bool win32Allows(const Mode& first, const Mode& second) {
    if (second.bRead && !first.bShareRead) return false;
    if (second.bWrite && !first.bShareWrite) return false;
    if (first.bRead && !second.bShareRead) return false;
    if (first.bWrite && !second.bShareWrite) return false;
    return true;
}

std::string hexMode(uint32_t nMode) {
    std::ostringstream out;
    out << "0x" << std::hex << nMode;
    return out.str();
}

std::string probePath() { return qrtest::helperProgram("fileapi_share_probe"); }

class ShareModes : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        m_sPath = dir.file("shared.dat");
        qrtest::writeFileText(m_sPath, "contents");
    }
    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{true};
    std::string m_sPath;
};

TEST_F(ShareModes, MatrixInOneProcess) {
    const std::vector<Mode> modes = allModes();
    int nRefused = 0;
    for (const Mode& first : modes) {
        void* hFirst = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFirst, m_sPath.c_str(), first.nValue)) << hexMode(first.nValue);
        for (const Mode& second : modes) {
            SCOPED_TRACE("first " + hexMode(first.nValue) + ", second " + hexMode(second.nValue));
            ReportError(0);
            void* hSecond = nullptr;
            const bool bOpened = QR_OpenFile(&hSecond, m_sPath.c_str(), second.nValue);
            EXPECT_EQ(bOpened, win32Allows(first, second));
            if (bOpened) {
                EXPECT_TRUE(QR_CloseFile(hSecond));
            } else {
                ++nRefused;
                EXPECT_EQ(hSecond, qr::sys::kInvalidHandle);
                EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
                EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
            }
        }
        ASSERT_TRUE(QR_CloseFile(hFirst));
        // Closing drops the slots: a mode that shares nothing opens again.
        void* hAgain = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hAgain, m_sPath.c_str(), 0x0003));
        ASSERT_TRUE(QR_CloseFile(hAgain));
    }
    EXPECT_GT(nRefused, 0);
    EXPECT_EQ(qrtest::readFileBytes(m_sPath).size(), 8u);
}

TEST_F(ShareModes, MatrixAgainstASecondProcess) {
    const std::vector<Mode> modes = allModes();
    std::vector<std::string> args = {"open", m_sPath};
    for (const Mode& mode : modes) args.push_back(hexMode(mode.nValue));
    for (const Mode& first : modes) {
        SCOPED_TRACE("held here: " + hexMode(first.nValue));
        void* hFirst = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFirst, m_sPath.c_str(), first.nValue));
        const qrtest::ChildResult result = qrtest::runChild(probePath(), args);
        ASSERT_TRUE(result.bExited && result.nStatus == 0) << result.sStderr;
        std::istringstream lines(result.sStdout);
        for (const Mode& second : modes) {
            SCOPED_TRACE("opened there: " + hexMode(second.nValue));
            std::string sMode;
            int nOk = -1;
            uint32_t nError = 0;
            ASSERT_TRUE(static_cast<bool>(lines >> sMode >> nOk >> nError)) << result.sStdout;
            EXPECT_EQ(sMode, hexMode(second.nValue));
            EXPECT_EQ(nOk == 1, win32Allows(first, second));
            if (nOk != 1) {
                EXPECT_EQ(nError, qr::sys::kErrorSharingViolation);
            }
        }
        ASSERT_TRUE(QR_CloseFile(hFirst));
    }
}

TEST_F(ShareModes, RefusedCreateLeavesTheFileUnchanged) {
    // Held here with reading shared, writing not: a create elsewhere must not empty the file.
    void* hHeld = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hHeld, m_sPath.c_str(), 0x0103));
    void* hNew = nullptr;
    EXPECT_FALSE(QR_NewFile(&hNew, m_sPath.c_str(), 0x0300));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
    ASSERT_EQ(notices.notices.size(), 2u) << "the question, then the error";
    EXPECT_EQ(notices.notices[1].sText, qr::sys::systemErrorText(qr::sys::kErrorSharingViolation));
    EXPECT_EQ(qrtest::readFileBytes(m_sPath).size(), 8u);

    const qrtest::ChildResult result = qrtest::runChild(probePath(), {"new", m_sPath, "0x300"});
    ASSERT_TRUE(result.bExited && result.nStatus == 0) << result.sStderr;
    EXPECT_EQ(result.sStdout, "0x300 0 " + std::to_string(qr::sys::kErrorSharingViolation) + "\n");
    EXPECT_EQ(qrtest::readFileBytes(m_sPath).size(), 8u);

    // Once the holder closes, the other process may replace the file.
    ASSERT_TRUE(QR_CloseFile(hHeld));
    const qrtest::ChildResult after = qrtest::runChild(probePath(), {"new", m_sPath, "0x300"});
    EXPECT_EQ(after.sStdout, "0x300 1 0\n");
    EXPECT_EQ(qrtest::readFileBytes(m_sPath).size(), 0u);
}

}  // namespace
