// qrtool end to end: every command run as a process on generated files, checking what it prints,
// the files it changes and its exit status on bad input. What needs a terminal, a POSIX shell or
// links is in qrtool_posix_test.cpp; everything here runs on every system.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "qrcore/convert.h"
#include "fileapi/edit_journal.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/survey.h"
#include "qrtool_run.h"
#include "support/backend.h"
#include "support/scratch.h"

namespace {

using qrtest::digits;
using qrtest::leftovers;
using qrtest::readText;
using qrtest::tool;

int64_t lineCode(const std::string& sName) {
    std::vector<char> name(sName.begin(), sName.end());
    name.push_back('\0');
    int64_t llCode = 0;
    EXPECT_TRUE(ToIntLineNo(name.data(), &llCode)) << sName;
    return llCode;
}

// A path as a JSON string (Windows paths hold backslashes).
std::string jsonQuoted(const std::string& s) {
    std::string sOut = "\"";
    for (const char c : s) {
        if (c == '\\' || c == '"') sOut += '\\';
        sOut += c;
    }
    return sOut + "\"";
}

TEST(Qrtool, HelpVersionAndUsageErrors) {
    auto r = tool({"--help"});
    EXPECT_EQ(r.nStatus, 0);
    for (const char* szCommand : {"line", "flight", "insert", "remove", "move", "zero", "view", "columns", "scan",
                                  "segy", "angle", "ebcdic2ascii", "ascii2ebcdic", "bcd", "sample", "recover"})
        EXPECT_NE(r.sStdout.find(std::string("  ") + szCommand + " "), std::string::npos) << szCommand;
    r = tool({"insert", "--help"});
    EXPECT_EQ(r.nStatus, 0);
    EXPECT_NE(r.sStdout.find("insert FILE POS|END SIZE"), std::string::npos);
    // The line-name rules are stated where users look for them.
    r = tool({"line", "--help"});
    EXPECT_EQ(r.nStatus, 0);
    for (const char* szRule : {"L B T R S P D", "AA..DW", "0 to 2147483647", "Blanks anywhere are ignored",
                               "L1010.2 codes as\nL1010", "at\nleast four digits, zero-padded (L12 -> L0012"})
        EXPECT_NE(r.sStdout.find(szRule), std::string::npos) << szRule;
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
    r = tool({"insert", sFile, std::to_string(model.size() + 1), "10"});
    EXPECT_EQ(r.nStatus, 1);
    r = tool({"remove", sFile, std::to_string(model.size() - 5), "6"});
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
    EXPECT_NE(r.sStderr.find(dir.file("missing.bin") + ": "), std::string::npos) << r.sStderr;
    EXPECT_NE(r.sStderr.find("(error 1000000)"), std::string::npos) << r.sStderr;
    // The cause in the system's words: only the POSIX text is the same on every machine.
    if (std::string(qrtest::backend().szName) == "posix") {
        EXPECT_NE(r.sStderr.find("No such file"), std::string::npos) << r.sStderr;
    }
}

// Edits at the very end of a file, which the library's space functions refuse, are served by
// the tool: insert at END (or at the size) appends, remove of a range that ends at the end cuts;
// a range that really does not fit is refused with the file's size. Byte-exact against a model.
TEST(Qrtool, EditsAtTheEndOfAFile) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("tail.bin");
    std::vector<unsigned char> model = digits(5000);
    qrtest::writeFileBytes(sFile, model);
    const auto size = [&] { return std::to_string(model.size()); };
    const struct {
        const char* szCase;
        std::function<std::vector<std::string>()> args;
        std::function<void()> apply;  // what the edit does to the model; null: refused
        const char* szMessage;
    } rows[] = {
        {"insert END appends", [&] { return std::vector<std::string>{"insert", sFile, "END", "100"}; },
         [&] { model.insert(model.end(), 100, 0); }, "5000 -> 5100 bytes"},
        {"insert at the size appends", [&] { return std::vector<std::string>{"insert", sFile, size(), "1K"}; },
         [&] { model.insert(model.end(), 1024, 0); }, "5100 -> 6124 bytes"},
        {"insert end of nothing", [&] { return std::vector<std::string>{"insert", sFile, "end", "0"}; }, [] {},
         "6124 -> 6124 bytes"},
        {"remove up to the end cuts", [&] { return std::vector<std::string>{"remove", sFile, "6000", "124"}; },
         [&] { model.resize(6000); }, "6124 -> 6000 bytes"},
        {"insert past the end", [&] { return std::vector<std::string>{"insert", sFile, "6001", "1"}; }, nullptr,
         "position 6001 does not fit the file (size 6000 bytes)"},
        {"remove past the end", [&] { return std::vector<std::string>{"remove", sFile, "5990", "11"}; }, nullptr,
         "the range 5990 .. 6001 does not fit the file (size 6000 bytes)"},
        {"remove everything", [&] { return std::vector<std::string>{"remove", sFile, "0", size()}; },
         [&] { model.clear(); }, "6000 -> 0 bytes"},
        {"insert END into an empty file", [&] { return std::vector<std::string>{"insert", sFile, "END", "3"}; },
         [&] { model.assign(3, 0); }, "0 -> 3 bytes"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        const auto r = tool(row.args());
        EXPECT_EQ(r.nStatus, row.apply ? 0 : 1) << r.sStderr;
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_EQ(r.sStdout, "") << "summaries are not data";
        if (row.apply) row.apply();
        EXPECT_TRUE(qrtest::readFileBytes(sFile) == model);
    }
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
    EXPECT_EQ(r.sStderr, "recover: " + sFile + ": nothing to recover\n");

    interruptInsertion(sFile);
    ASSERT_NE(qrtest::readFileBytes(sFile), model) << "the edit was interrupted half-way";
    model.insert(model.begin() + 5, 3, 0);
    r = tool({"recover", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStderr, "recover: " + sFile + ": finished an interrupted edit\n");
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);

    // Something at the journal's name that others may read is no journal of the owner's, and one
    // of the owner's that does not check is damaged: both are refused, and the file stays as it is.
    const std::string sJournal = qr::journalPathFor(qr::sys::finalPath(sFile.c_str()));
    qrtest::writeFileText(sJournal, "not a journal");
    r = tool({"recover", sFile});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("not its owner's private journal"), std::string::npos) << r.sStderr;
    std::remove(sJournal.c_str());
    void* hJournal = qr::sys::createPrivateFile(sJournal.c_str(), qr::sys::kGenericWrite, 0, qr::sys::kCreateNew);
    ASSERT_TRUE(qr::sys::isValidHandle(hJournal));
    uint32_t nWritten = 0;
    qr::sys::writeFile(hJournal, "not a journal", 13, &nWritten);
    qr::sys::closeHandle(hJournal);
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
    EXPECT_EQ(r.sStderr, "qrtool: " + sFile + ": recovered an earlier interrupted edit first\nremove: " + sFile +
                             ": " + std::to_string(model.size()) + " -> " + std::to_string(model.size() - 2) + " bytes\n");
    model.erase(model.begin(), model.begin() + 2);
    EXPECT_EQ(qrtest::readFileBytes(sFile), model);
    r = tool({"insert", sFile, "0", "2"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStderr, "insert: " + sFile + ": " + std::to_string(model.size()) + " -> " + std::to_string(model.size() + 2) +
                             " bytes\n")
        << "nothing to recover, nothing said";

    r = tool({"recover"});
    EXPECT_EQ(r.nStatus, 2);
    r = tool({"recover", dir.file("missing.bin")});
    EXPECT_EQ(r.nStatus, 1);
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
    // Hexadecimal offsets and sizes give the same dump.
    const std::string sDecimal = tool({"view", sFile, "65540", "20"}).sStdout;
    r = tool({"view", sFile, "0x10004", "0X14"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, sDecimal);
    r = tool({"view", sFile, "0x1G", "1"});
    EXPECT_EQ(r.nStatus, 2);
    // --ebcdic reads the text column through the EBCDIC table.
    const std::string sHeader = dir.file("header.ebc");
    qrtest::writeFileBytes(sHeader, {0xC3, 0xF1, 0x40, 0xC8, 0x85, 0x93, 0x93, 0x96, 0x4A, 0x00});
    r = tool({"--ebcdic", "view", sHeader, "0", "10"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("|C1 Hello..|"), std::string::npos) << r.sStdout;
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
    EXPECT_EQ(r.sStdout.substr(0, r.sStdout.find("\nline\t")), "# channels: X Y FIDUCIAL FLIGHT MAG_NT ALT_M");
    EXPECT_NE(r.sStdout.find("AT0900\t" + std::to_string(lineCode("AT0900")) + "\tyes\tT\tA\tAN02\t" +
                             std::to_string(2 + (1 << 16) + (1 << 24)) + "\t9\t"),
              std::string::npos)
        << r.sStdout;
    EXPECT_EQ(std::count(r.sStdout.begin(), r.sStdout.end(), '\n'), 8);

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

    r = tool({"scan", dir.file("missing.xyz")});
    EXPECT_EQ(r.nStatus, 1);
}

// scan on a file in the conventions of XYZ exports: bare-number Line/Tie headers, flights and
// channel names in comments, '*' nulls, tabs, CR LF ends, a versioned name (valid: the version is
// no part of the code), and two headers that code to one number. The whole table is expected.
TEST(Qrtool, ScanReadsXyzExportConventions) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("export.xyz");
    qrtest::writeFileText(sFile,
                          "/ Survey export, lines and ties\n"      // 1
                          "/ X\tY\tFID\tMAG\n"                      // 2
                          "//Flight 172\n"                          // 3
                          "Line 17430\r\n"                          // 4
                          "  431900.0\t6512000.0\t1001\t51234.5\r\n"  // 5
                          "  431925.0 6512000.0 1002       *\r\n"  // 6
                          "  431950.0 6512000.0 1003 51236.0\r\n"  // 7
                          "Tie 9010\n"                              // 8
                          "  432000.0 6511900.0 2001       *\n"     // 9
                          "  432000.0 6511925.0 2002 51240.25\n"    // 10
                          "/FLIGHT AN3\n"                           // 11
                          "LINE L1010.2\n"                          // 12
                          " 1 2 3 4\n"                              // 13
                          "line 1010\n"                             // 14
                          " 1 2 3 4\n"                              // 15
                          "LINE L12A34\n"                           // 16
                          " 5 6 7\n");                              // 17
    const std::string sFlightAN3 = std::to_string(3 + (1 << 16) + (1 << 24));
    const std::string sTable = "line\tcode\tvalid\ttype\tarea\tflight\tflight_code\trecords\tfirst_line\twidths\tlayouts\tnulls\tnote";
    const std::vector<std::string> rows = {
        "L17430\t" + std::to_string(lineCode("L17430")) + "\tyes\tL\t\t172\t172\t3\t4\t10,10,5,8\t1\tMAG=1\t",
        "T9010\t" + std::to_string(lineCode("T9010")) + "\tyes\tT\t\t172\t172\t2\t8\t10,10,5,8\t2\tMAG=1\t",
        "L1010.2\t" + std::to_string(lineCode("L1010")) + "\tyes\tL\t\tAN03\t" + sFlightAN3 + "\t1\t12\t2,2,2,2\t1\t\t",
        "L1010\t" + std::to_string(lineCode("L1010")) + "\tyes\tL\t\tAN03\t" + sFlightAN3 +
            "\t1\t14\t2,2,2,2\t1\t\tsame code as L1010.2 (line 12)",
        "L12A34\t" + std::to_string(lineCode("L12")) + "\tno\tL\t\tAN03\t" + sFlightAN3 +
            "\t1\t16\t2,2,2\t1\t\tcodes as L0012: 'A34' after the number is not coded",
    };
    auto r = tool({"scan", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    std::string sExpected = "# channels: X Y FID MAG\n" + sTable + "\n";
    for (const std::string& sRow : rows) sExpected += sRow + "\n";
    EXPECT_EQ(r.sStdout, sExpected);
    EXPECT_NE(r.sStderr.find("1 of 5 line names are not valid"), std::string::npos) << r.sStderr;
    EXPECT_NE(r.sStderr.find("1 header line codes to the same number as an earlier one"), std::string::npos) << r.sStderr;

    // --stats adds the range of every numeric column, named by the channels; nulls left out.
    r = tool({"--stats", "scan", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    const std::string sRanges[] = {"X=431900..431950 Y=6512000..6512000 FID=1001..1003 MAG=51234.5..51236",
                                   "X=432000..432000 Y=6511900..6511925 FID=2001..2002 MAG=51240.25..51240.25",
                                   "X=1..1 Y=2..2 FID=3..3 MAG=4..4", "X=1..1 Y=2..2 FID=3..3 MAG=4..4",
                                   "X=5..5 Y=6..6 FID=7..7"};
    sExpected = "# channels: X Y FID MAG\n" + sTable + "\tranges\n";
    for (std::size_t i = 0; i < rows.size(); ++i) sExpected += rows[i] + "\t" + sRanges[i] + "\n";
    EXPECT_EQ(r.sStdout, sExpected);

    // JSON: true/false for yes/no, the channels before the lines, nulls and ranges by channel.
    r = tool({"--json", "--stats", "scan", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    for (const char* szPart : {"{\n  \"channels\": [\"X\", \"Y\", \"FID\", \"MAG\"],\n  \"lines\": [\n    {\"line\": \"L17430\"",
                               "\"valid\": true", "\"valid\": false", "\"nulls\": {\"MAG\": 1}",
                               "\"MAG\": {\"min\": 51240.25, \"max\": 51240.25}", "\"flight_code\": 172"})
        EXPECT_NE(r.sStdout.find(szPart), std::string::npos) << szPart << "\n" << r.sStdout;

    // Values without a size ("nan", "inf") have no range; the JSON stays JSON.
    qrtest::writeFileText(sFile, "LINE L5\n 1 nan\n 2 3\n 4 -inf\n");
    r = tool({"--json", "--stats", "scan", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("\"ranges\": {\"c1\": {\"min\": 1, \"max\": 4}, \"c2\": {\"min\": 3, \"max\": 3}}"),
              std::string::npos)
        << r.sStdout;
}

// A file that is not text is refused with a message, not listed as nothing.
TEST(Qrtool, ScanRefusesBinaryFiles) {
    std::string sSegyLike(3600, '\x40');
    sSegyLike.replace(0, 3, "\xC3\xF1\x40");
    for (std::size_t i = 3200; i < 3600; ++i) sSegyLike[i] = '\0';
    std::string sHighBytes;
    for (int i = 0; i < 5000; ++i) sHighBytes += static_cast<char>(0x80 + i % 0x40);
    const struct {
        const char* szCase;
        std::string sContent;
        bool bRefused;
    } rows[] = {
        {"zero bytes", std::string("LINE L1\n 1 2\n\0\0 3\n", 17), true},
        {"mostly bytes that are not text", "LINE L1\n" + sHighBytes, true},
        {"a tape header and zeros", sSegyLike, true},
        {"UTF-8 text", "/ \xE6\xB5\x8B\xE7\xBA\xBF \xE8\xAF\xB4\xE6\x98\x8E\nLINE L1\n 1 2\n", false},
        {"an empty file", "", false},
    };
    qrtest::ScratchDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        const std::string sFile = dir.file("data.xyz");
        qrtest::writeFileText(sFile, row.sContent);
        for (const char* szCommand : {"scan", "columns"}) {
            const auto r = tool({szCommand, sFile});
            EXPECT_EQ(r.nStatus, row.bRefused ? 1 : 0) << szCommand << ": " << r.sStderr;
            EXPECT_EQ(r.sStderr.find("looks binary") != std::string::npos, row.bRefused) << r.sStderr;
            if (row.bRefused) {
                EXPECT_EQ(r.sStdout, "");
            }
        }
    }
}

// Several files in one call: each listing headed by its file's name, JSON one object per file in
// an array; a file that cannot be read gets its error there, and the run fails.
TEST(Qrtool, ScanAndColumnsOfSeveralFiles) {
    qrtest::ScratchDir dir;
    const std::string sA = dir.file("a.xyz"), sB = dir.file("b.xyz"), sMissing = dir.file("missing.xyz");
    qrtest::writeFileText(sA, "/ X Y\nLine 1\n 1 2\n");
    qrtest::writeFileText(sB, "/ P Q R\rTie 2\r 1 2 3\r");
    const struct {
        const char* szCommand;
        std::vector<std::string> files;
        int nStatus;
        std::vector<std::string> heads;  // in order in the text form
    } rows[] = {
        {"scan", {sA, sB}, 0, {"# file: " + sA + "\n# channels: X Y\nline\t", "\n\n# file: " + sB + "\n# channels: P Q R\n# line_ends: CR\nline\t"}},
        {"columns", {sA, sMissing, sB}, 1, {"# file: " + sA + "\n# channels: X Y\nlayout\t", "\n\n# file: " + sMissing + "\n# error: ", "\n\n# file: " + sB + "\n"}},
        {"scan", {sA}, 0, {"# channels: X Y\nline\t"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.szCommand) + " of " + std::to_string(row.files.size()));
        std::vector<std::string> args = {row.szCommand};
        args.insert(args.end(), row.files.begin(), row.files.end());
        auto r = tool(args);
        EXPECT_EQ(r.nStatus, row.nStatus) << r.sStderr;
        std::size_t nAt = 0;
        for (const std::string& sHead : row.heads) {
            const std::size_t nFound = r.sStdout.find(sHead, nAt);
            ASSERT_NE(nFound, std::string::npos) << sHead << "\n" << r.sStdout;
            nAt = nFound + sHead.size();
        }
        args.insert(args.begin(), "--json");
        r = tool(args);
        EXPECT_EQ(r.nStatus, row.nStatus) << r.sStderr;
        EXPECT_EQ(r.sStdout.front(), row.files.size() > 1 ? '[' : '{') << r.sStdout;
        for (const std::string& sFile : row.files)
            EXPECT_EQ(r.sStdout.find("\"file\": " + jsonQuoted(sFile)) != std::string::npos, row.files.size() > 1) << r.sStdout;
    }
}

// An ASEG-GDF export: fixed-width records, lines and flights in columns, NULL= values (an array's
// too), a record of another width; the .dfn found beside the .dat or named with --dfn.
TEST(Qrtool, ScanWithAnAsegGdfDefinition) {
    qrtest::ScratchDir dir;
    const std::string sDefinition =
        "DEFN   ST=RECD,RT=COMM;RT:A4;COMMENTS:A76\n"
        "DEFN 1 ST=RECD,RT=;LINE:I8:NAME=Line number\n"
        "DEFN 2 ST=RECD,RT=;FLIGHT:I6\n"
        "DEFN 3 ST=RECD,RT=;MAG:F10.3:UNITS=nT:NULL=-9999.999\n"
        "DEFN 4 ST=RECD,RT=;EM:3F9.2:NULL=-999.99\n"
        "DEFN 5 ST=RECD,RT=;END DEFN\n";
    // The array's values abut where they fill their width: only the definition splits them.
    const std::string sRecords = "    1001    12 51234.500     1.00     2.00     3.00\n"
                                 "    1001    12 -9999.999-99999.99  -999.99     6.00\n"
                                 "COMM a comment record\n"
                                 "    1002    13 51236.000     7.00     8.00     9.00\n"
                                 "    1002    13\n";
    qrtest::writeFileText(dir.file("em.dat"), sRecords);
    qrtest::writeFileText(dir.file("em.dfn"), sDefinition);
    qrtest::writeFileText(dir.file("other.txt"), sRecords);
    qrtest::writeFileText(dir.file("bad.dfn"), "DEFN 1 ST=RECD,RT=;LINE:Q8\n");
    const std::string sTable =
        "line\tcode\tvalid\ttype\tarea\tflight\tflight_code\trecords\tfirst_line\twidths\tlayouts\tnulls\tnote\tranges\n"
        "L1001\t" + std::to_string(lineCode("L1001")) + "\tyes\tL\t\t12\t12\t2\t1\t8,6,10,9,9,9\t2\tMAG=1 EM[1..3]=1\t\t"
        "LINE=1001..1001 FLIGHT=12..12 MAG=51234.5..51234.5 EM[1..3]=-99999.99..6\n"
        "L1002\t" + std::to_string(lineCode("L1002")) + "\tyes\tL\t\t13\t13\t2\t4\t8,6,10,9,9,9\t2\t\t"
        "1 record is not 51 bytes wide as defined (first: line 5)\tLINE=1002..1002 FLIGHT=13..13 MAG=51236..51236 EM[1..3]=7..9\n";
    const struct {
        const char* szCase;
        std::vector<std::string> args;
        int nStatus;
        std::string sOut;  // the whole output, or the start of the error message
    } rows[] = {
        {"beside the data", {"--stats", "scan", dir.file("em.dat")}, 0,
         "# channels: LINE FLIGHT MAG EM[1..3]\n# units: MAG=nT\n# definition: " + dir.file("em.dfn") +
             " (51 bytes per record)\n# line_column: LINE\n# flight_column: FLIGHT\n" + sTable},
        {"named", {"--stats", "scan", "--dfn", dir.file("em.dfn"), dir.file("other.txt")}, 0,
         "# channels: LINE FLIGHT MAG EM[1..3]\n# units: MAG=nT\n# definition: " + dir.file("em.dfn") +
             " (51 bytes per record)\n# line_column: LINE\n# flight_column: FLIGHT\n" + sTable},
        {"not readable", {"scan", "--dfn", dir.file("bad.dfn"), dir.file("other.txt")}, 1,
         "qrtool: scan: " + dir.file("other.txt") + ": " + dir.file("bad.dfn") + ": line 1: field LINE: no format"},
        {"missing", {"columns", "--dfn", dir.file("none.dfn"), dir.file("other.txt")}, 1,
         "qrtool: columns: " + dir.file("other.txt") + ": " + dir.file("none.dfn") + ": "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        const auto r = tool(row.args);
        EXPECT_EQ(r.nStatus, row.nStatus) << r.sStderr;
        if (row.nStatus == 0) {
            EXPECT_EQ(r.sStdout, row.sOut);
            EXPECT_NE(r.sStderr.find("1 record is not 51 bytes wide as the definition says (first: line 5)"), std::string::npos)
                << r.sStderr;
        } else {
            EXPECT_EQ(r.sStderr.rfind(row.sOut, 0), 0u) << r.sStderr;
        }
    }
}

// Options that cannot be used stop the run with the usage status and say why.
TEST(Qrtool, ScanOptionsAreChecked) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("a.xyz");
    qrtest::writeFileText(sFile, "/ X LINE\n 1 10\n");
    const struct {
        std::vector<std::string> args;
        const char* szMessage;
    } rows[] = {
        {{"scan", "--delimiter", "x", sFile}, "--delimiter x: not one of , ; | blank"},
        {{"scan", "--null", "abc", sFile}, "--null 'abc' is no number"},
        {{"scan", "--null=MAG=", sFile}, "--null '' is no number"},
        {{"scan", "--null", "=5", sFile}, "no channel before '='"},
        {{"scan", "--null", "MAG=5", sFile}, "--null MAG=5: no channel MAG (channels: X LINE)"},
        {{"columns", "--line-column", "FID", sFile}, "no column 'FID' for the line numbers (channels: X LINE)"},
        {{"scan", "--flight-column", "3", sFile}, "no column '3' for the flight numbers"},
        {{"scan", sFile, "--line-column"}, "option '--line-column' needs a value"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szMessage);
        const auto r = tool(row.args);
        EXPECT_EQ(r.nStatus, 2);
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_EQ(r.sStdout, "");
    }
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
    // Standard input is bytes: a Ctrl-Z does not end it, a CR LF stays two bytes (Windows text
    // streams would do both).
    const std::string sRaw = std::string("A\x1A") + "B\r\nC";
    std::vector<char> converted(sRaw.begin(), sRaw.end());
    converted.push_back('\0');
    AsciiToEbcdic(converted.data());
    r = tool({"ascii2ebcdic"}, sRaw);
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, std::string(converted.data(), sRaw.size()));
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

// A conversion's OUT is created or replaced only with consent, never when it is the input
// itself, and a failed conversion leaves OUT as it was.
TEST(Qrtool, ConversionOutputIsReplacedOnlySafely) {
    const std::string sText = "Hello\n", sEbcdic = "\xC8\x85\x93\x93\x96\x40", sOld = "old contents";
    enum Out { Missing, Old };
    const struct {
        const char* szCase;
        Out out;
        std::vector<std::string> args;  // IN, OUT, options; "IN"/"OUT" stand for the files
        int nStatus;
        const char* szMessage;
        const char* szOutAfter;  // null: OUT must not exist
    } rows[] = {
        {"a new OUT is created", Missing, {"IN", "OUT"}, 0, "", "EBCDIC"},
        {"an existing OUT is kept without --yes", Old, {"IN", "OUT"}, 1, "not overwritten", "OLD"},
        {"--yes replaces OUT", Old, {"--yes", "IN", "OUT"}, 0, "", "EBCDIC"},
        {"IN = OUT", Old, {"--yes", "IN", "IN"}, 1, "same file", "OLD"},
        {"IN = OUT spelt differently", Old, {"--yes", "IN", "DIR/./in.txt"}, 1, "same file", "OLD"},
        {"IN a folder: no OUT", Missing, {"--yes", "DIR", "OUT"}, 1, "ascii2ebcdic: ", nullptr},
        {"OUT in a missing folder", Missing, {"--yes", "IN", "DIR/none/out.ebc"}, 1, "ascii2ebcdic: ", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtest::ScratchDir dir;
        const std::string sIn = dir.file("in.txt"), sOut = dir.file("out.ebc");
        qrtest::writeFileText(sIn, sText);
        if (row.out == Old) qrtest::writeFileText(sOut, sOld);
        std::vector<std::string> args{"ascii2ebcdic"};
        for (const std::string& sArg : row.args) {
            if (sArg == "IN") args.push_back(sIn);
            else if (sArg == "OUT") args.push_back(sOut);
            else if (sArg.rfind("DIR", 0) == 0) args.push_back(dir.path() + sArg.substr(3));
            else args.insert(args.begin(), sArg);  // an option
        }
        const auto r = tool(args);
        EXPECT_EQ(r.nStatus, row.nStatus) << r.sStderr;
        EXPECT_NE(r.sStderr.find(row.szMessage), std::string::npos) << r.sStderr;
        EXPECT_EQ(readText(sIn), sText);  // the input is never touched
        const std::string sExpected = row.szOutAfter == nullptr ? "" : std::string(row.szOutAfter) == "EBCDIC" ? sEbcdic : sOld;
        EXPECT_EQ(qrtest::fileExists(sOut), row.szOutAfter != nullptr);
        if (row.szOutAfter != nullptr) {
            EXPECT_EQ(readText(sOut), sExpected);
        }
        EXPECT_EQ(leftovers(dir.path()), std::vector<std::string>{});
    }
}

// A SEG-Y file written the way the format lays it out: a textual header (EBCDIC or ASCII), a
// binary header in the chosen byte order (with or without the byte-order constant of newer
// revisions), extended textual headers, and traces of 4-byte samples (format 5).
struct SegyShape {
    bool bLittle = false;
    bool bOrderConstant = false;
    bool bEbcdic = true;
    int nExtended = 0;        // written; announced as nAnnounced
    int nAnnounced = 0;
    bool bEndStanza = false;  // the last extended header ends the list ("((SEG: EndText))")
    int nTraces = 0;
    int nSamples = 0;
    int nExtra = 0;           // bytes after the last whole trace
};

std::vector<unsigned char> segyFile(const SegyShape& shape) {
    const auto textHeader = [&](const std::string& sFirst, bool bEnd) {
        std::string sText;
        for (int nCard = 1; nCard <= 40; ++nCard) {
            std::string sCard = "C" + std::to_string(nCard) + (nCard < 10 ? "  " : " ");
            sCard += nCard == 1 ? sFirst : nCard == 40 && bEnd ? "((SEG: EndText))" : "";
            sCard.resize(80, ' ');
            sText += sCard;
        }
        std::vector<unsigned char> bytes(sText.begin(), sText.end());
        if (shape.bEbcdic) {
            std::vector<char> ebcdic(sText.begin(), sText.end());
            ebcdic.push_back('\0');
            AsciiToEbcdic(ebcdic.data());
            bytes.assign(ebcdic.begin(), ebcdic.end() - 1);
        }
        return bytes;
    };
    std::vector<unsigned char> file = textHeader("CLIENT QRCORE TEST LINE 17", false);
    std::vector<unsigned char> binary(400, 0);
    const auto put = [&](std::size_t nOffset, uint32_t nValue, int nBytes) {
        for (int i = 0; i < nBytes; ++i) {
            const int nShift = 8 * (shape.bLittle ? i : nBytes - 1 - i);
            binary[nOffset + static_cast<std::size_t>(i)] = static_cast<unsigned char>(nValue >> nShift);
        }
    };
    put(0, 4711, 4);                // job
    put(4, 17, 4);                  // line
    put(8, 3, 4);                   // reel
    put(12, 24, 2);                 // traces per ensemble
    put(16, 2000, 2);               // sample interval (microseconds)
    put(20, static_cast<uint32_t>(shape.nSamples), 2);
    put(24, 5, 2);                  // 4-byte IEEE floating point
    put(54, 1, 2);                  // meters
    if (shape.bOrderConstant) put(96, 0x01020304, 4);
    put(300, shape.bOrderConstant ? 0x0200 : 0x0100, 2);
    put(302, 1, 2);                 // fixed-length traces
    put(304, static_cast<uint32_t>(static_cast<uint16_t>(shape.nAnnounced)), 2);
    file.insert(file.end(), binary.begin(), binary.end());
    for (int i = 1; i <= shape.nExtended; ++i) {
        const std::vector<unsigned char> extended =
            textHeader("EXTENDED HEADER " + std::to_string(i), shape.bEndStanza && i == shape.nExtended);
        file.insert(file.end(), extended.begin(), extended.end());
    }
    file.resize(file.size() + static_cast<std::size_t>(shape.nTraces) * (240 + 4 * static_cast<std::size_t>(shape.nSamples)) +
                    static_cast<std::size_t>(shape.nExtra),
                0);
    return file;
}

TEST(Qrtool, SegyHeadersOfBothByteOrders) {
    const struct {
        const char* szCase;
        SegyShape shape;
        const char* szByteOrder;
        const char* szRevision;
        int nTraces;
        bool bWhole;
    } rows[] = {
        {"big-endian, EBCDIC", {false, false, true, 0, 0, false, 10, 100, 0}, "big-endian", "1.0", 10, true},
        {"little-endian with the constant, ASCII, 2 extended", {true, true, false, 2, 2, false, 7, 50, 0}, "little-endian", "2.0", 7, true},
        {"little-endian without the constant", {true, false, true, 0, 0, false, 3, 8, 0}, "little-endian", "1.0", 3, true},
        {"big-endian, 1 extended, 100 bytes over", {false, false, true, 1, 1, false, 5, 25, 100}, "big-endian", "1.0", 5, false},
        {"open count of extended headers", {false, true, true, 2, -1, true, 4, 10, 0}, "big-endian", "2.0", 4, true},
    };
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("line17.sgy");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtest::writeFileBytes(sFile, segyFile(row.shape));
        auto r = tool({"--json", "segy", sFile});
        ASSERT_EQ(r.nStatus, 0) << r.sStderr;
        const std::string sEncoding = row.shape.bEbcdic ? "EBCDIC" : "ASCII";
        for (const std::string& sPart :
             {"\"byte_order\": \"" + std::string(row.szByteOrder) + "\"", "\"text_encoding\": \"" + sEncoding + "\"",
              std::string("\"job_id\": 4711,"), std::string("\"line_number\": 17,"), std::string("\"reel_number\": 3,"),
              std::string("\"traces_per_ensemble\": 24,"), std::string("\"sample_interval_us\": 2000,"),
              "\"samples_per_trace\": " + std::to_string(row.shape.nSamples) + ",", std::string("\"format_code\": 5,"),
              std::string("\"format\": \"4-byte IEEE floating point\","), std::string("\"measurement_system\": \"meters\","),
              "\"revision\": \"" + std::string(row.szRevision) + "\",", std::string("\"fixed_length_traces\": true,"),
              "\"extended_headers\": " + std::to_string(row.shape.nAnnounced) + ",",
              "\"trace_bytes\": " + std::to_string(240 + 4 * row.shape.nSamples) + ",",
              "\"traces\": " + std::to_string(row.nTraces) + ",", "\"whole_traces\": " + std::string(row.bWhole ? "true" : "false"),
              std::string("\"textual_header\": [\"C1  CLIENT QRCORE TEST LINE 17")})
            EXPECT_NE(r.sStdout.find(sPart), std::string::npos) << sPart << "\n" << r.sStdout.substr(0, 1200);
        // Every extended header that is there is shown, each as 40 cards.
        std::size_t nShown = 0;
        for (std::size_t nAt = 0; (nAt = r.sStdout.find("C1  EXTENDED HEADER ", nAt)) != std::string::npos; ++nAt) ++nShown;
        EXPECT_EQ(nShown, static_cast<std::size_t>(row.shape.nExtended));
        EXPECT_EQ(r.sStderr.find("not a whole number of traces") == std::string::npos, row.bWhole) << r.sStderr;
    }

    // The text form: the header as 40 lines of 80 columns, then the binary header's fields.
    qrtest::writeFileBytes(sFile, segyFile(rows[0].shape));
    auto r = tool({"segy", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("\nTextual header (EBCDIC, code page 037):\nC1  CLIENT QRCORE TEST LINE 17" + std::string(50, ' ') + "\nC2 "),
              std::string::npos)
        << r.sStdout.substr(0, 400);
    EXPECT_NE(r.sStdout.find("\n  traces                         10\n"), std::string::npos) << r.sStdout;

    qrtest::writeFileBytes(sFile, std::vector<unsigned char>(3599, 0x40));
    r = tool({"segy", sFile});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find("too short"), std::string::npos) << r.sStderr;
}

// Writes nValue as nBytes at nOffset of a file image in the file's byte order.
void putValue(std::vector<unsigned char>& file, std::size_t nOffset, int64_t llValue, int nBytes, bool bLittle) {
    const auto u = static_cast<uint64_t>(llValue);
    for (int i = 0; i < nBytes; ++i)
        file[nOffset + static_cast<std::size_t>(i)] = static_cast<unsigned char>(u >> (8 * (bLittle ? i : nBytes - 1 - i)));
}

// What the trace headers of segyTraces hold, trace by trace, in the units a user reads (scalars
// applied): coordinates in centimetres with the scalar -100, elevations in tens with 10.
struct TraceModel {
    static int64_t sequence(int k) { return k + 1; }
    static int64_t cdp(int k) { return 100 + k / 2; }
    static double sourceX(int k) { return 431900.0 + 25.25 * k; }
    static int64_t elevation(int k) { return 10 * (12 + k % 3); }
    static int64_t inlineNumber(int k) { return 1000 + k; }
};

// A SEG-Y file of shape with trace headers that follow TraceModel.
std::vector<unsigned char> segyTraces(const SegyShape& shape) {
    std::vector<unsigned char> file = segyFile(shape);
    const std::size_t nFirst = 3600 + 3200 * static_cast<std::size_t>(shape.nExtended);
    const std::size_t nTraceBytes = 240 + 4 * static_cast<std::size_t>(shape.nSamples);
    for (int k = 0; k < shape.nTraces; ++k) {
        const std::size_t nAt = nFirst + static_cast<std::size_t>(k) * nTraceBytes;
        const auto put = [&](int nByte, int64_t llValue, int nBytes) {
            putValue(file, nAt + static_cast<std::size_t>(nByte - 1), llValue, nBytes, shape.bLittle);
        };
        put(1, TraceModel::sequence(k), 4);
        put(21, TraceModel::cdp(k), 4);
        put(69, 10, 2);
        put(71, -100, 2);
        put(41, TraceModel::elevation(k) / 10, 4);
        put(73, static_cast<int64_t>(TraceModel::sourceX(k) * 100 + 0.5), 4);
        put(189, TraceModel::inlineNumber(k), 4);
        put(115, shape.nSamples, 2);
    }
    return file;
}

std::string shortestText(double d) {
    char szText[64];
    const auto result = std::to_chars(szText, szText + sizeof szText, d);
    return std::string(szText, result.ptr);
}

TEST(Qrtool, SegyTraceHeadersAreListed) {
    const struct {
        const char* szCase;
        bool bLittle;
        const char* szRange;
        std::vector<int> traces;
    } rows[] = {
        {"big-endian, a range", false, "0:3", {0, 1, 2}},
        {"little-endian, a step", true, "1:8:3", {1, 4, 7}},
        {"one trace", false, "4", {4}},
        {"all, past the end cut", true, "6:100", {6, 7, 8}},
        {"all", false, "all", {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"a step from the start", false, "::3", {0, 3, 6}},
        {"a step past every trace", true, "2::9223372036854775807", {2}},
    };
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("traces.sgy");
    const std::string sFields = "trace_sequence_line,cdp,source_x,receiver_elevation,inline";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        SegyShape shape;
        shape.bLittle = row.bLittle;
        shape.nTraces = 9;
        shape.nSamples = 30;
        qrtest::writeFileBytes(sFile, segyTraces(shape));
        auto r = tool({"segy", "--traces", row.szRange, "--fields", sFields, sFile});
        ASSERT_EQ(r.nStatus, 0) << r.sStderr;
        std::string sExpected = "trace\ttrace_sequence_line\tcdp\tsource_x\treceiver_elevation\tinline\n";
        std::string sJson;
        for (const int k : row.traces) {
            sExpected += std::to_string(k) + "\t" + std::to_string(TraceModel::sequence(k)) + "\t" + std::to_string(TraceModel::cdp(k)) +
                         "\t" + shortestText(TraceModel::sourceX(k)) + "\t" + std::to_string(TraceModel::elevation(k)) + "\t" +
                         std::to_string(TraceModel::inlineNumber(k)) + "\n";
            sJson = "{\"trace\": " + std::to_string(k) + ", \"trace_sequence_line\": " + std::to_string(TraceModel::sequence(k));
        }
        EXPECT_EQ(r.sStdout, sExpected);
        r = tool({"--json", "segy", "--traces", row.szRange, "--fields", sFields, sFile});
        ASSERT_EQ(r.nStatus, 0) << r.sStderr;
        EXPECT_NE(r.sStdout.find(sJson), std::string::npos) << r.sStdout;
        EXPECT_EQ(r.sStdout.rfind("{\n  \"file\": " + jsonQuoted(sFile) + ",\n  \"byte_order\": \"" + (row.bLittle ? "little" : "big") +
                                      "-endian\",\n  \"trace_length\": \"fixed\",\n  \"traces\": [\n",
                                  0),
                  0u)
            << r.sStdout;
    }

    // The default fields name what a user looks for first; bad ranges and names are usage errors.
    auto r = tool({"segy", "--traces", "0:1", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    for (const char* szField : {"\tcdp\t", "\tsource_x\t", "\tinline\t", "\tcrossline\n", "\tsamples\t", "\tdelay_ms\t", "\tyear\t"})
        EXPECT_NE(r.sStdout.find(szField), std::string::npos) << szField;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--traces", "5:2"}, {"--traces", "a:b"},
                                                  {"--traces", "0:4:0"}, {"--traces", "all", "--fields", "cdp,nonsense"}}) {
        std::vector<std::string> all{"segy"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(sFile);
        EXPECT_EQ(tool(all).nStatus, 2) << args[1];
    }
    r = tool({"segy", "--fields", "list"});
    ASSERT_EQ(r.nStatus, 0);
    EXPECT_NE(r.sStdout.find("189\t4\tinline\tyes\t\t"), std::string::npos) << r.sStdout;
    EXPECT_NE(r.sStdout.find("73\t4\tsource_x\tyes\tby byte 71\t"), std::string::npos) << r.sStdout;
}

// Every trace read in bounded memory for a summary: minimum, maximum and distinct values per field.
TEST(Qrtool, SegyTraceSummary) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("summary.sgy");
    SegyShape shape;
    shape.nTraces = 20;
    shape.nSamples = 4;
    qrtest::writeFileBytes(sFile, segyTraces(shape));
    const auto r = tool({"segy", "--trace-summary", "--fields", "cdp,receiver_elevation,source_x", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    const int nLast = shape.nTraces - 1;
    const std::string sExpected = "# traces: 20\n"
                                  "field\tbyte\tmin\tmax\tdistinct\tdistinct_capped\n"
                                  "cdp\t21\t" + std::to_string(TraceModel::cdp(0)) + "\t" + std::to_string(TraceModel::cdp(nLast)) + "\t10\tno\n"
                                  "receiver_elevation\t41\t120\t140\t3\tno\n"
                                  "source_x\t73\t" + shortestText(TraceModel::sourceX(0)) + "\t" + shortestText(TraceModel::sourceX(nLast)) +
                                  "\t20\tno\n";
    EXPECT_EQ(r.sStdout, sExpected);
}

// A file whose traces vary in length (revision 1, not fixed) is walked header by header, and a
// trace that announces more samples than the file holds ends the walk with a note.
TEST(Qrtool, SegyVariableLengthTraces) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("variable.sgy");
    SegyShape shape;
    shape.nSamples = 10;
    std::vector<unsigned char> file = segyFile(shape);
    putValue(file, 3200 + 302, 0, 2, false);  // lengths vary
    const int nSamples[] = {10, 3, 25, 0};  // 0: the binary header's count
    for (int k = 0; k < 4; ++k) {
        std::vector<unsigned char> trace(240 + 4 * static_cast<std::size_t>(nSamples[k] == 0 ? 10 : nSamples[k]), 0);
        putValue(trace, 0, k + 1, 4, false);
        putValue(trace, 114, nSamples[k], 2, false);
        file.insert(file.end(), trace.begin(), trace.end());
    }
    std::vector<unsigned char> broken(240, 0);
    putValue(broken, 114, 500, 2, false);
    file.insert(file.end(), broken.begin(), broken.end());
    qrtest::writeFileBytes(sFile, file);
    auto r = tool({"segy", "--traces", "1:", "--fields", "trace_sequence_line,samples", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(r.sStdout, "trace\ttrace_sequence_line\tsamples\n1\t2\t3\n2\t3\t25\n3\t4\t0\n");
    EXPECT_NE(r.sStderr.find("trace 4 announces 500 samples, more than the file holds"), std::string::npos) << r.sStderr;
    r = tool({"--json", "segy", "--traces", "all", sFile});
    EXPECT_NE(r.sStdout.find("\"trace_length\": \"variable\""), std::string::npos) << r.sStdout;
}

// --all shows every binary-header field with its byte position, marking the ones not zero.
TEST(Qrtool, SegyWholeBinaryHeader) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("all.sgy");
    SegyShape shape;
    shape.nTraces = 2;
    shape.nSamples = 8;
    std::vector<unsigned char> file = segyFile(shape);
    putValue(file, 3226, 12, 2, false);  // ensemble fold
    qrtest::writeFileBytes(sFile, file);
    auto r = tool({"segy", "--all", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    for (const char* szLine : {"\n* 3201     4  job_id ", "\n* 3227     2  ensemble_fold ", "\n  3229     2  sorting_code ",
                               "\n  3521     8  first_trace_offset "})
        EXPECT_NE(r.sStdout.find(szLine), std::string::npos) << szLine << "\n" << r.sStdout;
    r = tool({"--json", "segy", "--all", sFile});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_NE(r.sStdout.find("{\"byte\": 3227, \"size\": 2, \"name\": \"ensemble_fold\", \"value\": 12, \"nonzero\": true, "),
              std::string::npos)
        << r.sStdout;
}

// EBCDIC text headers lose no printable character by default: brackets and bars come through
// in code page 037 or 1047 (chosen by where the brackets are), and the output says which.
TEST(Qrtool, SegyAndViewReadEbcdicTextWithoutLoss) {
    // "UNITS [ms] |" in each code page, and what the library's table makes of the 037 bytes.
    const std::vector<unsigned char> cp037 = {0xE4, 0xD5, 0xC9, 0xE3, 0xE2, 0x40, 0xBA, 0x94, 0xA2, 0xBB, 0x40, 0x4F};
    std::vector<unsigned char> cp1047 = cp037;
    cp1047[6] = 0xAD;
    cp1047[9] = 0xBD;
    const struct {
        const char* szCase;
        const std::vector<unsigned char>& bytes;
        const char* szCodepage;  // --codepage; null: the default
        const char* szText;
        const char* szLabel;
        const char* szName;  // as JSON names the code page used
    } rows[] = {
        {"037 by default", cp037, nullptr, "UNITS [ms] |", "EBCDIC, code page 037", "037"},
        {"1047 recognised", cp1047, nullptr, "UNITS [ms] |", "EBCDIC, code page 1047", "1047"},
        {"1047 asked for", cp1047, "1047", "UNITS [ms] |", "EBCDIC, code page 1047", "1047"},
        {"the library's table", cp037, "table", "UNITS  ms  |", "EBCDIC, the library's table", "table"},
    };
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("text.sgy");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        SegyShape shape;
        std::vector<unsigned char> file = segyFile(shape);
        std::copy(row.bytes.begin(), row.bytes.end(), file.begin() + 80);  // card 2
        qrtest::writeFileBytes(sFile, file);
        std::vector<std::string> args{"segy", sFile};
        if (row.szCodepage != nullptr) args.insert(args.begin() + 1, {"--codepage", row.szCodepage});
        auto r = tool(args);
        ASSERT_EQ(r.nStatus, 0) << r.sStderr;
        EXPECT_NE(r.sStdout.find(std::string("Textual header (") + row.szLabel + "):\n"), std::string::npos) << r.sStdout;
        EXPECT_NE(r.sStdout.find(std::string("\n") + row.szText + std::string(68, ' ') + "\n"), std::string::npos) << r.sStdout;
        args.insert(args.begin(), "--json");
        r = tool(args);
        EXPECT_NE(r.sStdout.find(std::string("\"text_codepage\": \"") + row.szName + "\""),
                  std::string::npos)
            << r.sStdout.substr(0, 300);

        args = {"--ebcdic", "view", sFile, "80", "12"};
        if (row.szCodepage != nullptr) args.insert(args.begin(), {"--codepage", row.szCodepage});
        r = tool(args);
        ASSERT_EQ(r.nStatus, 0) << r.sStderr;
        // view has no text to guess from: 037 unless asked, and '.' where the table has nothing.
        const bool bAsked = row.szCodepage != nullptr;
        const std::string sColumn = bAsked && std::string(row.szCodepage) == "table" ? "UNITS .ms. |" : row.bytes == cp037 || bAsked ? row.szText : "UNITS .ms. |";
        EXPECT_NE(r.sStdout.find("|" + sColumn + "|"), std::string::npos) << r.sStdout;
    }
    EXPECT_EQ(tool({"segy", "--codepage", "500", sFile}).nStatus, 2);
}

// The read-only commands take several files, each output headed by its name; JSON gives one
// object per file; a file that fails does not stop the others.
TEST(Qrtool, SegyAndViewTakeSeveralFiles) {
    qrtest::ScratchDir dir;
    const std::string sA = dir.file("a.sgy"), sB = dir.file("b.sgy"), sMissing = dir.file("none.sgy");
    SegyShape shape;
    shape.nTraces = 3;
    shape.nSamples = 5;
    qrtest::writeFileBytes(sA, segyTraces(shape));
    shape.nTraces = 4;
    qrtest::writeFileBytes(sB, segyTraces(shape));
    auto r = tool({"segy", sA, sMissing, sB});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_NE(r.sStderr.find(sMissing), std::string::npos) << r.sStderr;
    const std::size_t nA = r.sStdout.find("==> " + sA + " <==\nFile:\n"), nB = r.sStdout.find("\n\n==> " + sB + " <==\nFile:\n");
    EXPECT_EQ(nA, 0u) << r.sStdout.substr(0, 200);
    ASSERT_NE(nB, std::string::npos);
    EXPECT_NE(r.sStdout.find("  traces                         3\n"), std::string::npos);
    EXPECT_NE(r.sStdout.find("  traces                         4\n", nB), std::string::npos);
    r = tool({"--json", "segy", sA, sMissing, sB});
    EXPECT_EQ(r.nStatus, 1);
    EXPECT_EQ(r.sStdout.substr(0, 4), "[\n{\n");
    EXPECT_NE(r.sStdout.find("}\n,\n{\n  \"file\": " + jsonQuoted(sB)), std::string::npos) << r.sStdout;
    EXPECT_EQ(r.sStdout.substr(r.sStdout.size() - 4), "}\n]\n");
    r = tool({"view", sA, sB, "0", "4"});
    ASSERT_EQ(r.nStatus, 0) << r.sStderr;
    EXPECT_EQ(std::count(r.sStdout.begin(), r.sStdout.end(), '\n'), 5) << r.sStdout;
}

// --json is honoured (a JSON value on standard output, summaries included) or refused with
// status 2; --quiet leaves standard error to errors.
TEST(Qrtool, JsonIsHonouredOrRefused) {
    qrtest::ScratchDir dir;
    const std::string sFile = dir.file("data.bin");
    qrtest::writeFileBytes(sFile, digits(100));
    const struct {
        std::vector<std::string> args;
        const char* szStdout;  // the start of the JSON; null: refused
    } rows[] = {
        {{"view", sFile, "0", "4"}, "{\n  \"file\": "},
        {{"insert", sFile, "0", "4"}, "{\"command\": \"insert\", \"file\": "},
        {{"remove", sFile, "0", "4"}, "{\"command\": \"remove\", \"file\": "},
        {{"recover", sFile}, "{\"command\": \"recover\", \"file\": "},
        {{"ascii2ebcdic", sFile, dir.file("out")}, nullptr},
        {{"sample", dir.path()}, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[0]);
        std::vector<std::string> args{"--json", "--quiet"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const auto r = tool(args);
        EXPECT_EQ(r.nStatus, row.szStdout != nullptr ? 0 : 2) << r.sStderr;
        if (row.szStdout != nullptr) {
            EXPECT_EQ(r.sStdout.rfind(row.szStdout, 0), 0u) << r.sStdout;
            EXPECT_EQ(r.sStderr, "");
        } else {
            EXPECT_NE(r.sStderr.find("--json is not offered"), std::string::npos) << r.sStderr;
        }
    }
    EXPECT_EQ(qrtest::readFileBytes(sFile), digits(100));
    EXPECT_FALSE(qrtest::fileExists(dir.file("out")));
}

}  // namespace
