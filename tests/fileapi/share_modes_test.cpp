// Share modes between handles, in one process and against a second real process, compared
// with the Win32 rule: a second open succeeds only when it shares every access the first one
// holds and the first one shares every access the second one asks for. An open that empties the
// file (creating always, truncating) counts as writing, whatever access it asked for.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "error/error_state.h"
#include "fileapi/open_mode.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "support/child.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

constexpr const char* kContents = "contents";
constexpr int64_t kContentsSize = 8;

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

// How the second open is made: through the exported functions or the platform call with a
// creation disposition; the probe program takes the same word.
struct Disposition {
    const char* szName;
    const char* szProbe;
    bool bEmpties;  // empties an existing file, so it counts as writing for the check
    bool bNeedsWrite;  // refused with kErrorInvalidArgument without write access
};

const Disposition kDispositions[] = {
    {"QR_OpenFile", "open", false, false},
    {"QR_NewFile", "new", true, false},
    {"open always", "4", false, false},
    {"truncate existing", "5", true, true},
};

// The Win32 rule, written from its definition.
bool win32Allows(const Mode& first, const Mode& second) {
    if (second.bRead && !first.bShareRead) return false;
    if (second.bWrite && !first.bShareWrite) return false;
    if (first.bRead && !second.bShareRead) return false;
    if (first.bWrite && !second.bShareWrite) return false;
    return true;
}

struct Outcome {
    bool bOk;
    uint32_t nError;  // when refused
    int64_t llSize;   // the file's size right after the attempt
};

Outcome expected(const Mode& first, const Mode& second, const Disposition& disposition) {
    if (disposition.bNeedsWrite && !second.bWrite) return {false, qr::sys::kErrorInvalidArgument, kContentsSize};
    Mode checked = second;
    checked.bWrite = checked.bWrite || disposition.bEmpties;
    if (!win32Allows(first, checked)) return {false, qr::sys::kErrorSharingViolation, kContentsSize};
    return {true, 0, disposition.bEmpties ? 0 : kContentsSize};
}

std::string hexMode(uint32_t nMode) {
    std::ostringstream out;
    out << "0x" << std::hex << nMode;
    return out.str();
}

std::string probePath() { return qrtest::helperProgram("fileapi_share_probe"); }

// The size from the folder entry: reading the file could be refused by the very share modes tested.
int64_t sizeOf(const std::string& sPath) {
    std::error_code error;
    const auto nSize = std::filesystem::file_size(sPath, error);
    return error ? -1 : static_cast<int64_t>(nSize);
}

class ShareModes : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        m_sPath = dir.file("shared.dat");
        qrtest::writeFileText(m_sPath, kContents);
    }

    // The second open of the table, made in this process; the file gets its contents back.
    Outcome attempt(const Disposition& disposition, const Mode& second) {
        ReportError(0);
        notices.clear();
        void* hSecond = nullptr;
        bool bOk = false;
        const std::string sProbe = disposition.szProbe;
        if (sProbe == "open" || sProbe == "new") {
            bOk = sProbe == "open" ? QR_OpenFile(&hSecond, m_sPath.c_str(), second.nValue)
                                   : QR_NewFile(&hSecond, m_sPath.c_str(), second.nValue);
            if (!bOk) {
                EXPECT_EQ(hSecond, qr::sys::kInvalidHandle);
                EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
                EXPECT_FALSE(notices.notices.empty());
                if (!notices.notices.empty()) {
                    EXPECT_EQ(notices.notices.back().sText, qr::sys::systemErrorText(qr::sys::lastError()));
                }
            }
        } else {
            qr::OpenMode mode;
            EXPECT_TRUE(qr::decodeOpenMode(second.nValue, &mode));
            hSecond = qr::sys::createFile(m_sPath.c_str(), mode.nAccess, mode.nShare,
                                          static_cast<uint32_t>(std::stoul(sProbe)), false);
            bOk = qr::sys::isValidHandle(hSecond);
        }
        const Outcome outcome{bOk, bOk ? 0u : qr::sys::lastError(), sizeOf(m_sPath)};
        if (bOk) {
            EXPECT_TRUE(QR_CloseFile(hSecond));
        }
        if (outcome.llSize != kContentsSize) qrtest::writeFileText(m_sPath, kContents);
        return outcome;
    }

    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{true};
    std::string m_sPath;
};

void expectOutcome(const Outcome& got, const Outcome& want) {
    EXPECT_EQ(got.bOk, want.bOk);
    if (!want.bOk) {
        EXPECT_EQ(got.nError, want.nError) << qr::sys::systemErrorText(got.nError);
    }
    EXPECT_EQ(got.llSize, want.llSize) << "a refused open keeps every byte; a granted one empties the file only when its disposition says so";
}

TEST_F(ShareModes, MatrixInOneProcess) {
    const std::vector<Mode> modes = allModes();
    int nRefused = 0;
    for (const Disposition& disposition : kDispositions) {
        for (const Mode& first : modes) {
            void* hFirst = nullptr;
            ASSERT_TRUE(QR_OpenFile(&hFirst, m_sPath.c_str(), first.nValue)) << hexMode(first.nValue);
            for (const Mode& second : modes) {
                SCOPED_TRACE(std::string(disposition.szName) + ": held " + hexMode(first.nValue) + ", then " +
                             hexMode(second.nValue));
                const Outcome want = expected(first, second, disposition);
                expectOutcome(attempt(disposition, second), want);
                nRefused += want.bOk ? 0 : 1;
            }
            ASSERT_TRUE(QR_CloseFile(hFirst));
            // Closing drops the slots: a mode that shares nothing opens again.
            void* hAgain = nullptr;
            ASSERT_TRUE(QR_OpenFile(&hAgain, m_sPath.c_str(), 0x0003));
            ASSERT_TRUE(QR_CloseFile(hAgain));
        }
    }
    EXPECT_GT(nRefused, 0);
    EXPECT_EQ(sizeOf(m_sPath), kContentsSize);
}

// Two threads open the file at the same moment, each refusing to share it: one of them gets it
// and the other is refused, every round (neither both, nor neither).
TEST_F(ShareModes, ExclusiveOpensFromTwoThreadsAdmitOne) {
    constexpr int kRounds = 300;
    std::atomic<int> nArrived{0};
    void* handles[2] = {};
    uint32_t errors[2] = {};
    auto open = [&](int nThread, int nRound) {
        ++nArrived;
        while (nArrived.load() < 2 * (nRound + 1)) {
        }
        handles[nThread] = qr::sys::createFile(m_sPath.c_str(), qr::sys::kGenericRead, 0, qr::sys::kOpenExisting, false);
        errors[nThread] = qr::sys::lastError();
    };
    int nBoth = 0, nNeither = 0, nOtherErrors = 0;
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        std::thread first(open, 0, nRound), second(open, 1, nRound);
        first.join();
        second.join();
        int nOpened = 0;
        for (int i = 0; i < 2; ++i) {
            if (qr::sys::isValidHandle(handles[i])) {
                ++nOpened;
                EXPECT_TRUE(qr::sys::closeHandle(handles[i]));
            } else if (errors[i] != qr::sys::kErrorSharingViolation) {
                ++nOtherErrors;
            }
        }
        nBoth += nOpened == 2 ? 1 : 0;
        nNeither += nOpened == 0 ? 1 : 0;
    }
    EXPECT_EQ(nBoth, 0);
    EXPECT_EQ(nNeither, 0);
    EXPECT_EQ(nOtherErrors, 0);
}

TEST_F(ShareModes, MatrixAgainstASecondProcess) {
    const std::vector<Mode> modes = allModes();
    for (const Disposition& disposition : kDispositions) {
        std::vector<std::string> args = {disposition.szProbe, m_sPath, kContents};
        for (const Mode& mode : modes) args.push_back(hexMode(mode.nValue));
        for (const Mode& first : modes) {
            SCOPED_TRACE(std::string(disposition.szName) + ", held here: " + hexMode(first.nValue));
            void* hFirst = nullptr;
            ASSERT_TRUE(QR_OpenFile(&hFirst, m_sPath.c_str(), first.nValue));
            const qrtest::ChildResult result = qrtest::runChild(probePath(), args);
            ASSERT_TRUE(result.bExited && result.nStatus == 0) << result.sStderr;
            std::istringstream lines(result.sStdout);
            for (const Mode& second : modes) {
                SCOPED_TRACE("opened there: " + hexMode(second.nValue));
                std::string sMode;
                int nOk = -1;
                Outcome got{};
                ASSERT_TRUE(static_cast<bool>(lines >> sMode >> nOk >> got.nError >> got.llSize)) << result.sStdout;
                EXPECT_EQ(sMode, hexMode(second.nValue));
                got.bOk = nOk == 1;
                expectOutcome(got, expected(first, second, disposition));
            }
            ASSERT_TRUE(QR_CloseFile(hFirst));
            ASSERT_EQ(sizeOf(m_sPath), kContentsSize);
        }
    }
}

TEST_F(ShareModes, RefusedCreateLeavesTheFileUnchanged) {
    // Held here read-only, sharing reading only: a create elsewhere that asks only to read must
    // still not empty the file, since emptying it is writing.
    void* hHeld = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hHeld, m_sPath.c_str(), 0x0101));
    void* hNew = nullptr;
    EXPECT_FALSE(QR_NewFile(&hNew, m_sPath.c_str(), 0x0301));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
    ASSERT_EQ(notices.notices.size(), 2u) << "the question, then the error";
    EXPECT_EQ(notices.notices[1].sText, qr::sys::systemErrorText(qr::sys::kErrorSharingViolation));
    EXPECT_EQ(sizeOf(m_sPath), kContentsSize);

    const std::string sRefused = std::to_string(qr::sys::kErrorSharingViolation);
    const qrtest::ChildResult result = qrtest::runChild(probePath(), {"new", m_sPath, kContents, "0x301", "0x300"});
    ASSERT_TRUE(result.bExited && result.nStatus == 0) << result.sStderr;
    EXPECT_EQ(result.sStdout, "0x301 0 " + sRefused + " 8\n0x300 0 " + sRefused + " 8\n");
    EXPECT_EQ(sizeOf(m_sPath), kContentsSize);

    // Once the holder closes, the other process may replace the file; its handle then holds only
    // the access it asked for, so an open here that refuses writers succeeds beside it.
    ASSERT_TRUE(QR_CloseFile(hHeld));
    void* hReader = nullptr;
    ASSERT_TRUE(QR_NewFile(&hReader, m_sPath.c_str(), 0x0301));
    EXPECT_EQ(sizeOf(m_sPath), 0);
    void* hDenyWriters = nullptr;
    EXPECT_TRUE(QR_OpenFile(&hDenyWriters, m_sPath.c_str(), 0x0101));
    EXPECT_TRUE(QR_CloseFile(hDenyWriters));
    EXPECT_TRUE(QR_CloseFile(hReader));
}

}  // namespace
