// The space functions against the byte-vector model: random edit sequences on both paths,
// positions beyond 4 GiB, failures injected at the platform seam, short reads, progress.
#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
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
constexpr int64_t kBlock = 4096;
// The sharing field of an open mode that lets others read and write beside the handle.
constexpr uint32_t kShareOthers = 0x0300;

// Whether this platform and file system insert ranges in place (ext4 and XFS do; tmpfs does
// not; Windows has no such call).
bool insertSupported(const std::string& sFolder) {
    const std::string sPath = sFolder + "/probe.dat";
    void* hFile = qr::sys::createFile(sPath.c_str(), qr::sys::kGenericRead | qr::sys::kGenericWrite, 0,
                                      qr::sys::kCreateAlways, false);
    if (!qr::sys::isValidHandle(hFile)) return false;
    int64_t llPos = 0;
    const bool bOk = qr::sys::setFilePointer(hFile, 4 * kBlock, qr::sys::kSeekBegin, &llPos) &&
                     qr::sys::setEndOfFile(hFile) && qr::sys::insertRange(hFile, kBlock, kBlock);
    qr::sys::closeHandle(hFile);
    qr::sys::deleteFile(sPath.c_str());
    return bOk;
}

class SpaceEdits : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        qr::sys::clearFaults();
        m_sPath = dir.file("edits.dat");
    }
    void TearDown() override {
        qr::sys::clearFaults();
        closeFile();
        qr::setSpaceFastPath(true);
        QR_SetSpaceJournal(true);
        qr::setJournalWindow(0);
        QR_SetProgressHook(nullptr, nullptr);
    }
    void openWith(const Bytes& bytes) {
        closeFile();
        qrtest::writeFileBytes(m_sPath, bytes);
        // Read and write, shared: the test reads the file beside the handle (kShareOthers).
        ASSERT_TRUE(QR_OpenFile(&m_hFile, m_sPath.c_str(), kShareOthers));
    }
    void closeFile() {
        if (m_hFile != nullptr) QR_CloseFile(m_hFile);
        m_hFile = nullptr;
    }
    Bytes contents() const { return fileapitest::readAll(m_sPath); }

    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
    std::string m_sPath;
    void* m_hFile = nullptr;
};

// A position or size: whole blocks half of the time (the in-place path's case), else any byte.
int64_t pick(std::mt19937& engine, int64_t llLimit, bool bAligned) {
    if (llLimit <= 0) return 0;
    const int64_t llValue = static_cast<int64_t>(engine() % static_cast<uint64_t>(llLimit));
    return bAligned ? llValue / kBlock * kBlock : llValue;
}

TEST_F(SpaceEdits, RandomSequencesMatchTheModelOnEveryPath) {
    const int64_t sizes[] = {5000, 70000, kMiB - 1, kMiB + 1, 2 * kMiB + 1, 3 * kMiB + 5};
    int nCompared = 0;
    // In place where whole blocks allow (journaled chunked move otherwise); the journaled chunked
    // move with a small window (many stretches, saved copies cut at every boundary); and the
    // chunked move without the journal.
    const struct {
        const char* szName;
        bool bFast, bJournal;
        int64_t llWindow;
    } modes[] = {{"in place", true, true, 0}, {"journaled", false, true, 65536}, {"chunked", false, false, 0}};
    for (const auto& mode : modes) {
        const bool bFast = mode.bFast;
        qr::setSpaceFastPath(bFast);
        QR_SetSpaceJournal(mode.bJournal);
        qr::setJournalWindow(mode.llWindow);
        for (uint32_t nSeed = 1; nSeed <= 6; ++nSeed) {
            SCOPED_TRACE(::testing::Message() << mode.szName << ", seed " << nSeed);
            std::mt19937 engine(nSeed);
            Bytes model = fileapitest::randomBytes(static_cast<std::size_t>(sizes[nSeed - 1]), nSeed);
            openWith(model);
            for (int nOp = 0; nOp < 12; ++nOp) {
                const auto llSize = static_cast<int64_t>(model.size());
                const bool bAligned = engine() % 2 == 0;
                const int nKind = static_cast<int>(engine() % 4);
                bool bExpected = false, bGot = false;
                std::string sOp;
                if (nKind == 0) {
                    const int64_t llPos = pick(engine, llSize + 2, bAligned);
                    const int64_t llLen = std::max<int64_t>(bAligned ? kBlock : 1, pick(engine, kMiB + 3, bAligned));
                    sOp = "allocate " + std::to_string(llPos) + "+" + std::to_string(llLen);
                    bExpected = fileapitest::modelAllocate(model, llPos, llLen);
                    bGot = AllocateDiskSpace(m_hFile, llPos, llLen);
                } else if (nKind == 1) {
                    const int64_t llPos = pick(engine, llSize, bAligned);
                    const int64_t llLen = std::max<int64_t>(bAligned ? kBlock : 1, pick(engine, llSize / 2 + 1, bAligned));
                    sOp = "free " + std::to_string(llPos) + "+" + std::to_string(llLen);
                    bExpected = fileapitest::modelFree(model, llPos, llLen);
                    bGot = FreeDiskSpace(m_hFile, llPos, llLen);
                } else if (nKind == 2) {
                    const int64_t llSrc = pick(engine, llSize, false);
                    const int64_t llLen = 1 + pick(engine, llSize - llSrc, false);
                    // Destinations near the source (overlapping by one byte or a chunk) as often
                    // as anywhere, and sometimes past the end of the file.
                    const int64_t deltas[] = {1, -1, kMiB, -kMiB, kMiB + 1, pick(engine, llSize + 100, false) - llSrc};
                    const int64_t llDst = std::max<int64_t>(0, llSrc + deltas[engine() % 6]);
                    sOp = "move " + std::to_string(llSrc) + "->" + std::to_string(llDst) + " " + std::to_string(llLen);
                    bExpected = fileapitest::modelMove(model, llSrc, llDst, llLen);
                    const _tagMoveData move{llSrc, llDst, llLen};
                    bGot = MoveData(m_hFile, &move);
                } else {
                    const int64_t llPos = pick(engine, llSize + 3000, false);
                    const int64_t llLen = pick(engine, 5000, false);
                    sOp = "zero " + std::to_string(llPos) + "+" + std::to_string(llLen);
                    fileapitest::modelZero(model, llPos, llLen);
                    bExpected = true;
                    bGot = InitiateSpaceIntoZero(m_hFile, llPos, llLen);
                }
                SCOPED_TRACE(sOp);
                ASSERT_EQ(bGot, bExpected);
                ASSERT_EQ(GetDllErrorNo(), 0);
                ASSERT_TRUE(contents() == model) << "file differs from the model";
                ++nCompared;
            }
        }
        if (bFast) EXPECT_GT(qr::sys::faultCalls(Op::RangeEdit), 10) << "the in-place path was hardly tried";
        else EXPECT_EQ(qr::sys::faultCalls(Op::RangeEdit), 0);
        qr::sys::clearFaults();
    }
    qr::setJournalWindow(0);
    EXPECT_EQ(nCompared, 216);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(SpaceEdits, InPlacePathIsTakenForWholeBlocks) {
    if (!insertSupported(dir.path())) GTEST_SKIP() << "the platform or scratch file system cannot insert ranges";
    Bytes model = fileapitest::randomBytes(static_cast<std::size_t>(64 * kBlock + 17), 3);
    openWith(model);
    const int64_t llReads = qr::sys::faultCalls(Op::Read);
    const int64_t llFlushes = qr::sys::faultCalls(Op::Flush);
    ASSERT_TRUE(AllocateDiskSpace(m_hFile, 8 * kBlock, 3 * kBlock));
    ASSERT_TRUE(fileapitest::modelAllocate(model, 8 * kBlock, 3 * kBlock));
    ASSERT_TRUE(FreeDiskSpace(m_hFile, 2 * kBlock, 5 * kBlock));
    ASSERT_TRUE(fileapitest::modelFree(model, 2 * kBlock, 5 * kBlock));
    EXPECT_EQ(qr::sys::faultCalls(Op::Read), llReads) << "no data went through memory";
    EXPECT_EQ(qr::sys::faultCalls(Op::Flush), llFlushes + 2) << "each edit ends flushed";
    EXPECT_TRUE(contents() == model);

    // The file system refusing (here: injected) falls back to the chunked move, same bytes.
    qr::sys::injectFault(Op::RangeEdit, 1, EOPNOTSUPP);
    ASSERT_TRUE(AllocateDiskSpace(m_hFile, 4 * kBlock, kBlock));
    ASSERT_TRUE(fileapitest::modelAllocate(model, 4 * kBlock, kBlock));
    EXPECT_GT(qr::sys::faultCalls(Op::Read), llReads);
    EXPECT_TRUE(contents() == model);
    EXPECT_EQ(GetDllErrorNo(), 0);

    // A failed flush after an in-place edit reports the system's code itself.
    qr::sys::injectFault(Op::Flush, 1, EIO);
    EXPECT_FALSE(FreeDiskSpace(m_hFile, 0, kBlock));
    EXPECT_EQ(GetDllErrorNo(), EIO);
}

TEST_F(SpaceEdits, PositionsBeyondFourGiB) {
    // A sparse file of 5 GB and a few MiB: edits near its end, on both paths.
    const int64_t llBase = 5000003584LL;  // whole blocks, above 4 GiB
    for (const bool bFast : {true, false}) {
        SCOPED_TRACE(bFast ? "in place" : "chunked");
        qr::setSpaceFastPath(bFast);
        closeFile();
        const Bytes tail = fileapitest::randomBytes(static_cast<std::size_t>(2 * kMiB + 3), 9);
        {
            void* hNew = nullptr;
            notices.bAnswer = true;
            ASSERT_TRUE(QR_NewFile(&hNew, m_sPath.c_str(), kShareOthers));
            ASSERT_TRUE(QR_Seek(hNew, llBase, 0));
            ASSERT_EQ(QR_Write(hNew, tail.data(), static_cast<uint32_t>(tail.size())), tail.size());
            m_hFile = hNew;
        }
        Bytes model = tail;  // the model covers the file from llBase on
        ASSERT_TRUE(AllocateDiskSpace(m_hFile, llBase + 8 * kBlock, 2 * kBlock));
        ASSERT_TRUE(fileapitest::modelAllocate(model, 8 * kBlock, 2 * kBlock));
        ASSERT_TRUE(FreeDiskSpace(m_hFile, llBase + 3 * kBlock, kBlock));
        ASSERT_TRUE(fileapitest::modelFree(model, 3 * kBlock, kBlock));
        ASSERT_TRUE(AllocateDiskSpace(m_hFile, llBase + 12345, 777));
        ASSERT_TRUE(fileapitest::modelAllocate(model, 12345, 777));
        ASSERT_TRUE(FreeDiskSpace(m_hFile, llBase + 999, 70001));
        ASSERT_TRUE(fileapitest::modelFree(model, 999, 70001));
        const _tagMoveData move{llBase + 5, llBase + kMiB + 6, kMiB + 1};
        ASSERT_TRUE(MoveData(m_hFile, &move));
        ASSERT_TRUE(fileapitest::modelMove(model, 5, kMiB + 6, kMiB + 1));
        EXPECT_EQ(GetDllErrorNo(), 0);
        int64_t llSize = 0;
        ASSERT_TRUE(qr::sys::getFileSize(m_hFile, &llSize));
        EXPECT_EQ(llSize, llBase + static_cast<int64_t>(model.size()));
        EXPECT_TRUE(fileapitest::readRange(m_sPath, llBase, model.size()) == model);
        EXPECT_TRUE(fileapitest::readRange(m_sPath, llBase - 4, 4) == Bytes(4, 0));
    }
}

TEST_F(SpaceEdits, DocumentedMoveShapes) {
    QR_SetSpaceJournal(false);  // the pieces of the move itself, without the journal's reads
    // 3 MiB + 5 bytes one byte further on: three full pieces from the end, then 5 bytes.
    const Bytes start = fileapitest::randomBytes(static_cast<std::size_t>(3 * kMiB + 16), 4);
    openWith(start);
    Bytes model = start;
    const int64_t llReads = qr::sys::faultCalls(Op::Read);
    const _tagMoveData forward{2, 3, 3 * kMiB + 5};
    ASSERT_TRUE(MoveData(m_hFile, &forward));
    EXPECT_EQ(qr::sys::faultCalls(Op::Read) - llReads, 4);
    fileapitest::modelMove(model, 2, 3, 3 * kMiB + 5);
    EXPECT_TRUE(contents() == model);

    // 2 MiB one byte earlier: front to back; the last position keeps its old value.
    const _tagMoveData backward{1, 0, 2 * kMiB};
    const unsigned char cLast = model[2 * kMiB];
    ASSERT_TRUE(MoveData(m_hFile, &backward));
    fileapitest::modelMove(model, 1, 0, 2 * kMiB);
    EXPECT_EQ(model[2 * kMiB], cLast);
    EXPECT_TRUE(contents() == model);

    // A block below 1 MiB is one step.
    const int64_t llBefore = qr::sys::faultCalls(Op::Read);
    const _tagMoveData small{100, 50000, 4000};
    ASSERT_TRUE(MoveData(m_hFile, &small));
    EXPECT_EQ(qr::sys::faultCalls(Op::Read) - llBefore, 1);
}

TEST_F(SpaceEdits, ShortSourceIsRefusedAndWritesNothing) {
    const Bytes digits = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    const struct {
        const char* szName;
        int64_t llSrc, llDst, llLength;
    } rows[] = {
        {"towards the start", 8, 0, 5},
        {"towards the end", 7, 9, 5},
        {"source entirely past the end", 12, 0, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        openWith(digits);
        ReportError(0);
        const _tagMoveData move{row.llSrc, row.llDst, row.llLength};
        EXPECT_FALSE(MoveData(m_hFile, &move));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorShortSource);
        EXPECT_TRUE(contents() == digits);
    }
}

TEST_F(SpaceEdits, InvalidArgumentsTouchNothing) {
    const Bytes start = fileapitest::randomBytes(static_cast<std::size_t>(3 * kMiB), 5);
    openWith(start);
    const uint32_t kInvalid = qr::sys::kErrorInvalidArgument;
    const struct {
        const char* szName;
        bool (*pfnCall)(void*);
        uint32_t nError;  // the system's code (the zero fill's seek is refused by the system itself)
    } rows[] = {
        {"move from before 0", [](void* h) { _tagMoveData m{-10, 0, 3 * kMiB}; return MoveData(h, &m); }, kInvalid},
        {"move to before 0", [](void* h) { _tagMoveData m{10, -1, 2 * kMiB}; return MoveData(h, &m); }, kInvalid},
        {"move past the largest offset", [](void* h) { _tagMoveData m{0, INT64_MAX - 5, 10}; return MoveData(h, &m); }, kInvalid},
        {"move without a block", [](void* h) { return MoveData(h, nullptr); }, kInvalid},
        {"allocate before 0", [](void* h) { return AllocateDiskSpace(h, -1, 5); }, kInvalid},
        {"allocate overflowing", [](void* h) { return AllocateDiskSpace(h, 5, INT64_MAX); }, kInvalid},
        {"free before 0", [](void* h) { return FreeDiskSpace(h, -kMiB, 2 * kMiB); }, kInvalid},
        {"free overflowing", [](void* h) { return FreeDiskSpace(h, 2, INT64_MAX - 1); }, kInvalid},
        {"zero before 0", [](void* h) { return InitiateSpaceIntoZero(h, -1, 5); }, qrtest::backend().nNegativeSeekError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        EXPECT_FALSE(row.pfnCall(m_hFile));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(qr::sys::lastError(), row.nError);
        EXPECT_TRUE(contents() == start);
    }
    // A handle open for reading only: the first write fails, nothing changes.
    closeFile();
    ASSERT_TRUE(QR_OpenFile(&m_hFile, m_sPath.c_str(), kShareOthers | 1));
    ReportError(0);
    EXPECT_FALSE(AllocateDiskSpace(m_hFile, 0, kBlock));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_TRUE(contents() == start);
}

}  // namespace
