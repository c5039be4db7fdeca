// qrtool end to end where POSIX is needed to set the scene: a pseudo-terminal, the shell's
// redirections and limits, hard and symbolic links.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "qrtool_run.h"
#include "support/scratch.h"

namespace {

using qrtest::digits;
using qrtest::leftovers;
using qrtest::readText;
using qrtest::tool;

// Runs a shell script with the tool as $0 and the given words as $1, $2, ...: for redirections
// that the child helper cannot make.
qrtest::ChildResult shell(const std::string& sScript, const std::vector<std::string>& words = {}) {
    std::vector<std::string> args{"-c", sScript, qrtest::toolPath()};
    args.insert(args.end(), words.begin(), words.end());
    return qrtest::runChild("/bin/sh", args);
}

// An append that the file system stops part-way (a file size limit of the shell) leaves the file
// at its old size.
TEST(Qrtool, AnAppendStoppedPartWayLeavesTheFile) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("tail.bin");
    const std::vector<unsigned char> model = digits(1000);
    qrtest::writeFileBytes(sFile, model);
    const auto r = shell("trap '' XFSZ; ulimit -f 8; exec \"$0\" insert \"$1\" END 1M", {sFile});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("File too large (error 1000000); the file is back at its 1000 bytes"), std::string::npos) << r.sStderr;
    EXPECT_TRUE(qrtest::readFileBytes(sFile) == model);
}

// Runs the tool on a pseudo-terminal (standard input, output and error all a terminal) and
// returns everything it wrote there.
std::string toolOnTerminal(const std::vector<std::string>& args, int& nStatus) {
    const std::string sTool = qrtest::toolPath();
    int fdMaster = -1;
    const pid_t pid = ::forkpty(&fdMaster, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(sTool.c_str())};
        for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execv(sTool.c_str(), argv.data());
        ::_exit(127);
    }
    std::string sOutput;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fdMaster, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the child has gone
        sOutput.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fdMaster);
    int nWait = 0;
    ::waitpid(pid, &nWait, 0);
    nStatus = WIFEXITED(nWait) ? WEXITSTATUS(nWait) : -1;
    return sOutput;
}

TEST(Qrtool, ProgressIsShownAtATerminal) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("large.bin");
    std::vector<unsigned char> model = digits(24 << 20);
    qrtest::writeFileBytes(sFile, model);
    int nStatus = -1;
    // An unaligned position takes the chunked path, which reports its progress.
    const std::string sScreen = toolOnTerminal({"insert", sFile, "3", "1M"}, nStatus);
    EXPECT_EQ(nStatus, 0) << sScreen;
    EXPECT_NE(sScreen.find("insert: 100%"), std::string::npos) << sScreen;
    model.insert(model.begin() + 3, 1 << 20, 0);
    EXPECT_TRUE(qrtest::readFileBytes(sFile) == model);
    // Without a terminal nothing but the summary is printed, on standard error.
    const auto r = tool({"remove", sFile, "3", "1M"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.sStdout, "");
    EXPECT_EQ(r.sStderr, "remove: " + sFile + ": " + std::to_string(model.size()) + " -> " +
                             std::to_string(model.size() - (1 << 20)) + " bytes\n");
    // --quiet: neither progress nor summary, at a terminal either.
    EXPECT_EQ(toolOnTerminal({"--quiet", "insert", sFile, "3", "1M"}, nStatus), "");
    EXPECT_EQ(nStatus, 0);

    // A long scan shows its progress too.
    std::string sRecords;
    while (sRecords.size() < (std::size_t{24} << 20)) sRecords += "  431900.00  6512000.00  1001  51234.50\n";
    const std::string sXyz = dir.file("large.xyz");
    qrtest::writeFileText(sXyz, "LINE L10\n" + sRecords);
    const std::string sScanScreen = toolOnTerminal({"scan", sXyz}, nStatus);
    EXPECT_EQ(nStatus, 0) << sScanScreen;
    EXPECT_NE(sScanScreen.find("scan: 100% (24.0 MiB of 24.0 MiB)"), std::string::npos) << sScanScreen;
}

// OUT that reaches the input through a link is the input: refused, both files as they were.
TEST(Qrtool, ConversionOutputThroughALinkToTheInputIsRefused) {
    const struct {
        const char* szCase;
        const char* szLink;
        bool bSymbolic;
    } rows[] = {
        {"OUT a hard link to IN", "hard", false},
        {"OUT a symbolic link to IN", "soft", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtest::ScratchDir dir;
        const std::string sIn = dir.file("in.txt"), sLink = dir.file(row.szLink);
        qrtest::writeFileText(sIn, "Hello\n");
        ASSERT_EQ(row.bSymbolic ? ::symlink("in.txt", sLink.c_str()) : ::link(sIn.c_str(), sLink.c_str()), 0);
        const auto r = tool({"--yes", "ascii2ebcdic", sIn, sLink});
        EXPECT_EQ(r.nStatus, 1) << r.sStderr;
        EXPECT_NE(r.sStderr.find("same file"), std::string::npos) << r.sStderr;
        EXPECT_EQ(readText(sIn), "Hello\n");
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
    }
}

// Every write error ends the run with status 1 and a message: standard output on a full disk,
// closed, or a pipe whose reader has gone; OUT on a file system that refuses to grow it (which
// also leaves OUT as it was); and output that would land in the input.
TEST(Qrtool, WriteErrorsFailTheRun) {
    qrtest::ScratchDir dir;
    const std::string sBig = dir.file("big.txt"), sOut = dir.file("out.ebc"), sIn = dir.file("in.txt");
    qrtest::writeFileText(sBig, std::string(1 << 20, 'x'));
    const struct {
        const char* szScript;  // $0 the tool, $1 a 1 MiB text, $2 an existing OUT, $3 a small IN
        const char* szMessage;
    } rows[] = {
        {"exec \"$0\" line encode AL0123 > /dev/full", "No space left on device"},
        {"exec \"$0\" line encode AL0123 >&-", "Bad file descriptor"},
        {"{ \"$0\" ebcdic2ascii \"$1\"; echo status=$? >&2; } | true", "Broken pipe"},
        {"{ \"$0\" view \"$1\" 0 1M; echo status=$? >&2; } | true", "Broken pipe"},
        {"trap '' XFSZ; ulimit -f 4; exec \"$0\" --yes ascii2ebcdic \"$1\" \"$2\"", "File too large"},
        {"exec \"$0\" --yes ascii2ebcdic - \"$2\" < \"$2\"", "same file"},
        {"exec \"$0\" ascii2ebcdic \"$3\" >> \"$3\"", "same file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szScript);
        qrtest::writeFileText(sOut, "old contents");
        qrtest::writeFileText(sIn, "small input\n");
        const auto r = shell(row.szScript, {sBig, sOut, sIn});
        const bool bPiped = std::strstr(row.szScript, "| true") != nullptr;
        if (bPiped) {  // the shell's status is that of the reader; the tool's is printed
            EXPECT_NE(r.sStderr.find("status=1"), std::string::npos) << r.sStderr;
        } else {
            EXPECT_EQ(r.nStatus, 1) << r.sStderr;
        }
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_TRUE(readText(sOut) == "old contents");  // (no dump of a converted megabyte)
        EXPECT_EQ(readText(sIn), "small input\n");
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
    }
}

// A conversion run by root in a shared sticky folder follows no link that another user planted
// there (whatever the system's own link protection says), and a replacement never keeps the
// set-user or set-group bits of the file it replaces.
TEST(Qrtool, ConversionOutputIsNotTurnedAgainstRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files and links to another user";
    constexpr uid_t kOther = 65534;
    enum Plant { LinkByOther, LinkByCaller, LinkByFolderOwner, FolderLinkByOther, SetIdFile };
    const struct {
        const char* szCase;
        Plant plant;
        bool bReplaced;       // the file behind OUT receives the conversion
        const char* szMessage;
    } rows[] = {
        {"another user's link in a sticky folder", LinkByOther, false, "not followed"},
        {"the caller's own link", LinkByCaller, true, ""},
        {"a link of the folder's owner", LinkByFolderOwner, true, ""},
        {"another user's link to a folder on the way", FolderLinkByOther, false, "not followed"},
        {"another user's set-id file", SetIdFile, true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtest::ScratchDir dir;
        const std::string sShared = dir.file("shared"), sSecret = dir.file("secret");
        ASSERT_EQ(::mkdir(sShared.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(sShared.c_str(), 01777), 0);
        if (row.plant == LinkByFolderOwner) {
            ASSERT_EQ(::chown(sShared.c_str(), kOther, kOther), 0);
        }
        const std::string sIn = dir.file("in.txt");
        const std::string sOut = sShared + (row.plant == FolderLinkByOther ? "/folder/secret" : "/out");
        qrtest::writeFileText(sIn, "Hello\n");
        qrtest::writeFileText(sSecret, "root only");
        ASSERT_EQ(::chmod(sSecret.c_str(), 0600), 0);
        std::string sBehind = sSecret;
        if (row.plant == SetIdFile) {
            sBehind = sOut;
            qrtest::writeFileText(sOut, "program");
            ASSERT_EQ(::chown(sOut.c_str(), kOther, kOther), 0);
            ASSERT_EQ(::chmod(sOut.c_str(), 06755), 0);
        } else {
            const std::string sLink = row.plant == FolderLinkByOther ? sShared + "/folder" : sOut;
            ASSERT_EQ(::symlink(row.plant == FolderLinkByOther ? dir.path().c_str() : sSecret.c_str(), sLink.c_str()), 0);
            if (row.plant != LinkByCaller) {
                ASSERT_EQ(::lchown(sLink.c_str(), kOther, kOther), 0);
            }
        }
        const auto r = tool({"--yes", "ascii2ebcdic", sIn, sOut});
        EXPECT_EQ(r.nStatus, row.bReplaced ? 0 : 1) << r.sStderr;
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_EQ(readText(sBehind) == "\xC8\x85\x93\x93\x96\x40", row.bReplaced) << readText(sBehind);
        struct stat st {};
        ASSERT_EQ(::stat(sBehind.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 06000, 0u) << std::oct << st.st_mode;
        if (row.plant == SetIdFile) {
            EXPECT_EQ(st.st_mode & 0777, 0755u) << std::oct << st.st_mode;
        }
        EXPECT_EQ(leftovers(sShared), std::vector<std::string>{});
    }
}

// A FIFO is read as open(2) reads it: the tool waits for a writer that comes late.
TEST(Qrtool, AFifoWaitsForItsWriter) {
    qrtest::ScratchDir dir;
    const std::string sFifo = dir.file("records.xyz");
    ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);
    // The writer opens its end for reading and writing, which never waits: a reader that did not
    // wait leaves nothing blocked behind it.
    const auto r = shell("(sleep 1; exec 3<>\"$1\"; printf 'LINE L10\\n 1 2\\n 3 4\\n' >&3) >/dev/null 2>&1 & "
                         "exec \"$0\" scan \"$1\"",
                         {sFifo});
    EXPECT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("L10\t"), std::string::npos) << r.sStdout;
}

// Files that are not regular are refused with a text that says why, not a bare error number or
// a size of -1.
TEST(Qrtool, FilesThatAreNotRegularAreRefusedClearly) {
    qrtest::ScratchDir dir;
    const std::string sFifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(sFifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> args;
        const char* szMessage;
    } rows[] = {
        {{"view", sFifo, "0", "16"}, "not a regular file"},
        {{"insert", "/dev/zero", "0", "10"}, "not a regular file"},
        {{"zero", "/dev/null", "0", "10"}, "not a regular file"},
        {{"segy", "/dev/null"}, "not a regular file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        const auto r = tool(row.args);
        EXPECT_EQ(r.nStatus, 1) << r.sStderr;
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_EQ(r.sStderr.find("error 0"), std::string::npos) << r.sStderr;
        EXPECT_EQ(r.sStderr.find("-1 bytes"), std::string::npos) << r.sStderr;
    }
}

}  // namespace
