// Failures injected at the platform seam in the middle of a move, an insertion and a removal
// without the journal: false, the documented error number, and the file exactly as far as the
// steps got. Also the progress hook.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "error/error_state.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "space_model.h"
#include "support/backend.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using fileapitest::Bytes;
using qr::sys::Op;

constexpr int64_t kMiB = 0x100000;

class SpaceFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        qr::setSpaceFastPath(false);
        QR_SetSpaceJournal(false);
        m_sPath = dir.file("faults.dat");
        m_start = fileapitest::randomBytes(static_cast<std::size_t>(3 * kMiB + 5), 11);
    }
    void TearDown() override {
        qr::sys::clearFaults();
        if (m_hFile != nullptr) QR_CloseFile(m_hFile);
        qr::setSpaceFastPath(true);
        QR_SetSpaceJournal(true);
        QR_SetProgressHook(nullptr, nullptr);
    }
    void reopen() {
        qr::sys::clearFaults();
        if (m_hFile != nullptr) QR_CloseFile(m_hFile);
        m_hFile = nullptr;
        qrtest::writeFileBytes(m_sPath, m_start);
        ASSERT_TRUE(QR_OpenFile(&m_hFile, m_sPath.c_str(), 0x0300));  // shared: read beside it
        ReportError(0);
        notices.clear();
    }
    std::string errorListText(int32_t lErrorNo) const {
        const CErrorInfo& state = qr::errorState();
        for (int32_t i = 0; i < state.m_nErrorCount; ++i)
            if (state.m_pErrorList[i].lErrorNo == lErrorNo) return state.m_pErrorList[i].szErrorInfo;
        return qrtest::systemText("未知错误!");
    }

    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
    std::string m_sPath;
    Bytes m_start;
    void* m_hFile = nullptr;
};

struct FaultRow {
    const char* szName;
    Op op;
    int nth;            // which call of op fails
    uint32_t nCode;     // with this code
    int32_t lErrorNo;   // the number the call must report
    int nSteps;         // move pieces completed before the failure
    int nZeroPieces;    // zero-fill pieces completed (insertion), or -1: fill not reached
    bool bCut;          // removal: the file was shortened
};

TEST_F(SpaceFaults, MoveStopsWhereTheFailureHit) {
    // 3 MiB + 5 bytes one byte further on: 4 pieces, each a seek, read, seek, write.
    const int64_t llLength = 3 * kMiB + 5;
    ASSERT_EQ(fileapitest::moveSteps(llLength), 4);
    const FaultRow rows[] = {
        {"second read", Op::Read, 2, EIO, qr::kErrSystem, 1, -1, false},
        {"third write", Op::Write, 3, ENOSPC, qr::kErrSystem, 2, -1, false},
        {"fourth seek (second step's write position)", Op::Seek, 4, EINVAL, qr::kErrSystem, 1, -1, false},
        {"first seek", Op::Seek, 1, EIO, qr::kErrSystem, 0, -1, false},
        {"flush", Op::Flush, 1, EIO, EIO, 4, -1, false},
        {"flush with a code not in the list", Op::Flush, 1, EROFS + 1000, EROFS + 1000, 4, -1, false},
        {"copy buffer", Op::Alloc, 1, ENOMEM, qr::kErrNoMemory, 0, -1, false},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.szName);
        reopen();
        qr::sys::injectFault(row.op, row.nth, row.nCode);
        const _tagMoveData move{0, 1, llLength};
        EXPECT_FALSE(MoveData(m_hFile, &move));
        EXPECT_EQ(GetDllErrorNo(), row.lErrorNo);
        ASSERT_EQ(notices.notices.size(), 1u);
        if (row.lErrorNo == qr::kErrSystem) {
            EXPECT_EQ(notices.notices[0].sText, qr::sys::systemErrorText(row.nCode));
        } else {
            EXPECT_EQ(notices.notices[0].sText, errorListText(row.lErrorNo));
        }
        Bytes model = m_start;
        fileapitest::modelMoveSteps(model, 0, 1, llLength, row.nSteps);
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == model) << "the file is not as far as the steps got";
    }
}

TEST_F(SpaceFaults, InsertionAndRemovalStopWhereTheFailureHit) {
    const int64_t llPos = 3, llSize = 2500;
    const int64_t llTail = static_cast<int64_t>(m_start.size()) - llPos;  // moved by the insertion
    const int nMoveSteps = fileapitest::moveSteps(llTail);
    const FaultRow inserts[] = {
        {"size", Op::Size, 1, EIO, qr::kErrSystem, 0, -1, false},
        {"first read", Op::Read, 1, EIO, qr::kErrSystem, 0, -1, false},
        {"last move write", Op::Write, nMoveSteps, ENOSPC, qr::kErrSystem, nMoveSteps - 1, -1, false},
        {"flush of the move", Op::Flush, 1, EIO, EIO, nMoveSteps, -1, false},
        {"second zero piece", Op::Write, nMoveSteps + 2, ENOSPC, qr::kErrSystem, nMoveSteps, 1, false},
        {"seek of the zero fill", Op::Seek, 2 * nMoveSteps + 1, EINVAL, qr::kErrSystem, nMoveSteps, 0, false},
    };
    for (const FaultRow& row : inserts) {
        SCOPED_TRACE(std::string("insertion: ") + row.szName);
        reopen();
        qr::sys::injectFault(row.op, row.nth, row.nCode);
        EXPECT_FALSE(AllocateDiskSpace(m_hFile, llPos, llSize));
        EXPECT_EQ(GetDllErrorNo(), row.lErrorNo);
        Bytes model = m_start;
        fileapitest::modelMoveSteps(model, llPos, llPos + llSize, llTail, row.nSteps);
        if (row.nZeroPieces >= 0) fileapitest::modelZero(model, llPos, 1024 * row.nZeroPieces);
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == model);
    }

    const int64_t llFreeTail = static_cast<int64_t>(m_start.size()) - llPos - llSize;
    const int nFreeSteps = fileapitest::moveSteps(llFreeTail);
    const FaultRow removals[] = {
        {"size", Op::Size, 1, EIO, qr::kErrSystem, 0, -1, false},
        {"third read", Op::Read, 3, EIO, qr::kErrSystem, 2, -1, false},
        {"flush of the move", Op::Flush, 1, EIO, EIO, nFreeSteps, -1, false},
        {"seek to the new end", Op::Seek, 2 * nFreeSteps + 1, EINVAL, qr::kErrSystem, nFreeSteps, -1, false},
        {"truncation", Op::Truncate, 1, EIO, qr::kErrSystem, nFreeSteps, -1, false},
    };
    for (const FaultRow& row : removals) {
        SCOPED_TRACE(std::string("removal: ") + row.szName);
        reopen();
        qr::sys::injectFault(row.op, row.nth, row.nCode);
        EXPECT_FALSE(FreeDiskSpace(m_hFile, llPos, llSize));
        EXPECT_EQ(GetDllErrorNo(), row.lErrorNo);
        Bytes model = m_start;
        fileapitest::modelMoveSteps(model, llPos + llSize, llPos, llFreeTail, row.nSteps);
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == model) << "a failed removal never shortens the file";
    }
}

TEST_F(SpaceFaults, ProgressHookReportsBoundedAndInOrder) {
    struct Call {
        int64_t llDone, llTotal;
    };
    std::vector<Call> calls;
    auto record = [](int64_t llDone, int64_t llTotal, void* pContext) {
        static_cast<std::vector<Call>*>(pContext)->push_back({llDone, llTotal});
    };
    EXPECT_EQ(QR_SetProgressHook(record, &calls), nullptr);

    const struct {
        const char* szName;
        int64_t llTotal;
        bool (*pfnCall)(void*);
    } rows[] = {
        {"move", 3 * kMiB + 5, [](void* h) { _tagMoveData m{0, 1, 3 * kMiB + 5}; return MoveData(h, &m); }},
        {"insertion", 3 * kMiB + 5 - 7 + 4000, [](void* h) { return AllocateDiskSpace(h, 7, 4000); }},
        {"removal", 3 * kMiB + 5 - 100 - 200000, [](void* h) { return FreeDiskSpace(h, 100, 200000); }},
        {"zero fill of 10 MiB", 10 * kMiB, [](void* h) { return InitiateSpaceIntoZero(h, 0, 10 * kMiB); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        reopen();
        calls.clear();
        ASSERT_TRUE(row.pfnCall(m_hFile));
        ASSERT_GE(calls.size(), 2u);
        EXPECT_LE(calls.size(), 66u) << "more reports than the bound";
        EXPECT_EQ(calls.front().llDone, 0);
        EXPECT_EQ(calls.back().llDone, row.llTotal);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].llTotal, row.llTotal);
            if (i > 0) {
                EXPECT_GT(calls[i].llDone, calls[i - 1].llDone);
            }
        }
    }
    // The in-place path reports its start and its end as well.
    if (qrtest::backend().bRangeEdits) {
        qr::setSpaceFastPath(true);
        reopen();
        calls.clear();
        ASSERT_TRUE(AllocateDiskSpace(m_hFile, 4096, 8192));
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls.back().llDone, static_cast<int64_t>(m_start.size()) - 4096 + 8192);
        qr::setSpaceFastPath(false);
    }

    // A failing call does not claim to be complete; a refused one reports nothing.
    reopen();
    calls.clear();
    qr::sys::injectFault(Op::Write, 2, EIO);
    const _tagMoveData move{0, 1, 3 * kMiB + 5};
    EXPECT_FALSE(MoveData(m_hFile, &move));
    ASSERT_FALSE(calls.empty());
    EXPECT_LT(calls.back().llDone, calls.back().llTotal);
    reopen();
    calls.clear();
    EXPECT_FALSE(FreeDiskSpace(m_hFile, 0, static_cast<int64_t>(m_start.size())));
    EXPECT_TRUE(calls.empty());

    // Replacing and removing the hook.
    auto other = [](int64_t, int64_t, void*) {};
    EXPECT_EQ(QR_SetProgressHook(other, nullptr), record);
    EXPECT_EQ(QR_SetProgressHook(nullptr, nullptr), other);
    calls.clear();
    EXPECT_TRUE(InitiateSpaceIntoZero(m_hFile, 0, 5000));
    EXPECT_TRUE(calls.empty());
}

}  // namespace
