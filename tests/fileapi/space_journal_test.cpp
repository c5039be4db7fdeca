// The journal of interrupted edits, in one process: a failure injected at every write, flush,
// read, seek, open and delete of an edit (journal and file alike) leaves a file that the next
// open completes to exactly the state before or after the edit; foreign and damaged journals are
// refused and change nothing; QR_RecoverFile's answers; the journal while its edit runs (locked,
// bounded, absent with the switch off); and the number of flushes an edit costs.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "space_model.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using fileapitest::Bytes;
using qr::sys::Op;

constexpr int64_t kKiB = 1024;

// One edit through the public functions and the same edit on the model.
struct Edit {
    const char* szName;
    char cKind;  // 'a' AllocateDiskSpace, 'f' FreeDiskSpace, 'm' MoveData
    int64_t llA, llB, llC;

    bool apply(void* hFile) const {
        if (cKind == 'a') return AllocateDiskSpace(hFile, llA, llB);
        if (cKind == 'f') return FreeDiskSpace(hFile, llA, llB);
        const _tagMoveData move{llA, llB, llC};
        return MoveData(hFile, &move);
    }
    Bytes after(const Bytes& before) const {
        Bytes bytes = before;
        if (cKind == 'a') fileapitest::modelAllocate(bytes, llA, llB);
        else if (cKind == 'f') fileapitest::modelFree(bytes, llA, llB);
        else fileapitest::modelMove(bytes, llA, llB, llC);
        return bytes;
    }
};

// With a 16 KiB window: small shifts save copies of up to 8 KiB per stretch, large ones none.
const Edit kEdits[] = {
    {"insertion of 40 bytes near the start", 'a', 1000, 40, 0},
    {"insertion of 20 KiB", 'a', 5000, 20 * kKiB, 0},
    {"removal of 77 bytes in the middle", 'f', 100 * kKiB, 77, 0},
    {"removal of 30 KiB at the start", 'f', 0, 30 * kKiB, 0},
    {"move 33 bytes towards the end", 'm', 100, 133, 150 * kKiB},
    {"move 33 bytes towards the end, past it", 'm', 100 * kKiB, 100 * kKiB + 33, 100 * kKiB + 11},
    {"move 50 KiB towards the start", 'm', 60 * kKiB, 10 * kKiB, 120 * kKiB},
    {"move to a range that does not overlap", 'm', 0, 150 * kKiB, 40 * kKiB},
    {"move towards the start by one byte", 'm', 1, 0, 200 * kKiB},
};

class SpaceJournal : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        qr::sys::clearFaults();
        qr::setSpaceFastPath(false);
        qr::setJournalWindow(16 * kKiB);
        m_sPath = dir.file("data.dat");
        m_sJournal = qr::journalPathFor(qr::sys::finalPath(dir.path().c_str()) + "/data.dat");
        m_start = fileapitest::randomBytes(static_cast<std::size_t>(200 * kKiB + 11), 41);
    }
    void TearDown() override {
        qr::sys::clearFaults();
        closeFile();
        qr::setSpaceFastPath(true);
        qr::setJournalWindow(0);
        QR_SetSpaceJournal(true);
        QR_SetProgressHook(nullptr, nullptr);
    }
    void openWith(const Bytes& bytes) {
        closeFile();
        qrtest::writeFileBytes(m_sPath, bytes);
        ASSERT_TRUE(QR_OpenFile(&m_hFile, m_sPath.c_str(), 0));
        ReportError(0);
        notices.clear();
    }
    void closeFile() {
        if (m_hFile != nullptr) QR_CloseFile(m_hFile);
        m_hFile = nullptr;
    }
    // Leaves a hot journal: the edit fails at its nth flush.
    void interrupt(const Edit& edit, int nFlush) {
        openWith(m_start);
        qr::sys::injectFault(Op::Flush, nFlush, EIO);
        ASSERT_FALSE(edit.apply(m_hFile));
        qr::sys::clearFaults();
        closeFile();
        ASSERT_TRUE(qrtest::fileExists(m_sJournal));
    }
    // Opens the file (which recovers it) and tells whether it is now before, after, or neither.
    std::string reopenState(const Bytes& before, const Bytes& after) {
        void* hFile = nullptr;
        if (!QR_OpenFile(&hFile, m_sPath.c_str(), 0)) return "not opened: " + std::to_string(GetDllErrorNo());
        QR_CloseFile(hFile);
        if (qrtest::fileExists(m_sJournal)) return "journal left";
        const Bytes got = fileapitest::readAll(m_sPath);
        if (got == after) return "after";
        if (got == before) return "before";
        return "neither";
    }

    // Writes bytes as a journal its owner alone may open, as an edit makes it.
    static void writeJournal(const std::string& sPath, const Bytes& bytes) {
        std::remove(sPath.c_str());
        void* hJournal = qr::sys::createPrivateFile(sPath.c_str(), qr::sys::kGenericWrite, 0, qr::sys::kCreateNew);
        ASSERT_TRUE(qr::sys::isValidHandle(hJournal));
        uint32_t nWritten = 0;
        EXPECT_TRUE(qr::sys::writeFile(hJournal, bytes.data(), static_cast<uint32_t>(bytes.size()), &nWritten));
        qr::sys::closeHandle(hJournal);
    }

    qrtest::ScratchDir dir{qrtest::memoryFolder()};
    qrtest::RecordingNotices notices{false};
    std::string m_sPath;
    std::string m_sJournal;
    Bytes m_start;
    void* m_hFile = nullptr;
};

TEST_F(SpaceJournal, FailureAtAnyCallIsRecoveredByTheNextOpen) {
    const struct {
        Op op;
        const char* szName;
    } ops[] = {{Op::Write, "write"}, {Op::Flush, "flush"}, {Op::Read, "read"},   {Op::Seek, "seek"},
               {Op::Open, "open"},   {Op::Delete, "delete"}, {Op::Truncate, "cut"}};
    for (const Edit& edit : kEdits) {
        SCOPED_TRACE(edit.szName);
        const Bytes after = edit.after(m_start);
        // How many calls of each kind the whole edit makes.
        openWith(m_start);
        qr::sys::clearFaults();
        ASSERT_TRUE(edit.apply(m_hFile));
        int64_t calls[std::size(ops)];
        for (std::size_t i = 0; i < std::size(ops); ++i) calls[i] = qr::sys::faultCalls(ops[i].op);
        closeFile();
        ASSERT_TRUE(fileapitest::readAll(m_sPath) == after);
        ASSERT_GE(calls[0], 3) << "header, data, done";
        ASSERT_GE(calls[1], 4) << "journal, folder and file flushes";

        int nBefore = 0, nAfter = 0;
        for (std::size_t i = 0; i < std::size(ops); ++i) {
            for (int64_t n = 1; n <= calls[i]; ++n) {
                SCOPED_TRACE(::testing::Message() << ops[i].szName << " " << n << " of " << calls[i]);
                openWith(m_start);
                qr::sys::clearFaults();
                qr::sys::injectFault(ops[i].op, static_cast<int>(n), EIO);
                EXPECT_FALSE(edit.apply(m_hFile));
                // A flush reports the system's own code; everything else 1000000 with its text.
                if (ops[i].op == Op::Flush) {
                    EXPECT_EQ(GetDllErrorNo(), EIO);
                } else {
                    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
                    EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(EIO));
                }
                qr::sys::clearFaults();
                closeFile();
                // Every other attempt, the recovery itself fails at its first write once.
                if (n % 2 == 0 && qrtest::fileExists(m_sJournal)) {
                    qr::sys::injectFault(Op::Write, 1, ENOSPC);
                    void* hFile = nullptr;
                    if (QR_OpenFile(&hFile, m_sPath.c_str(), 0)) QR_CloseFile(hFile);
                    qr::sys::clearFaults();
                }
                const std::string sState = reopenState(m_start, after);
                ASSERT_TRUE(sState == "before" || sState == "after") << sState;
                (sState == "after" ? nAfter : nBefore)++;
            }
        }
        EXPECT_GT(nBefore + nAfter, 10) << "calls to fail";
        EXPECT_GT(nBefore, 0) << "failures before the first write leave the file as it was";
        EXPECT_GT(nAfter, 0) << "failures after it are finished by the next open";
    }
}

TEST_F(SpaceJournal, ForeignAndDamagedJournalsAreRefusedAndChangeNothing) {
    const Edit& edit = kEdits[0];
    interrupt(edit, 4);
    const Bytes data = fileapitest::readAll(m_sPath);
    const Bytes journal = fileapitest::readAll(m_sJournal);
    ASSERT_GT(journal.size(), 512u);
    const std::string sCopy = dir.file("copy.dat");
    const std::string sCopyJournal = qr::journalPathFor(qr::sys::finalPath(dir.path().c_str()) + "/copy.dat");

    const auto flipped = [&](std::vector<std::size_t> offsets) {
        Bytes bytes = journal;
        for (std::size_t nOffset : offsets) bytes[nOffset] ^= 0x20;
        return bytes;
    };
    Bytes grown = data;
    grown.push_back(7);
    const struct {
        const char* szName;
        std::string sFile, sJournalPath;
        Bytes fileBytes, journalBytes;
        uint32_t nCode;
    } rows[] = {
        {"the same bytes under another file", sCopy, sCopyJournal, data, journal, qr::sys::kErrorJournalForeign},
        {"a size that is neither before nor after", m_sPath, m_sJournal, grown, journal, qr::sys::kErrorJournalForeign},
        {"a damaged header", m_sPath, m_sJournal, data, flipped({40}), qr::sys::kErrorJournalDamaged},
        {"both records damaged", m_sPath, m_sJournal, data, flipped({300, 430}), qr::sys::kErrorJournalDamaged},
        {"not a journal at all", m_sPath, m_sJournal, data, Bytes{'h', 'e', 'l', 'l', 'o'}, qr::sys::kErrorJournalDamaged},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        // Rewritten in place: the data file keeps its identity.
        qrtest::writeFileBytes(row.sFile, row.fileBytes);
        writeJournal(row.sJournalPath, row.journalBytes);
        const std::string sText = qr::sys::systemErrorText(row.nCode);
        for (const char* szCall : {"QR_OpenFile", "QR_RecoverFile", "FreeDiskSpace"}) {
            SCOPED_TRACE(szCall);
            ReportError(0);
            notices.clear();
            bool bResult = false;
            if (std::string(szCall) == "QR_OpenFile") {
                void* hFile = nullptr;
                bResult = QR_OpenFile(&hFile, row.sFile.c_str(), 0);
                if (bResult) QR_CloseFile(hFile);
            } else if (std::string(szCall) == "QR_RecoverFile") {
                bool bRecovered = true;
                bResult = QR_RecoverFile(row.sFile.c_str(), &bRecovered);
                EXPECT_FALSE(bRecovered);
            } else {
                // An edit through a handle opened before the journal appeared.
                std::remove(row.sJournalPath.c_str());
                void* hFile = nullptr;
                ASSERT_TRUE(QR_OpenFile(&hFile, row.sFile.c_str(), 0));
                writeJournal(row.sJournalPath, row.journalBytes);
                ReportError(0);
                notices.clear();
                bResult = FreeDiskSpace(hFile, 0, 10);
                QR_CloseFile(hFile);
            }
            EXPECT_FALSE(bResult);
            EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
            EXPECT_EQ(notices.lastText(), sText);
            EXPECT_TRUE(fileapitest::readAll(row.sFile) == row.fileBytes) << "the file changed";
            EXPECT_TRUE(fileapitest::readAll(row.sJournalPath) == row.journalBytes) << "the journal changed";
        }
        if (row.sFile != m_sPath) {
            std::remove(row.sFile.c_str());
            std::remove(row.sJournalPath.c_str());
        }
    }
    // The journal, put back as it was, still finishes the edit.
    qrtest::writeFileBytes(m_sPath, data);
    writeJournal(m_sJournal, journal);
    EXPECT_EQ(reopenState(m_start, edit.after(m_start)), "after");
}

TEST_F(SpaceJournal, RecoverFileSaysWhatItDid) {
    const Edit& edit = kEdits[5];
    const Bytes after = edit.after(m_start);
    bool bRecovered = true;

    qrtest::writeFileBytes(m_sPath, m_start);
    EXPECT_TRUE(QR_RecoverFile(m_sPath.c_str(), &bRecovered));
    EXPECT_FALSE(bRecovered) << "nothing to recover";

    interrupt(edit, 5);
    EXPECT_TRUE(QR_RecoverFile(m_sPath.c_str(), &bRecovered));
    EXPECT_TRUE(bRecovered);
    EXPECT_FALSE(qrtest::fileExists(m_sJournal));
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == after);
    EXPECT_TRUE(QR_RecoverFile(m_sPath.c_str(), nullptr)) << "no flag to set";

    // A journal whose edit never began (its header never reached the disk) is removed.
    writeJournal(m_sJournal, Bytes(300, 0));
    EXPECT_TRUE(QR_RecoverFile(m_sPath.c_str(), &bRecovered));
    EXPECT_FALSE(bRecovered);
    EXPECT_FALSE(qrtest::fileExists(m_sJournal));

    // A journal locked by an edit that is running: recovery is refused, opening goes ahead, an
    // edit through another handle is refused.
    interrupt(edit, 5);
    const Bytes half = fileapitest::readAll(m_sPath);
    void* hLock = qr::sys::createFile(m_sJournal.c_str(), qr::sys::kGenericRead | qr::sys::kGenericWrite, 0,
                                      qr::sys::kOpenExisting, false);
    ASSERT_TRUE(qr::sys::isValidHandle(hLock));
    ReportError(0);
    EXPECT_FALSE(QR_RecoverFile(m_sPath.c_str(), &bRecovered));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0x300));
    EXPECT_FALSE(AllocateDiskSpace(hFile, 0, 10));
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
    QR_CloseFile(hFile);
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == half);
    qr::sys::closeHandle(hLock);
    EXPECT_EQ(reopenState(m_start, after), "after");

    // QR_NewFile finishes the edit before it asks; the user then keeps the file.
    interrupt(edit, 5);
    notices.bAnswer = false;
    ReportError(0);
    EXPECT_FALSE(QR_NewFile(&hFile, m_sPath.c_str(), 0));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrRecorded);
    EXPECT_FALSE(qrtest::fileExists(m_sJournal));
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == after);

    // Refusals.
    ReportError(0);
    EXPECT_FALSE(QR_RecoverFile(dir.file("missing.dat").c_str(), &bRecovered));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorNotFound);
    EXPECT_FALSE(QR_RecoverFile(nullptr, &bRecovered));
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorInvalidArgument);
}

// What the journal looks like from outside while its edit runs, seen from the progress hook.
struct Watch {
    std::string sJournal;
    int nReports = 0;
    int nSeen = 0;         // reports during which the journal existed
    int nLocked = 0;       // ... and could not be opened
    int64_t llLargest = 0; // its largest size
};

void watchJournal(int64_t, int64_t, void* pContext) {
    auto* pWatch = static_cast<Watch*>(pContext);
    ++pWatch->nReports;
    if (!qrtest::fileExists(pWatch->sJournal)) return;
    ++pWatch->nSeen;
        // The size from the folder entry: the journal's own open shares nothing, on every system.
    std::error_code error;
    const auto nSize = std::filesystem::file_size(pWatch->sJournal, error);
    if (!error) pWatch->llLargest = std::max<int64_t>(pWatch->llLargest, static_cast<int64_t>(nSize));
    void* hOther = qr::sys::createFile(pWatch->sJournal.c_str(), qr::sys::kGenericRead,
                                       qr::sys::kShareRead | qr::sys::kShareWrite, qr::sys::kOpenExisting, false);
    if (!qr::sys::isValidHandle(hOther)) {
        if (qr::sys::lastError() == qr::sys::kErrorSharingViolation) ++pWatch->nLocked;
    } else {
        qr::sys::closeHandle(hOther);
    }
}

TEST_F(SpaceJournal, JournalIsLockedBoundedAndAbsentWhenSwitchedOff) {
    const Bytes big = fileapitest::randomBytes(static_cast<std::size_t>(3 * 1024 * kKiB + 9), 42);
    Watch watch{m_sJournal};
    QR_SetProgressHook(&watchJournal, &watch);
    qr::setJournalWindow(256 * kKiB);

    EXPECT_TRUE(QR_SetSpaceJournal(true)) << "on by default";
    openWith(big);
    ASSERT_TRUE(AllocateDiskSpace(m_hFile, 10, 40));  // every stretch saves a copy
    EXPECT_GT(watch.nReports, 10);
    EXPECT_EQ(watch.nSeen, watch.nReports - 2) << "there from the first move on, gone at the end";
    EXPECT_EQ(watch.nLocked, watch.nSeen);
    EXPECT_GT(watch.llLargest, 200 * kKiB);
    EXPECT_LE(watch.llLargest, 256 * kKiB + 4096) << "one window and its header";
    EXPECT_FALSE(qrtest::fileExists(m_sJournal));

    EXPECT_TRUE(QR_SetSpaceJournal(false));
    watch = Watch{m_sJournal};
    ASSERT_TRUE(FreeDiskSpace(m_hFile, 10, 40));
    EXPECT_GE(watch.nReports, 4);  // start, one per 1 MiB piece, end
    EXPECT_EQ(watch.nSeen, 0);
    EXPECT_FALSE(QR_SetSpaceJournal(true));
    closeFile();
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == big);
}

TEST_F(SpaceJournal, FlushesPerStretchAndNoneInside) {
    // A 4 MiB file; the window 256 KiB (a saved copy of up to 128 KiB per stretch).
    const Bytes big = fileapitest::randomBytes(static_cast<std::size_t>(4 * 1024 * kKiB), 43);
    qr::setJournalWindow(256 * kKiB);
    const int64_t llTail = 4 * 1024 * kKiB - 1000;
    const struct {
        const char* szName;
        int64_t llShift;
        int64_t llStretch;  // bytes moved between two flushes of the file
    } rows[] = {
        {"shift of 40 bytes", 40, 40 + 128 * kKiB},
        {"shift of half the window", 128 * kKiB, 128 * kKiB},
        {"shift of a MiB", 1024 * kKiB, 1024 * kKiB},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        openWith(big);
        qr::sys::clearFaults();
        ASSERT_TRUE(AllocateDiskSpace(m_hFile, 1000, row.llShift));
        const int64_t llStretches = (llTail + row.llStretch - 1) / row.llStretch;
        // Per stretch one flush of the file and one of the journal (not after the last); at the
        // start journal and folder; the zero fill's record and the fill itself; the folder at the
        // end.
        // Where the file system keeps marks, one more: the file's mark before the first move.
        bool bFound = false;
        const bool bMarks = qr::sys::fileMark(m_sPath.c_str(), "qrcore.none", nullptr, &bFound);
        EXPECT_EQ(qr::sys::faultCalls(Op::Flush), 2 * llStretches - 1 + 2 + 2 + 1 + (bMarks ? 1 : 0));
        closeFile();
    }
}

}  // namespace
