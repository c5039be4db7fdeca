// qrtool end to end: every command run as a process on generated files, checking what it prints,
// the files it changes and its exit status on bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fileapi/edit_journal.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/survey.h"
#include "support/child.h"
#include "support/scratch.h"

namespace {

qrtest::ChildResult tool(const std::vector<std::string>& args, const std::string& sStdin = {}) {
    return qrtest::runChild(QRTOOL_PATH, args, sStdin);
}

std::vector<unsigned char> digits(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>('0' + i % 10);
    return bytes;
}

TEST(Qrtool, HelpVersionAndUsageErrors) {
    auto r = tool({"--help"});
    EXPECT_EQ(r.nStatus, 0);
    for (const char* szCommand : {"line", "flight", "insert", "remove", "move", "zero", "view", "columns", "scan",
                                  "angle", "ebcdic2ascii", "ascii2ebcdic", "bcd", "sample", "recover"})
        EXPECT_NE(r.sStdout.find(std::string("  ") + szCommand + " "), std::string::npos) << szCommand;
    r = tool({"insert", "--help"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_NE(r.sStdout.find("insert FILE POS SIZE"), std::string::npos);
    r = tool({"--version"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.sStdout.rfind("qrtool ", 0), 0u);
    r = tool({"frobnicate"});
    EXPECT_EQ(r.nStatus, 2);
    EXPECT_NE(r.sStderr.find("unknown command"), std::string::npos);
    r = tool({"--bogus"});
    EXPECT_EQ(r.nStatus, 2);
    r = tool({});
    EXPECT_EQ(r.nStatus, 2);
}

TEST(Qrtool, LineAndFlightCodes) {
    auto r = tool({"line", "encode", "AL0123", "BT45", " D 7"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    const int64_t llAL0123 = 123 + (int64_t{1} << 32) + (int64_t{1} << 40);
    const int64_t llBT45 = 45 + 3 * (int64_t{1} << 32) + 2 * (int64_t{1} << 40);
    int64_t llD7 = 0;
    char szD7[] = "D7";
    ASSERT_TRUE(ToIntLineNo(szD7, &llD7));
    EXPECT_EQ(r.sStdout, "AL0123\t" + std::to_string(llAL0123) + "\nBT45\t" + std::to_string(llBT45) + "\n D 7\t" +
                             std::to_string(llD7) + "\n");

    r = tool({"line", "decode", std::to_string(llBT45), "-1"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, std::to_string(llBT45) + "\tBT0045\n-1\tRESET\n");

    // One value per line from standard input; a name that does not decode fails the run.
    r = tool({"line", "encode"}, "AL0123\n\nQQQ12\n");
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.sStdout, "AL0123\t" + std::to_string(llAL0123) + "\n");
    EXPECT_NE(r.sStderr.find("'QQQ12' is not a line name"), std::string::npos) << r.sStderr;

    r = tool({"line", "decode", "12abc"});
    EXPECT_EQ(r.nStatus, 1);

    r = tool({"--json", "line", "split", "AL0123"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("\"type\": \"L\""), std::string::npos) << r.sStdout;
    EXPECT_NE(r.sStdout.find("\"area\": \"A\""), std::string::npos) << r.sStdout;
    EXPECT_NE(r.sStdout.find("\"code\": " + std::to_string(llAL0123)), std::string::npos) << r.sStdout;
    EXPECT_EQ(r.sStdout.front(), '[');

    r = tool({"flight", "encode", "AAS5", "N12"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "AAS5\t" + std::to_string(5 + 2 * 65536 + 27 * (1 << 24)) + "\nN12\t" +
                             std::to_string(12 + 65536) + "\n");
    r = tool({"flight", "decode", std::to_string(5 + 2 * 65536 + 27 * (1 << 24))});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("AAS05"), std::string::npos);
    r = tool({"line", "rotate", "x"});
    EXPECT_EQ(r.nStatus, 2);
}

TEST(Qrtool, InPlaceEditsAreByteExact) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("data.bin");
    const std::size_t nSize = 3 * 4096 + 17;
    std::vector<unsigned char> model = digits(nSize);
    qrtest::writeFileBytes(sFile, model);

    auto r = tool({"insert", sFile, "4K", "100"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    model.insert(model.begin() + 4096, 100, 0);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    r = tool({"remove", sFile, "10", "1k"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    model.erase(model.begin() + 10, model.begin() + 10 + 1024);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    r = tool({"move", sFile, "0", "1", "5000"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    std::vector<unsigned char> block(model.begin(), model.begin() + 5000);
    std::copy(block.begin(), block.end(), model.begin() + 1);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    r = tool({"zero", sFile, "7", "20"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    std::fill(model.begin() + 7, model.begin() + 27, 0);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    // Refusals leave the file as it was.
    const std::vector<unsigned char> before = model;
    r = tool({"insert", sFile, std::to_string(model.size()), "10"});
    EXPECT_EQ(r.nStatus, 1);
    r = tool({"remove", sFile, std::to_string(model.size() - 5), "5"});
    EXPECT_EQ(r.nStatus, 1);
    r = tool({"insert", sFile, "10", "4X"});
    EXPECT_EQ(r.nStatus, 2);
    EXPECT_NE(r.sStderr.find("'4X' is not a size"), std::string::npos);
    r = tool({"insert", sFile, "-1", "4"});
    EXPECT_EQ(r.nStatus, 2);
    r = tool({"insert", sFile, "10"});
    EXPECT_EQ(r.nStatus, 2);
    EXPECT_EQ(qrtest::readFileBytes(sFile), before);

    r = tool({"insert", dir.file("missing.bin"), "0", "1"});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("(error 1000000)"), std::string::npos) << r.sStderr;
    EXPECT_NE(r.sStderr.find("No such file"), std::string::npos) << r.sStderr;
}

// Leaves sFile half-way through an insertion of 3 zero bytes at 5, with its journal: the edit
// fails at its fourth flush (a small window gives it several stretches).
void interruptInsertion(const std::string& sFile) {
    CloseErrorWin();
    qr::setJournalWindow(8192);
    void* hFile = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hFile, sFile.c_str(), 0));
    qr::sys::injectFault(qr::sys::Op::Flush, 4, 5);
    EXPECT_FALSE(AllocateDiskSpace(hFile, 5, 3));
    qr::sys::clearFaults();
    QR_CloseFile(hFile);
    qr::setJournalWindow(0);
}

TEST(Qrtool, RecoverFinishesAnInterruptedEdit) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("data.bin");
    std::vector<unsigned char> model = digits(40000);
    qrtest::writeFileBytes(sFile, model);
    auto r = tool({"recover", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "recover: " + sFile + ": nothing to recover\n");

    interruptInsertion(sFile);
    ASSERT_NE(qrtest::readFileBytes(sFile), model) << "the edit was interrupted half-way";
    model.insert(model.begin() + 5, 3, 0);
    r = tool({"recover", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "recover: " + sFile + ": finished an interrupted edit\n");
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    // A journal that does not check is refused, and the file stays as it is.
    const std::string sJournal = qr::journalPathFor(qr::sys::finalPath(sFile.c_str()));
    qrtest::writeFileText(sJournal, "not a journal");
    r = tool({"recover", sFile});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("is damaged"), std::string::npos) << r.sStderr;
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);
    EXPECT_TRUE(qrtest::fileExists(sJournal));

    // An edit finishes the interrupted one first and says so.
    std::remove(sJournal.c_str());
    interruptInsertion(sFile);
    model.insert(model.begin() + 5, 3, 0);
    r = tool({"remove", sFile, "0", "2"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStderr, "qrtool: " + sFile + ": recovered an earlier interrupted edit first\n");
    model.erase(model.begin(), model.begin() + 2);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);
    r = tool({"insert", sFile, "0", "2"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStderr, "") << "nothing to recover, nothing said";

    r = tool({"recover"});
    EXPECT_EQ(r.nStatus, 2);
    r = tool({"recover", dir.file("missing.bin")});
    EXPECT_EQ(r.nStatus, 1);
}

// Runs the tool on a pseudo-terminal (standard input, output and error all a terminal) and
// returns everything it wrote there.
std::string toolOnTerminal(const std::vector<std::string>& args, int& nStatus) {
    int fdMaster = -1;
    const pid_t pid = ::forkpty(&fdMaster, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(QRTOOL_PATH)};
        for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execv(QRTOOL_PATH, argv.data());
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
    // Without a terminal nothing but the summary is printed.
    const auto r = tool({"remove", sFile, "3", "1M"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.sStderr, "");
}

TEST(Qrtool, ViewDumpsTheRange) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("view.bin");
    std::vector<unsigned char> bytes(70000);
    std::iota(bytes.begin(), bytes.end(), 0);
    qrtest::writeFileBytes(sFile, bytes);
    auto r = tool({"view", sFile, "65540", "20"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    // 65540 = 0x10004: bytes 04 05 ... (the low byte of the index).
    EXPECT_NE(r.sStdout.find("000000010004  04 05 06 07 08 09 0a 0b  0c 0d 0e 0f 10 11 12 13"), std::string::npos)
        << r.sStdout;
    EXPECT_NE(r.sStdout.find("000000010014  14 15 16 17"), std::string::npos) << r.sStdout;
    // Cut at the end of the file.
    r = tool({"view", sFile, "69998", "1M"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(std::count(r.sStdout.begin(), r.sStdout.end(), '\n'), 1);
    r = tool({"view", sFile, "70000", "1"});
    EXPECT_EQ(r.nStatus, 1);
    r = tool({"view", dir.file("none"), "0", "1"});
    EXPECT_EQ(r.nStatus, 1);
}

TEST(Qrtool, SampleScanAndColumns) {
    qrtest::ScratchDir dir;
    auto r = tool({"sample", dir.path()});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_TRUE(qrtest::fileExists(dir.file("survey.xyz")));
    EXPECT_EQ(qrtest::readFileBytes(dir.file("records.bin")).size() % 40, 0u);
    EXPECT_EQ(qrtest::readFileBytes(dir.file("header.ebc")).size(), 3200u);

    // Without a terminal and without --yes, existing files are not replaced.
    r = tool({"sample", dir.path()});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("not overwritten"), std::string::npos) << r.sStderr;
    r = tool({"--yes", "sample", dir.path()});
    EXPECT_EQ(r.nStatus, 0) << r.sStderr;

    r = tool({"scan", dir.file("survey.xyz")});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout.substr(0, r.sStdout.find('\n')), "line\tcode\tvalid\ttype\tarea\trecords\tfirst_line\twidths\tlayouts");
    int64_t llCode = 0;
    char szName[] = "AT0900";
    ASSERT_TRUE(ToIntLineNo(szName, &llCode));
    EXPECT_NE(r.sStdout.find("AT0900\t" + std::to_string(llCode) + "\tyes\tT\tA\t9\t"), std::string::npos) << r.sStdout;
    EXPECT_EQ(std::count(r.sStdout.begin(), r.sStdout.end(), '\n'), 7);

    // The EBCDIC header reads back as its cards.
    r = tool({"ebcdic2ascii", dir.file("header.ebc")});
    ASSERT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.sStdout.size(), 3200u);
    EXPECT_EQ(r.sStdout.substr(0, 32), "C 1 CLIENT  QRCORE SAMPLE SURVEY");
}

TEST(Qrtool, ColumnsAndScanOnRaggedFiles) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("ragged.xyz");
    qrtest::writeFileText(sFile,
                          "/ comment\n"
                          "LINE L10\n"
                          "  1.0  2.0  3\n"
                          "  1.5  2.5  4\n"
                          "\n"
                          "# another comment\n"
                          "  1.0  2.0\n"
                          "  1.0  2.0  3\n"
                          "tie T20\n"
                          "   12345.0 1\n"
                          "LINE ???\n"
                          "  9  9  9\n");
    auto r = tool({"columns", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    // Layouts in order of first appearance, with the lines where their runs start.
    EXPECT_EQ(r.sStdout,
              "layout\tcolumns\twidths\trecords\truns\tstarts\n"
              "1\t3\t5,5,3\t3\t2\t3,8\n"
              "2\t2\t5,5\t1\t1\t7\n"
              "3\t2\t10,2\t1\t1\t10\n"
              "4\t3\t3,3,3\t1\t1\t12\n");
    r = tool({"--json", "columns", sFile});
    ASSERT_EQ(r.nStatus, 0);
    EXPECT_NE(r.sStdout.find("\"widths\": [5, 5, 3], \"records\": 3, \"runs\": 2, \"starts\": [3, 8]"), std::string::npos)
        << r.sStdout;

    r = tool({"scan", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("L10\t"), std::string::npos);
    EXPECT_NE(r.sStdout.find("\tyes\tL\t\t4\t2\t5,5,3\t3\n"), std::string::npos) << r.sStdout;
    EXPECT_NE(r.sStdout.find("T20\t"), std::string::npos);
    EXPECT_NE(r.sStdout.find("???\t-32767\tno\t"), std::string::npos) << r.sStdout;
    EXPECT_NE(r.sStderr.find("1 of 3 line names did not decode"), std::string::npos) << r.sStderr;

    r = tool({"scan", dir.file("missing.xyz")});
    EXPECT_EQ(r.nStatus, 1);
}

TEST(Qrtool, Conversions) {
    qrtest::ScratchDir dir;
    auto r = tool({"angle", "DMSToDegree", "130", "-130"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "130\t0.025\n-130\t-0.025\n");
    r = tool({"angle", "secondtohms"}, "65\n65.5\n");
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "65\t105\n65.5\t105.5\n");
    r = tool({"angle", "DMSToDegree", "abc"});
    EXPECT_EQ(r.nStatus, 2);
    r = tool({"angle", "Nonsense", "1"});
    EXPECT_EQ(r.nStatus, 2);

    r = tool({"ascii2ebcdic"}, "Hello");
    ASSERT_EQ(r.nStatus, 0);
    EXPECT_EQ(r.sStdout, "\xC8\x85\x93\x93\x96");
    // Streams carry zero bytes and any length; printable text round-trips (but for brackets).
    std::string sText;
    for (int i = 0; i < 300000; ++i) sText += static_cast<char>(0x20 + (i * 7) % 95);
    sText[1000] = '\0';
    std::string sExpected = sText;
    for (char& c : sExpected)
        if (c == '[' || c == ']' || c == '\0') c = ' ';
    const std::string sIn = dir.file("in.txt"), sMid = dir.file("mid.ebc");
    qrtest::writeFileText(sIn, sText);
    r = tool({"ascii2ebcdic", sIn, sMid});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    r = tool({"ebcdic2ascii", sMid});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_TRUE(r.sStdout == sExpected);

    r = tool({"bcd", "3412", "0x01", "0A"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "3412\t1234\n0x01\t1\n0A\t10\n");
    r = tool({"bcd", "123"});
    EXPECT_EQ(r.nStatus, 2);
}

}  // namespace
