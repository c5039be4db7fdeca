// Named mapping objects met by a later creator: the existing object's size and append-null mode,
// the file an object backs, creators racing for one name, a recorded path replaced behind the
// object's back, and forked children that drop their copies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mapfile_support.h"
#include "qrcore/fileapi.h"
#include "support/child.h"
#include "support/scratch.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;
using qrtest::runForked;

int64_t fileSize(const std::string& sPath) {
    struct stat st{};
    return ::stat(sPath.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Changes the working folder for its lifetime.
class InFolder {
public:
    explicit InFolder(const std::string& sFolder) {
        char szOld[4096];
        if (::getcwd(szOld, sizeof szOld) != nullptr) m_sOld = szOld;
        EXPECT_EQ(::chdir(sFolder.c_str()), 0);
    }
    ~InFolder() {
        if (!m_sOld.empty()) {
            EXPECT_EQ(::chdir(m_sOld.c_str()), 0);
        }
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::string m_sOld;
};

class NamedObjects : public MapFileTest {
protected:
    static std::string peer() { return qrtest::testBinaryDir() + "/mapfile_peer"; }
    std::string folder(const std::string& sName) {
        const std::string sPath = dir.file(sName);
        ::mkdir(sPath.c_str(), 0700);
        return sPath;
    }
    // What the peer prints for a refusal with error 1000000 and the text of nCode.
    static std::string refusal(uint32_t nCode) { return "failed 1000000 " + systemText(nCode) + "\n"; }
    qrtest::ScratchDir dir;
};

TEST_F(NamedObjects, ExistingObjectKeepsItsSizeAndItsAppendNullMode) {
    // The owner maps 8 KiB under a name and fills it; a second creator asks for 100 bytes.
    constexpr int64_t kOwnerData = 8192;
    struct Row {
        const char* szWhat;
        bool bOwnerAppendNull;
        bool bAskAppendNull;
        bool bOtherProcess;
        const char* szExpected;  // as the peer prints it; "" for the refusal
    };
    const Row rows[] = {
        {"plain over plain, same process", false, false, false, "ok size=8192 view=8192\n"},
        {"plain over plain, other process", false, false, true, "ok size=8192 view=8192\n"},
        {"append-null over plain, same process", false, true, false, ""},
        {"append-null over plain, other process", false, true, true, ""},
        {"append-null over append-null, other process", true, true, true, "ok size=8194 view=8192\n"},
        {"plain over append-null, same process", true, false, false, "ok size=8194 view=8194\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        const std::string sName = mftest::uniqueName("sized");
        Probe owner;
        ASSERT_TRUE(owner.MapMemory(kOwnerData, row.bOwnerAppendNull, false, sName.c_str())) << notices.lastText();
        ASSERT_TRUE(owner.SetView(0, 0, static_cast<int32_t>(kOwnerData)));
        auto* pOwner = static_cast<char*>(owner.UseView(0));
        std::memset(pOwner, 'A', kOwnerData);
        ReportError(0);
        notices.clear();

        std::string sOutcome;
        if (row.bOtherProcess) {
            const qrtest::ChildResult result =
                qrtest::runChild(peer(), {"memory", sName, "100", row.bAskAppendNull ? "1" : "0"});
            sOutcome = result.sStdout;
        } else {
            Probe second;
            if (second.MapMemory(100, row.bAskAppendNull, false, sName.c_str()) && second.SetView(0, 0, INT32_MAX)) {
                sOutcome = "ok size=" + std::to_string(second.GetMappingSize()) +
                           " view=" + std::to_string(second.GetView(0)->lSize) + "\n";
            } else {
                sOutcome = "failed " + std::to_string(GetDllErrorNo()) + " " + notices.lastText() + "\n";
                EXPECT_EQ(second.GetFileMappingHandle(), nullptr);
            }
            second.FreeView();
        }
        const std::string sExpected = *row.szExpected != '\0' ? std::string(row.szExpected)
                                                               : refusal(qr::sys::kErrorMappingNotAppendNull);
        EXPECT_EQ(sOutcome, sExpected);
        // No byte of the owner's data was touched by the second creator.
        EXPECT_EQ(std::string(pOwner, kOwnerData).find_first_not_of('A'), std::string::npos) << "a byte was changed";
        owner.FreeView();
    }
}

TEST_F(NamedObjects, FileMappingNeverAttachesToAnotherFilesObject) {
    // One relative path names a different file in each folder, and so one mapping name.
    const std::string sRelative = mftest::uniqueName("same") + ".bin";
    const std::string sFolderA = folder("dA"), sFolderB = folder("dB");
    qrtest::writeFileText(sFolderA + "/" + sRelative, std::string(100, 'a'));
    qrtest::writeFileText(sFolderB + "/" + sRelative, std::string(100, 'b'));
    Probe owner;
    {
        InFolder in(sFolderA);
        ASSERT_TRUE(owner.MapFile(sRelative.c_str(), false, false, false)) << notices.lastText();
    }
    for (const bool bOtherProcess : {false, true}) {
        for (const bool bAppendNull : {false, true}) {
            SCOPED_TRACE(std::string(bOtherProcess ? "other process" : "same process") +
                         (bAppendNull ? ", append-null" : ", plain"));
            std::string sOutcome;
            if (bOtherProcess) {
                sOutcome = qrtest::runChild(peer(), {"mapfile", sFolderB, sRelative, bAppendNull ? "1" : "0"}).sStdout;
            } else {
                ReportError(0);
                notices.clear();
                InFolder in(sFolderB);
                Probe second;
                sOutcome = second.MapFile(sRelative.c_str(), bAppendNull, false, false)
                               ? "ok\n"
                               : "failed " + std::to_string(GetDllErrorNo()) + " " + notices.lastText() + "\n";
            }
            EXPECT_EQ(sOutcome, refusal(qr::sys::kErrorMappingOtherFile));
            // Neither file changed: the refused creator did not grow its own file either.
            EXPECT_TRUE(qrtest::readFileBytes(sFolderB + "/" + sRelative) == std::vector<unsigned char>(100, 'b'));
            EXPECT_TRUE(qrtest::readFileBytes(sFolderA + "/" + sRelative) == std::vector<unsigned char>(100, 'a'));
        }
    }
    // An absolute path has a name of its own.
    Probe absolute;
    ASSERT_TRUE(absolute.MapFile((sFolderB + "/" + sRelative).c_str(), false, false, false)) << notices.lastText();
    ASSERT_TRUE(absolute.SetView(0, 0, 100));
    EXPECT_EQ(std::string(static_cast<char*>(absolute.UseView(0)), 100), std::string(100, 'b'));
    absolute.FreeView();
}

TEST_F(NamedObjects, RacingCreatorsOfOneNameNeverGrowTheLosersFile) {
    // Two processes map two different files under one name at the same moment, in append-null
    // mode (which grows a new object's file by two bytes). One makes the object; the other is
    // refused, and its file keeps its size.
    const std::string sFolders[2] = {folder("r0"), folder("r1")};
    for (int nRound = 0; nRound < 25; ++nRound) {
        SCOPED_TRACE("round " + std::to_string(nRound));
        const std::string sRelative = mftest::uniqueName("race") + ".bin";
        for (const std::string& sFolder : sFolders) qrtest::writeFileText(sFolder + "/" + sRelative, std::string(100, 'r'));
        int go[2], done[2], hold[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(done), 0);
        ASSERT_EQ(::pipe(hold), 0);
        std::fflush(stdout);
        pid_t pids[2];
        for (int i = 0; i < 2; ++i) {
            pids[i] = ::fork();
            ASSERT_GE(pids[i], 0);
            if (pids[i] != 0) continue;
            ::close(go[1]);
            ::close(done[0]);
            ::close(hold[1]);
            if (::chdir(sFolders[i].c_str()) != 0) ::_exit(3);
            char c = 0;
            (void)!::read(go[0], &c, 1);  // until the parent lets both go
            Probe map;
            const bool bOk = map.MapFile(sRelative.c_str(), true, false, false);
            const bool bOtherFile = !bOk && notices.lastText() == systemText(qr::sys::kErrorMappingOtherFile);
            const char report[2] = {static_cast<char>('0' + i), bOk ? 'M' : bOtherFile ? 'R' : '?'};
            (void)!::write(done[1], report, 2);
            (void)!::read(hold[0], &c, 1);  // the object lives until both have tried
            map.UnMap();  // the last holder removes the name (_exit runs no destructors)
            ::_exit(0);
        }
        ::close(go[0]);
        ::close(done[1]);
        ::close(hold[0]);
        ::close(go[1]);
        char outcome[2] = {'-', '-'};
        for (int n = 0; n < 2; ++n) {
            char report[2];
            if (::read(done[0], report, 2) == 2 && (report[0] == '0' || report[0] == '1')) outcome[report[0] - '0'] = report[1];
        }
        ::close(hold[1]);
        ::close(done[0]);
        for (const pid_t pid : pids) ::waitpid(pid, nullptr, 0);
        const std::string sOutcome(outcome, 2);
        EXPECT_TRUE(sOutcome == "MR" || sOutcome == "RM") << sOutcome;
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(fileSize(sFolders[i] + "/" + sRelative), outcome[i] == 'M' ? 102 : 100) << "process " << i;
    }
}

TEST_F(NamedObjects, ReplacedRecordedPathIsNeitherFollowedNorWaitedOn) {
    // Another process opens a file mapping by name through the path the object records. When
    // that path names something else by now, the opener is refused at once.
    struct Row {
        const char* szWhat;
        std::function<void(const std::string& sPath, const std::string& sMoved)> fnReplace;
    };
    const Row rows[] = {
        {"a FIFO without a writer", [](const std::string& sPath, const std::string&) { ASSERT_EQ(::mkfifo(sPath.c_str(), 0600), 0); }},
        {"a symbolic link to the same file",
         [](const std::string& sPath, const std::string& sMoved) { ASSERT_EQ(::symlink(sMoved.c_str(), sPath.c_str()), 0); }},
        {"another file", [](const std::string& sPath, const std::string&) { qrtest::writeFileText(sPath, std::string(9000, 'x')); }},
    };
    int nRow = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        const std::string sPath = dir.file("recorded" + std::to_string(nRow++) + ".bin");
        const std::string sMoved = sPath + ".moved";
        qrtest::writeFileText(sPath, std::string(9000, 'd'));
        Probe owner;
        ASSERT_TRUE(owner.MapFile(sPath.c_str(), false, false, false)) << notices.lastText();
        ASSERT_EQ(::rename(sPath.c_str(), sMoved.c_str()), 0);
        row.fnReplace(sPath, sMoved);
        const int nOutcome = runForked(
            [&] {
                Probe opener;
                if (opener.OpenMapping(sPath.c_str(), true)) return 1;
                return notices.lastText() == systemText(qr::sys::kErrorNotFound) ? 0 : 2;
            },
            5000);
        EXPECT_EQ(nOutcome, 0) << "1: opened, 2: refused with another text, -1: blocked";
        owner.UnMap();
        ::unlink(sPath.c_str());
    }
}

TEST_F(NamedObjects, ForkedChildNeverRemovesOrAltersTheParentsObjects) {
    struct Row {
        const char* szWhat;
        bool bFile;
        bool bExit;  // the child ends through exit() without unmapping; otherwise it unmaps its copy
    };
    const Row rows[] = {
        {"page-file memory, the child unmaps its copy", false, false},
        {"page-file memory, the child exits", false, true},
        {"a file, the child unmaps its copy", true, false},
        {"a file, the child exits", true, true},
    };
    int nRow = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        const std::string sPath = dir.file("forked" + std::to_string(nRow++) + ".bin");
        std::string sName = mftest::uniqueName("forked");
        Probe owner;
        if (row.bFile) {
            qrtest::writeFileText(sPath, std::string(8192, '.'));
            ASSERT_TRUE(owner.MapFile(sPath.c_str(), false, false, false)) << notices.lastText();
            sName = sPath;
        } else {
            ASSERT_TRUE(owner.MapMemory(8192, false, false, sName.c_str())) << notices.lastText();
        }
        ASSERT_TRUE(owner.SetView(0, 0, 8192));
        std::memcpy(owner.UseView(0), "parent", 6);

        const int nStatus = runForked(
            [&] {
                if (row.bExit) std::exit(0);
                owner.FreeView();
                owner.UnMap();
                return 0;
            },
            10000);
        EXPECT_EQ(nStatus, 0);
        EXPECT_TRUE(mftest::objectExists(sName)) << "the child removed the parent's object";
        // Later openers, here and in another process, reach the parent's object and its data.
        {
            Probe reader;
            ASSERT_TRUE(reader.OpenMapping(sName.c_str(), true)) << notices.lastText();
            ASSERT_TRUE(reader.SetView(0, 0, 6));
            EXPECT_EQ(std::string(static_cast<char*>(reader.UseView(0)), 6), "parent");
            reader.FreeView();
        }
        const qrtest::ChildResult other = qrtest::runChild(peer(), {"open", sName, "0", "6", "-"});
        EXPECT_EQ(other.sStdout, "size=8192 data=parent\n");
        if (row.bFile) {
            // The parent still holds its file without sharing.
            void* hFile = qr::sys::kInvalidHandle;
            EXPECT_FALSE(QR_OpenFile(&hFile, sPath.c_str(), 0x303));
            EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorSharingViolation));
        }
        owner.FreeView();
        owner.UnMap();
        EXPECT_FALSE(mftest::objectExists(sName));
    }
}

}  // namespace
