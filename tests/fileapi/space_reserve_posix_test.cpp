// The space functions on a full disk and past the process's file-size limit: an edit that would
// grow the file beyond what the disk (or the limit) allows fails before any byte moves, with
// 1000000 and the system's text, and leaves the file exactly as it was. The full disk is a
// small tmpfs mounted for the test (skipped where the test may not mount); the limit is set in
// a second process.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "space_model.h"
#include "support/child.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using fileapitest::Bytes;

constexpr int64_t kKiB = 1024;

// One edit that needs the file to grow by more than there is room for.
struct GrowRow {
    const char* szName;
    const char* szOp;        // space_child's operation name
    int64_t llA, llB, llC;   // its numbers (llC only for a move)
};

bool callEdit(void* hFile, const GrowRow& row) {
    const std::string sOp = row.szOp;
    if (sOp == "allocate") return AllocateDiskSpace(hFile, row.llA, row.llB);
    if (sOp == "zero") return InitiateSpaceIntoZero(hFile, row.llA, row.llB);
    const _tagMoveData move{row.llA, row.llB, row.llC};
    return MoveData(hFile, &move);
}

class SpaceReserve : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        qr::sys::clearFaults();
    }
    void TearDown() override {
        if (!m_sMount.empty()) ::umount2(m_sMount.c_str(), MNT_DETACH);
    }
    // A 1 MiB tmpfs at sPath, unmounted when the test ends; false (errno set) where the test may
    // not mount one.
    bool mountSmallDisk(const std::string& sPath) {
        if (::mkdir(sPath.c_str(), 0700) != 0 || ::mount("tmpfs", sPath.c_str(), "tmpfs", 0, "size=1m") != 0) return false;
        m_sMount = sPath;
        return true;
    }
    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
    std::string m_sMount;
};

// A 1 MiB tmpfs holding a 600 KiB file: each edit asks for more than the 424 KiB left.
TEST_F(SpaceReserve, FullDiskLeavesTheFileAsItWas) {
    const std::string sMount = dir.file("small");
    if (!mountSmallDisk(sMount)) GTEST_SKIP() << "cannot mount a small tmpfs here (" << qrtest::errnoText(errno) << "); needs root";

    const std::string sPath = sMount + "/full.dat";
    const Bytes start = fileapitest::randomBytes(static_cast<std::size_t>(600 * kKiB), 21);
    const GrowRow rows[] = {
        {"insertion, chunked", "allocate", 100, 600 * kKiB, 0},
        {"insertion at whole blocks (tmpfs cannot insert in place)", "allocate", 4096, 600 * kKiB, 0},
        {"move past the end", "move", 0, 600 * kKiB, 500 * kKiB},
        {"zero fill past the end", "zero", 550 * kKiB, 600 * kKiB, 0},
    };
    for (const bool bJournal : {true, false}) {
      QR_SetSpaceJournal(bJournal);
      for (const GrowRow& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.szName << (bJournal ? ", journaled" : ", without journal"));
        qrtest::writeFileBytes(sPath, start);
        void* hFile = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 0));
        ReportError(0);
        notices.clear();
        EXPECT_FALSE(callEdit(hFile, row));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(qr::sys::lastError(), static_cast<uint32_t>(ENOSPC)) << qr::sys::systemErrorText(qr::sys::lastError());
        EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(ENOSPC));
        QR_CloseFile(hFile);
        EXPECT_TRUE(fileapitest::readAll(sPath) == start) << "the file changed";
        EXPECT_FALSE(qrtest::fileExists(sMount + "/.full.dat.qrjournal")) << "a journal was left";
      }
    }
    QR_SetSpaceJournal(true);

    // Space given back by the failures serves an edit that fits (near the end, so that the
    // journal saves no copy: a small shift saves up to the tail in the journal).
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 0));
    ReportError(0);
    ASSERT_TRUE(AllocateDiskSpace(hFile, 550 * kKiB, 300 * kKiB)) << GetDllErrorNo();
    QR_CloseFile(hFile);
    Bytes model = start;
    fileapitest::modelAllocate(model, 550 * kKiB, 300 * kKiB);
    EXPECT_TRUE(fileapitest::readAll(sPath) == model);
}

// A 1 MiB tmpfs holding an 800 KiB file: the insertion itself needs a page, its journal (a
// 256 KiB window: two copy areas of 128 KiB) more than is left once the first area is written.
TEST_F(SpaceReserve, JournalSpaceIsReservedBeforeTheFirstMove) {
    const std::string sMount = dir.file("small");
    if (!mountSmallDisk(sMount)) GTEST_SKIP() << "cannot mount a small tmpfs here (" << qrtest::errnoText(errno) << "); needs root";
    qr::setSpaceFastPath(false);
    qr::setJournalWindow(256 * kKiB);
    const std::string sPath = sMount + "/full.dat";
    const Bytes start = fileapitest::randomBytes(static_cast<std::size_t>(800 * kKiB), 23);
    qrtest::writeFileBytes(sPath, start);
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 0));
    ReportError(0);
    EXPECT_FALSE(AllocateDiskSpace(hFile, 100, 40));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(qr::sys::lastError(), static_cast<uint32_t>(ENOSPC)) << qr::sys::systemErrorText(qr::sys::lastError());
    QR_CloseFile(hFile);
    qr::setJournalWindow(0);
    qr::setSpaceFastPath(true);
    EXPECT_FALSE(qrtest::fileExists(sMount + "/.full.dat.qrjournal")) << "a journal was left";
    EXPECT_TRUE(fileapitest::readAll(sPath) == start) << "the file changed";
}

// A second process that may not write files above 700 KiB, on a 600 KiB file.
TEST_F(SpaceReserve, FileSizeLimitLeavesTheFileAsItWas) {
    const std::string sPath = dir.file("limited.dat");
    const std::string sChild = qrtest::helperProgram("fileapi_space_child");
    const Bytes start = fileapitest::randomBytes(static_cast<std::size_t>(600 * kKiB), 22);
    const struct {
        GrowRow row;
        const char* szExpected;  // the child's line: result, error number, last system error
    } rows[] = {
        {{"insertion", "allocate", 100, 200 * kKiB, 0}, "0 1000000 27\n"},
        {{"move past the limit", "move", 0, 600 * kKiB, 300 * kKiB}, "0 1000000 27\n"},
        {{"zero fill past the limit", "zero", 650 * kKiB, 100 * kKiB, 0}, "0 1000000 27\n"},
        {{"insertion below the limit", "allocate", 100, 50 * kKiB, 0}, "1 0 0\n"},
    };
    ASSERT_EQ(EFBIG, 27);
    for (const auto& entry : rows) {
        const GrowRow& row = entry.row;
        SCOPED_TRACE(row.szName);
        qrtest::writeFileBytes(sPath, start);
        std::vector<std::string> args = {"--fsize-limit", std::to_string(700 * kKiB), sPath, row.szOp,
                                         std::to_string(row.llA), std::to_string(row.llB)};
        if (std::string(row.szOp) == "move") args.push_back(std::to_string(row.llC));
        const qrtest::ChildResult result = qrtest::runChild(sChild, args);
        ASSERT_TRUE(result.bExited) << result.sStderr;
        EXPECT_EQ(result.sStdout, entry.szExpected);
        Bytes model = start;
        if (entry.szExpected[0] == '1') fileapitest::modelAllocate(model, row.llA, row.llB);
        EXPECT_TRUE(fileapitest::readAll(sPath) == model) << "the file is not as expected";
    }
}

}  // namespace
