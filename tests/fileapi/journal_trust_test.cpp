// Whose journal is believed and when it is applied, on every backend: journals of edits the space
// functions could never have started, short sources, and the journal's own access.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "journal_fixture.h"

namespace {

using fileapitest::Bytes;
using qr::SpaceEdit;

TEST_F(JournalTrust, EditsNoSpaceFunctionStartsAreNeverApplied) {
    const Bytes start = fileapitest::randomBytes(1000, 7);
    const int64_t k64 = int64_t{1} << 36;
    const struct {
        const char* szName;
        SpaceEdit edit;
        bool bApplied;  // a journal an edit could have left: finished by the open
    } rows[] = {
        {"insertion as AllocateDiskSpace starts it", {SpaceEdit::kAllocate, 10, 11, 990, 1000, 1001, 10, 1}, true},
        {"removal as FreeDiskSpace starts it", {SpaceEdit::kFree, 11, 10, 989, 1000, 999, 0, 0}, true},
        {"removal whose size after is 0", {SpaceEdit::kFree, 1, 0, 999, 1000, 0, 0, 0}, false},
        {"move whose destination lies past both sizes", {SpaceEdit::kMove, 0, 5000, 100, 1000, 1000, 0, 0}, false},
        {"move whose source runs past the end", {SpaceEdit::kMove, 900, 0, 500, 1000, 1000, 0, 0}, false},
        {"insertion of 1 byte with a fill of 2^36", {SpaceEdit::kAllocate, 10, 11, 990, 1000, 1001, 10, k64}, false},
        {"insertion whose tail is not the file's", {SpaceEdit::kAllocate, 10, 11, 500, 1000, 1001, 10, 1}, false},
        {"removal that grows the file", {SpaceEdit::kFree, 11, 10, 989, 1000, 1001, 0, 0}, false},
        {"move with a gap to fill", {SpaceEdit::kMove, 10, 20, 100, 1000, 1000, 10, 10}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        plant(start, row.edit);
        const Bytes journal = fileapitest::readAll(m_sJournal);
        ReportError(0);
        notices.clear();
        void* hFile = nullptr;
        const bool bOpened = QR_OpenFile(&hFile, m_sPath.c_str(), 0);
        if (bOpened) QR_CloseFile(hFile);
        EXPECT_EQ(bOpened, row.bApplied);
        if (row.bApplied) {
            EXPECT_FALSE(qrtest::fileExists(m_sJournal));
            EXPECT_EQ(fileapitest::readAll(m_sPath).size(), static_cast<std::size_t>(row.edit.llSizeAfter));
            continue;
        }
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(qr::sys::kErrorJournalDamaged));
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == start) << "the file changed";
        EXPECT_TRUE(fileapitest::readAll(m_sJournal) == journal) << "the journal changed";
    }
}

TEST_F(JournalTrust, ShortSourceIsAnErrorAndWritesNothingRead) {
    const Bytes start = fileapitest::randomBytes(3 * 1024 * 1024 + 5, 8);
    const struct {
        const char* szName;
        bool bJournal;
        int64_t llSrc, llDst, llLength;
    } rows[] = {
        {"towards the start, journaled", true, 2 * 1024 * 1024, 0, 1024 * 1024 + 100},
        {"towards the start, unjournaled", false, 2 * 1024 * 1024, 0, 1024 * 1024 + 100},
        {"towards the end, unjournaled", false, 100, 3 * 1024 * 1024, 3 * 1024 * 1024},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        QR_SetSpaceJournal(row.bJournal);
        qrtest::writeFileBytes(m_sPath, start);
        void* hFile = nullptr;
        ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0));
        ReportError(0);
        const _tagMoveData move{row.llSrc, row.llDst, row.llLength};
        EXPECT_FALSE(MoveData(hFile, &move));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorShortSource);
        QR_CloseFile(hFile);
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == start) << "bytes were written";
        EXPECT_FALSE(qrtest::fileExists(m_sJournal));
    }
    QR_SetSpaceJournal(true);
}

}  // namespace
