// Whose journal is believed, where users, modes, links and FIFOs are POSIX's: objects another
// user plants at the journal's name, the journal's mode from its first instant, and opens by a
// user who may not apply the owner's journal. Runs as root (it switches users in forked
// children); skipped otherwise.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <cstdio>
#include <string>
#include <vector>

#include "journal_fixture.h"
#include "support/child.h"

namespace {

using fileapitest::Bytes;
constexpr uid_t kNobody = 65534;

// Runs fnBody in a forked child as user and group 65534; its exit status (-1 when the switch
// failed).
int asNobody(const std::function<int()>& fnBody) {
    return qrtest::runForked([&] {
        if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0) return 99;
        return fnBody();
    });
}

class JournalTrustPosix : public JournalTrust {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "switches users in forked children: needs root";
        JournalTrust::SetUp();
        // A shared folder: everyone may create, only owners may remove.
        ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    }
    // The error the last call reported (its system code, 0 for none).
    static uint32_t reported() { return GetDllErrorNo() == qr::kErrSystem ? qr::sys::lastError() : 0; }
};

TEST_F(JournalTrustPosix, ObjectsThatAreNotTheOwnersJournalAreLeftAlone) {
    const Bytes start = fileapitest::randomBytes(300 * 1024, 3);
    const std::string sAside = dir.file("aside");
    // Each row replaces a valid hot journal by what another user could put in its place.
    const struct {
        const char* szName;
        std::function<void(const std::string& sJournal)> fnPlant;
    } rows[] = {
        {"another user's journal with valid checksums",
         [&](const std::string& sJournal) {
             const Bytes journal = fileapitest::readAll(sJournal);
             std::remove(sJournal.c_str());
             ASSERT_EQ(asNobody([&] {
                           qrtest::writeFileBytes(sJournal, journal);
                           return ::chmod(sJournal.c_str(), 0600);
                       }), 0);
         }},
        {"the owner's journal that others may read", [](const std::string& s) { ASSERT_EQ(::chmod(s.c_str(), 0644), 0); }},
        {"a link to the owner's journal",
         [&](const std::string& s) {
             ASSERT_EQ(::rename(s.c_str(), sAside.c_str()), 0);
             ASSERT_EQ(asNobody([&] { return ::symlink(sAside.c_str(), s.c_str()); }), 0);
         }},
        {"a second name of the owner's journal", [&](const std::string& s) { ASSERT_EQ(::link(s.c_str(), sAside.c_str()), 0); }},
        {"a folder",
         [](const std::string& s) {
             std::remove(s.c_str());
             ASSERT_EQ(asNobody([&] { return ::mkdir(s.c_str(), 0700); }), 0);
         }},
        {"a FIFO",
         [](const std::string& s) {
             std::remove(s.c_str());
             ASSERT_EQ(asNobody([&] { return ::mkfifo(s.c_str(), 0600); }), 0);
         }},
        {"junk of another user",
         [](const std::string& s) {
             std::remove(s.c_str());
             ASSERT_EQ(asNobody([&] {
                           qrtest::writeFileBytes(s, Bytes{'h', 'e', 'l', 'l', 'o'});
                           return 0;
                       }), 0);
         }},
    };
    // Where the file keeps marks, the owner's edits journal under a name no one can foresee.
    bool bFound = false;
    const bool bMarks = qr::sys::fileMark(dir.path().c_str(), "qrcore.none", nullptr, &bFound);
    const auto otherJournals = [&] {
        int nCount = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            nCount += entry.path().string() != m_sJournal && entry.path().extension() == ".qrjournal";
        return nCount;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        interrupt(start);
        const Bytes half = fileapitest::readAll(m_sPath);
        row.fnPlant(m_sJournal);
        struct stat before {};
        ASSERT_EQ(::lstat(m_sJournal.c_str(), &before), 0);

        ReportError(0);
        void* hFile = nullptr;
        EXPECT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0)) << "an open is never blocked: " << reported();
        qr::sys::injectFault(qr::sys::Op::Write, 1, qr::sys::kErrorNotSupported);  // the mark's
        EXPECT_FALSE(AllocateDiskSpace(hFile, 10, 5)) << "a journal no mark names must not be used";
        EXPECT_EQ(reported(), qr::sys::kErrorJournalNotOurs);
        qr::sys::clearFaults();
        EXPECT_EQ(AllocateDiskSpace(hFile, 10, 5), bMarks) << "an edit is blocked only where no mark finds its journal";
        if (!bMarks) { EXPECT_EQ(reported(), qr::sys::kErrorJournalNotOurs); }
        QR_CloseFile(hFile);
        Bytes now = half;
        if (bMarks) fileapitest::modelAllocate(now, 10, 5);
        // Killed in the middle of such an edit: the next open finishes it, found through the mark.
        const qrtest::ChildResult killed = qrtest::runChild(qrtest::helperProgram("fileapi_space_child"),
            {"--window", "16384", "--kill-at", "flush:5", m_sPath, "allocate", "10", "100"});
        EXPECT_EQ(otherJournals(), bMarks ? 1 : 0);
        EXPECT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0)) << reported();
        QR_CloseFile(hFile);
        EXPECT_EQ(otherJournals(), 0);
        bool bRecovered = true;
        EXPECT_FALSE(QR_RecoverFile(m_sPath.c_str(), &bRecovered));
        EXPECT_EQ(reported(), qr::sys::kErrorJournalNotOurs);
        EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(qr::sys::kErrorJournalNotOurs));
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == (bMarks ? inserted(now) : now)) << killed.sStdout;
        struct stat after {};
        ASSERT_EQ(::lstat(m_sJournal.c_str(), &after), 0) << "the object was removed";
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        std::error_code error;
        std::filesystem::remove_all(m_sJournal, error);
        std::remove(sAside.c_str());
    }
    if (!bMarks) GTEST_SKIP() << "this folder keeps no user extended attributes: only the refusal was checked";
}

TEST_F(JournalTrustPosix, JournalIsOwnerOnlyFromItsFirstInstant) {
    static std::string s_sJournal;
    static std::vector<mode_t> s_modes;
    s_sJournal = m_sJournal;
    s_modes.clear();
    qr::sys::setCallObserver([](qr::sys::Op, int64_t) {
        struct stat st {};
        if (::lstat(s_sJournal.c_str(), &st) == 0) s_modes.push_back(st.st_mode & 07777);
    });
    const mode_t nMask = ::umask(0);
    const Bytes start = fileapitest::randomBytes(100 * 1024, 4);
    qrtest::writeFileBytes(m_sPath, start);
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0));
    EXPECT_TRUE(AllocateDiskSpace(hFile, 10, 100));
    QR_CloseFile(hFile);
    ::umask(nMask);
    qr::sys::setCallObserver(nullptr);
    ASSERT_FALSE(s_modes.empty());
    for (const mode_t nMode : s_modes) EXPECT_EQ(nMode, 0600u);
}

TEST_F(JournalTrustPosix, UsersWhoMayNotApplyTheJournalChangeNothing) {
    const Bytes start = fileapitest::randomBytes(300 * 1024, 5);
    interrupt(start);
    ASSERT_EQ(::chmod(m_sPath.c_str(), 0644), 0);
    const Bytes half = fileapitest::readAll(m_sPath);
    const Bytes journal = fileapitest::readAll(m_sJournal);
    // A reader that may not write the file: its open and recovery fail with the waiting text.
    const int nReader = asNobody([&] {
        void* hFile = nullptr;
        if (QR_OpenFile(&hFile, m_sPath.c_str(), 1)) return 1;
        if (reported() != qr::sys::kErrorJournalWaits) return 2;
        if (QR_RecoverFile(m_sPath.c_str(), nullptr) || reported() != qr::sys::kErrorJournalWaits) return 3;
        return 0;
    });
    EXPECT_EQ(nReader, 0);
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == half) << "the file changed";
    EXPECT_TRUE(fileapitest::readAll(m_sJournal) == journal) << "the journal changed";
    // The owner's open finishes the edit.
    EXPECT_TRUE(QR_RecoverFile(m_sPath.c_str(), nullptr));
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == inserted(start));

    // A writer who is neither the owner nor root cannot make a journal the owner's: refused.
    ASSERT_EQ(::chmod(m_sPath.c_str(), 0666), 0);
    const Bytes whole = fileapitest::readAll(m_sPath);
    const int nWriter = asNobody([&] {
        void* hFile = nullptr;
        if (!QR_OpenFile(&hFile, m_sPath.c_str(), 0)) return 1;
        const bool bEdited = AllocateDiskSpace(hFile, 10, 100);
        const uint32_t nError = reported();
        QR_CloseFile(hFile);
        return bEdited ? 2 : nError == qr::sys::kErrorJournalNotOwner ? 0 : 3;
    });
    EXPECT_EQ(nWriter, 0);
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == whole);
    EXPECT_FALSE(qrtest::fileExists(m_sJournal));
}

}  // namespace

namespace {

// An edit that succeeded says so, and one that says it failed changed nothing, while another
// process opens the file in a loop (and so looks at, and may remove, each finished journal).
TEST_F(JournalTrust, RemovalsAreReportedAsTheyHappenedWhileOthersOpen) {
    const int kRemovals = 250;
    const Bytes start = fileapitest::randomBytes(kRemovals + 64 * 1024, 9);
    qrtest::writeFileBytes(m_sPath, start);
    const std::string sStop = dir.file("stop");
    const int nPid = ::fork();
    ASSERT_GE(nPid, 0);
    if (nPid == 0) {
        while (!qrtest::fileExists(sStop)) {
            void* hFile = nullptr;
            if (QR_OpenFile(&hFile, m_sPath.c_str(), 0x301)) QR_CloseFile(hFile);
        }
        ::_exit(0);
    }
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, m_sPath.c_str(), 0x300));
    int64_t llSize = static_cast<int64_t>(start.size());
    std::map<std::string, int> wrong;
    for (int i = 0; i < kRemovals; ++i) {
        ReportError(0);
        const bool bRemoved = FreeDiskSpace(hFile, 0, 1);
        const std::string sError = std::to_string(GetDllErrorNo()) + " " + std::to_string(qr::sys::lastError());
        int64_t llNow = 0;
        ASSERT_TRUE(qr::sys::getFileSize(hFile, &llNow));
        if (bRemoved && llNow != llSize - 1) ++wrong["true, but nothing removed"];
        if (!bRemoved && llNow != llSize) ++wrong["false, but removed (" + sError + ")"];
        if (!bRemoved && llNow == llSize) ++wrong["false, nothing removed (" + sError + ")"];
        llSize = llNow;
    }
    QR_CloseFile(hFile);
    qrtest::writeFileBytes(sStop, {});
    int nStatus = 0;
    ::waitpid(nPid, &nStatus, 0);
    for (const auto& [sWhat, nCount] : wrong) ADD_FAILURE() << nCount << " of " << kRemovals << ": " << sWhat;
    EXPECT_TRUE(fileapitest::readAll(m_sPath) == Bytes(start.begin() + (start.size() - static_cast<std::size_t>(llSize)), start.end()));
}

// While an edit runs (its locked journal named by the file's mark), a second edit of the file is
// kept out, even one already under way, whether it journals aside or beside the file.
TEST_F(JournalTrust, EditsKeepEachOtherOut) {
    static void* s_hFile = nullptr;
    static std::string s_sMark;
    const Bytes start = fileapitest::randomBytes(100 * 1024, 11);
    const std::string sAside = m_sJournal.substr(0, m_sJournal.size() - 10) + ".0123456789abcdef.qrjournal";
    for (const bool bJunk : {true, false}) {
        SCOPED_TRACE(bJunk ? "aside from junk at the usual name" : "beside the file");
        std::remove(m_sPath.c_str());
        std::remove(m_sJournal.c_str());
        qrtest::writeFileBytes(m_sPath, start);
        if (bJunk) qrtest::writeFileText(m_sJournal, "junk others may read");
        void* hAside = qr::sys::createPrivateFile(sAside.c_str(), qr::sys::kGenericWrite, 0, qr::sys::kCreateNew);
        ASSERT_TRUE(QR_OpenFile(&s_hFile, m_sPath.c_str(), 0));
        s_sMark = "0123456789abcdef " + sAside;
        qr::sys::setCallObserver([](qr::sys::Op op, int64_t) {
            if (op == qr::sys::Op::Reserve) qr::sys::setFileMark(s_hFile, "qrcore.journal", s_sMark);
        });
        const bool bEdited = AllocateDiskSpace(s_hFile, 10, 5);
        qr::sys::setCallObserver(nullptr);
        bool bFound = false;
        if (!qr::sys::fileMark(m_sPath.c_str(), "qrcore.journal", nullptr, &bFound))
            GTEST_SKIP() << "this file system keeps no extended attributes";
        EXPECT_FALSE(bEdited);
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorSharingViolation);
        QR_CloseFile(s_hFile);
        qr::sys::deleteOpenFile(hAside, sAside.c_str());
        qr::sys::closeHandle(hAside);
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == start) << "the file changed";
    }
}

// An edit that ends removes its mark, not the mark of a second edit that took the journal's name
// as it was freed.
TEST_F(JournalTrust, EditsRemoveOnlyTheirOwnMark) {
    static void* s_hFile = nullptr;
    qrtest::writeFileBytes(m_sPath, fileapitest::randomBytes(100 * 1024, 12));
    ASSERT_TRUE(QR_OpenFile(&s_hFile, m_sPath.c_str(), 0));
    qr::sys::setCallObserver([](qr::sys::Op op, int64_t) {
        if (op == qr::sys::Op::Delete) qr::sys::setFileMark(s_hFile, "qrcore.journal", "fedcba9876543210 /second");
    });
    EXPECT_TRUE(AllocateDiskSpace(s_hFile, 10, 5));
    qr::sys::setCallObserver(nullptr);
    std::string sMark;
    bool bFound = false;
    const bool bMarks = qr::sys::fileMarkOf(s_hFile, "qrcore.journal", &sMark, &bFound);
    QR_CloseFile(s_hFile);
    if (!bMarks) GTEST_SKIP() << "this file system keeps no extended attributes";
    EXPECT_EQ(sMark, "fedcba9876543210 /second");
}

// QR_RecoverFile reports a journal aside, found through the mark, that no longer fits the file
// (the same check as beside it: foreign and stale alike).
TEST_F(JournalTrust, JournalsAsideThatDoNotFitAreReported) {
    const Bytes start = fileapitest::randomBytes(300 * 1024, 13);
    bool bFound = false;
    if (!qr::sys::fileMark(dir.path().c_str(), "qrcore.none", nullptr, &bFound))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    for (const bool bJunkStays : {true, false}) {
        SCOPED_TRACE(bJunkStays ? "the junk at the usual name stays" : "the junk is gone since");
        std::remove(m_sPath.c_str());
        interrupt(start, 5, true);
        if (!bJunkStays) std::remove(m_sJournal.c_str());
        qrtest::writeFileBytes(m_sPath, start);  // restored from a backup in place
        EXPECT_FALSE(QR_RecoverFile(m_sPath.c_str(), nullptr));
        EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(qr::sys::kErrorJournalStale));
        EXPECT_TRUE(fileapitest::readAll(m_sPath) == start) << "the file changed";
    }
}

// A journal is applied only to the file it was written for, in the state the edit left it: the
// file's mark (an extended attribute, which travels with the file) finds the journal through any
// name of the file, and a piece of what the edit wrote must still be there.
TEST_F(JournalTrust, StaleJournalsAreNeverApplied) {
    const Bytes start = fileapitest::randomBytes(300 * 1024, 10);
    bool bFound = false;
    if (!qr::sys::fileMark(dir.path().c_str(), "qrcore.none", nullptr, &bFound))
        GTEST_SKIP() << "this file system keeps no extended attributes";
    const std::string sOther = dir.file("other.dat");
    const struct {
        const char* szName;
        std::function<void()> fnAfterCrash;
        std::string sOpen;      // the name opened next
        bool bFinished;         // the open finishes the edit (else: refused as stale)
    } rows[] = {
        {"opened through a second hard link", [&] { ASSERT_EQ(::link(m_sPath.c_str(), sOther.c_str()), 0); }, sOther, true},
        {"renamed", [&] { ASSERT_EQ(::rename(m_sPath.c_str(), sOther.c_str()), 0); }, sOther, true},
        {"restored from a backup in place", [&] { qrtest::writeFileBytes(m_sPath, start); }, m_sPath, false},
        {"written in place through a second hard link",
         [&] {
             ASSERT_EQ(::link(m_sPath.c_str(), sOther.c_str()), 0);
             Bytes bytes = fileapitest::readAll(sOther);
             for (auto& b : bytes) b ^= 0x5A;
             qrtest::writeFileBytes(sOther, bytes);
         },
         m_sPath, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        std::remove(sOther.c_str());
        interrupt(start);
        row.fnAfterCrash();
        const Bytes before = fileapitest::readAll(row.sOpen);
        const Bytes journal = fileapitest::readAll(m_sJournal);
        ReportError(0);
        notices.clear();
        void* hFile = nullptr;
        const bool bOpened = QR_OpenFile(&hFile, row.sOpen.c_str(), 0);
        if (bOpened) QR_CloseFile(hFile);
        EXPECT_EQ(bOpened, row.bFinished);
        if (row.bFinished) {
            EXPECT_TRUE(fileapitest::readAll(row.sOpen) == inserted(start)) << "not finished";
            EXPECT_FALSE(qrtest::fileExists(m_sJournal));
        } else {
            EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(qr::sys::kErrorJournalStale));
            EXPECT_TRUE(fileapitest::readAll(row.sOpen) == before) << "the file changed";
            EXPECT_TRUE(fileapitest::readAll(m_sJournal) == journal) << "the journal changed";
        }
        std::remove(m_sJournal.c_str());
    }
}

}  // namespace
