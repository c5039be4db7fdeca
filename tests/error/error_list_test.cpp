// The error-list reader: layouts of white space, counts, malformed entries, and where the list
// is looked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "error/error_list.h"
#include "platform/sys_files.h"
#include "support/scratch.h"

namespace {

struct Parsed {
    qr::ErrorListStatus status;
    std::vector<_tagErrorItem> items;
};

Parsed parse(const std::string& sText) {
    Parsed parsed{qr::ErrorListStatus::CannotOpen, {}};
    qrtest::ScratchDir dir;
    const std::string sPath = dir.file("QuarrionError.inf");
    qrtest::writeFileText(sPath, sText);
    std::FILE* pFile = std::fopen(sPath.c_str(), "r");
    if (pFile == nullptr) return parsed;
    parsed.status = qr::readErrorList(pFile, parsed.items);
    std::fclose(pFile);
    return parsed;
}

std::string describe(const std::vector<_tagErrorItem>& items) {
    std::string s;
    for (const _tagErrorItem& item : items) s += std::to_string(item.lErrorNo) + "=" + item.szErrorInfo + ";";
    return s;
}

TEST(ErrorList, AnyLayoutOfWhiteSpaceReadsTheSame) {
    const char* layouts[] = {
        "QRError 3\n1000003  E_MODE     Invalid-open-mode!\n1000004  E_MEMORY   Not-enough-memory!\n"
        "1000005  E_BUFFER   Buffer-too-small!\n",
        "QRError\n3\n1000003\nE_MODE\nInvalid-open-mode!\n1000004\nE_MEMORY\nNot-enough-memory!\n1000005\n"
        "E_BUFFER\nBuffer-too-small!",
        "QRError 3 1000003 E_MODE Invalid-open-mode! 1000004 E_MEMORY Not-enough-memory! 1000005 E_BUFFER "
        "Buffer-too-small!",
        "\t\r\n  QRError\t3\t1000003\tE_MODE\tInvalid-open-mode!\r\n1000004 \t E_MEMORY\v Not-enough-memory!\f"
        "1000005\r\nE_BUFFER\r\nBuffer-too-small!\r\n",
    };
    for (const char* szLayout : layouts) {
        SCOPED_TRACE(szLayout);
        const Parsed parsed = parse(szLayout);
        ASSERT_EQ(parsed.status, qr::ErrorListStatus::Ok);
        EXPECT_EQ(describe(parsed.items), "1000003=Invalid-open-mode!;1000004=Not-enough-memory!;1000005=Buffer-too-small!;");
    }
}

TEST(ErrorList, CountsAndMalformedEntries) {
    struct Row {
        const char* szName;
        const char* szText;
        qr::ErrorListStatus status;
        const char* szItems;
    } rows[] = {
        {"words after the declared entries are ignored", "QRError 1 7 A seven 8 B eight", qr::ErrorListStatus::Ok, "7=seven;"},
        {"count larger than entries present", "QRError 5 7 A seven 8 B eight", qr::ErrorListStatus::Ok, "7=seven;8=eight;"},
        {"entry cut off by the end of the file", "QRError 2 7 A seven 8 B", qr::ErrorListStatus::Ok, "7=seven;"},
        {"count not a number", "QRError many 7 A seven", qr::ErrorListStatus::Ok, ""},
        {"count missing", "QRError", qr::ErrorListStatus::Ok, ""},
        {"negative count", "QRError -2 7 A seven", qr::ErrorListStatus::Ok, ""},
        {"count beyond 32 bits", "QRError 99999999999 7 A seven", qr::ErrorListStatus::Ok, ""},
        {"number not decimal stops reading", "QRError 3 7 A seven 0x8 B eight 9 C nine", qr::ErrorListStatus::Ok, "7=seven;"},
        {"signed numbers", "QRError 2 -1 A minus +12 B plus", qr::ErrorListStatus::Ok, "-1=minus;12=plus;"},
        {"second word of 64 bytes stops reading",
         "QRError 2 7 A seven 8 BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB eight",
         qr::ErrorListStatus::Ok, "7=seven;"},
        {"text of 128 bytes stops reading",
         "QRError 2 7 A seven 8 B "
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
         "xxxxxxxxxxxxxxxxxxxxxxxxx",
         qr::ErrorListStatus::Ok, "7=seven;"},
        {"keyword only differs in case", "qRError 1 7 A seven", qr::ErrorListStatus::BadFormat, ""},
        {"keyword longer", "QRError2 1 7 A seven", qr::ErrorListStatus::BadFormat, ""},
        {"empty", "", qr::ErrorListStatus::BadFormat, ""},
        {"only blanks", "  \n\t ", qr::ErrorListStatus::BadFormat, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        const Parsed parsed = parse(row.szText);
        EXPECT_EQ(parsed.status, row.status);
        EXPECT_EQ(describe(parsed.items), row.szItems);
    }
}

// Every program reads the list before main: a list beyond the bounds is malformed and read no
// further, and bytes after the last entry are never read at all.
TEST(ErrorList, BoundsOfCountAndSize) {
    std::string sAtBound = "QRError " + std::to_string(qr::kErrorListMaxEntries);
    for (int32_t i = 0; i < qr::kErrorListMaxEntries; ++i) sAtBound += " 1 A t";
    // The last entry's text ends at the last byte within the bound, or one byte later.
    const std::string sHead = "QRError 1", sEntry = " 7 A seven";
    const std::string sEndsAtBound = sHead + std::string(qr::kErrorListMaxBytes - sHead.size() - sEntry.size(), ' ') + sEntry;
    struct Row {
        const char* szName;
        std::string sText;
        qr::ErrorListStatus status;
        std::size_t nItems;
    } rows[] = {
        {"count at the bound", sAtBound, qr::ErrorListStatus::Ok, std::size_t(qr::kErrorListMaxEntries)},
        {"count above the bound", "QRError " + std::to_string(qr::kErrorListMaxEntries + 1) + " 7 A seven",
         qr::ErrorListStatus::TooManyEntries, 0},
        {"count of 2^31-1", "QRError 2147483647 7 A seven", qr::ErrorListStatus::TooManyEntries, 0},
        {"last entry ends at the bound", sEndsAtBound + "\n", qr::ErrorListStatus::Ok, 1},
        {"last entry ends one byte past the bound", " " + sEndsAtBound, qr::ErrorListStatus::TooLarge, 0},
        {"an entry starts past the bound", "QRError 2 7 A seven" + std::string(qr::kErrorListMaxBytes, '\n') + "8 B eight",
         qr::ErrorListStatus::TooLarge, 0},
        {"a first word longer than the bound", std::string(qr::kErrorListMaxBytes + 1, 'Q'), qr::ErrorListStatus::TooLarge, 0},
        {"bytes after the last entry", "QRError 1 7 A seven\n" + std::string(2 * qr::kErrorListMaxBytes, 'x'),
         qr::ErrorListStatus::Ok, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        const Parsed parsed = parse(row.sText);
        EXPECT_EQ(parsed.status, row.status);
        EXPECT_EQ(parsed.items.size(), row.nItems);
    }
}

TEST(ErrorList, TextOf127BytesIsKept) {
    const std::string sText(127, 'y');
    const Parsed parsed = parse("QRError 1 7 A " + sText);
    ASSERT_EQ(parsed.items.size(), 1u);
    EXPECT_EQ(std::string(parsed.items[0].szErrorInfo), sText);
}

TEST(ErrorList, PathIsTheExecutablesFolder) {
    // Cut at the last separator ('/', on Windows also '\\'), joined with the system's own.
    const std::string s = std::string(1, qr::sys::kPathSeparator);
    EXPECT_EQ(qr::errorListPath("/opt/survey/bin/app"), "/opt/survey/bin" + s + "QuarrionError.inf");
    EXPECT_EQ(qr::errorListPath("/app"), s + "QuarrionError.inf");
    EXPECT_EQ(qr::errorListPath("app"), "app" + s + "QuarrionError.inf");
    EXPECT_EQ(qr::errorListPath(""), "");
    const std::string sBackslashed = qr::errorListPath("C:\\survey\\bin\\app.exe");
    // On POSIX a backslash is a byte of a name like any other.
    EXPECT_EQ(sBackslashed, qr::sys::kPathSeparator == '\\' ? "C:\\survey\\bin\\QuarrionError.inf"
                                                             : "C:\\survey\\bin\\app.exe/QuarrionError.inf");
    // The whole path must fit 255 bytes.
    const std::string sFolder = "/" + std::string(236, 'd');
    EXPECT_EQ(qr::errorListPath(sFolder + "/app").size(), 255u);
    EXPECT_EQ(qr::errorListPath(sFolder + "d/app"), "");
}

TEST(ErrorList, CandidatesFollowTheSearchOrderWithoutRepeats) {
    // Written with '|' for the system's separator.
    const auto sep = [](std::string sPath) {
        std::replace(sPath.begin(), sPath.end(), '|', qr::sys::kPathSeparator);
        return sPath;
    };
    struct Case {
        const char* szExe;
        const char* szLib;
        const char* szData;
        std::vector<const char*> expected;
    };
    const Case cases[] = {
        {"/opt/app/bin/app", "/opt/app/lib/libqrcore.so.0", "../share/qrcore",
         {"/opt/app/bin|QuarrionError.inf", "/opt/app/lib|QuarrionError.inf",
          "/opt/app/lib|../share/qrcore|QuarrionError.inf"}},
        // Library linked into the program: its folder is searched once.
        {"/opt/app/bin/app", "/opt/app/bin/app", "../share/qrcore",
         {"/opt/app/bin|QuarrionError.inf", "/opt/app/bin|../share/qrcore|QuarrionError.inf"}},
        {"", "/usr/lib/libqrcore.so.0", "", {"/usr/lib|QuarrionError.inf"}},
        {"/x/app", "", "../share/qrcore", {"/x|QuarrionError.inf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.szExe) + " | " + c.szLib);
        std::vector<std::string> expected;
        for (const char* szPath : c.expected) expected.push_back(sep(szPath));
        EXPECT_EQ(qr::errorListCandidates(c.szExe, c.szLib, c.szData), expected);
    }
    // A data folder path that does not fit is left out; the others stay.
    const std::string sLib = "/" + std::string(200, 'l') + "/lib.so";
    EXPECT_EQ(qr::errorListCandidates("", sLib, std::string(60, 'd')).size(), 1u);
}

// The shipped lists: the English one translates every entry of the system's list, with the
// same numbers in the same order, and each text reads back whole as one printable word.
TEST(ErrorList, ShippedListsAgreeEntryForEntry) {
    std::vector<_tagErrorItem> lists[2];
    const char* szFiles[] = {QRCORE_DATA_DIR "/QuarrionError.inf", QRCORE_DATA_DIR "/QuarrionError.en.inf"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(szFiles[i]);
        std::FILE* pFile = std::fopen(szFiles[i], "r");
        ASSERT_NE(pFile, nullptr);
        EXPECT_EQ(qr::readErrorList(pFile, lists[i]), qr::ErrorListStatus::Ok);
        std::fclose(pFile);
    }
    ASSERT_EQ(lists[0].size(), lists[1].size());
    EXPECT_GE(lists[0].size(), 10u);
    for (std::size_t k = 0; k < lists[0].size(); ++k) {
        SCOPED_TRACE(lists[1][k].szErrorInfo);
        EXPECT_EQ(lists[1][k].lErrorNo, lists[0][k].lErrorNo);
        const std::string sText = lists[1][k].szErrorInfo;
        EXPECT_FALSE(sText.empty());
        for (const char c : sText) EXPECT_TRUE(c > 0x20 && c < 0x7F) << sText;
    }
}

}  // namespace
