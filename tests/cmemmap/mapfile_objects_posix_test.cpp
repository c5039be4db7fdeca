// Named mapping objects on POSIX: creators racing for one name in forked processes, a recorded
// path replaced behind the object's back, and forked children that drop their copies.
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

#include "named_objects.h"
#include "qrcore/fileapi.h"

namespace {

using mftest::fileSize;
using mftest::NamedObjects;
using mftest::Probe;
using qrtest::runForked;

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
