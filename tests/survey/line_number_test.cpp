// Line-number codec: names to codes and back, the code's fields, blanks and buffer sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qrcore/survey.h"
#include "survey_reference.h"

namespace {

using surveyref::lineCode;

// Buffer sizes around a text of nLength characters: none, too small, exact, roomy, and the sizes
// at which the printer writes straight into the caller's buffer.
std::vector<int32_t> sizesAround(size_t nLength) {
    std::vector<int32_t> aSizes = {-2, -1, 0, 16, 17, 40};
    for (int32_t n = 1; n <= static_cast<int32_t>(nLength) + 2; ++n) aSizes.push_back(n);
    return aSizes;
}

constexpr int64_t kDummy = -32767;

struct TextRow {
    const char* szName;
    std::string sText;
    bool bValid;
    int64_t llCode;        // expected code (kDummy when not valid)
    const char* szPrinted; // expected text of the code
};

// Names and codes in both directions: every valid row's code prints as szPrinted, and the
// printed text reads back as the same code.
TEST(LineNumber, TextsAndCodesBothWays) {
    const std::vector<TextRow> rows = {
        {"keyword RESET", "RESET", true, -1, "RESET"},
        {"keyword NEXTIND", "NEXTIND", true, 0, "NEXTIND"},
        {"keyword DUMMY", "DUMMY", true, kDummy, "DUMMY"},
        {"area A, type L", "AL0123", true, lineCode(123, 1, 1), "AL0123"},
        {"area B, type T, short number", "BT45", true, lineCode(45, 3, 2), "BT0045"},
        {"number only", "123", true, 123, "0123"},
        {"one digit", "7", true, 7, "0007"},
        {"type without area", "L0", true, lineCode(0, 1, 0), "L0000"},
        {"zero is NEXTIND", "0", true, 0, "NEXTIND"},
        {"zeros are NEXTIND", "0000", true, 0, "NEXTIND"},
        {"empty text is NEXTIND", "", true, 0, "NEXTIND"},
        {"lower case", "al123", true, lineCode(123, 1, 1), "AL0123"},
        {"lower-case type", "r12", true, lineCode(12, 4, 0), "R0012"},
        {"area character 64 alone", "@L5", true, lineCode(5, 1, 0), "L0005"},
        {"area character 64 second", "A@L5", true, lineCode(5, 1, 26), "ZL0005"},
        {"area character 64 first", "@AL5", true, lineCode(5, 1, 1), "AL0005"},
        {"highest area DW", "DWL1", true, lineCode(1, 1, 127), "DWL0001"},
        {"area AZ", "azl1", true, lineCode(1, 1, 52), "AZL0001"},
        {"area CZ", "CZB5", true, lineCode(5, 2, 104), "CZB0005"},
        {"area DA", "DAP5", true, lineCode(5, 6, 105), "DAP0005"},
        {"number stops at non-digit", "L12A34", true, lineCode(12, 1, 0), "L0012"},
        {"digits first, letters after", "1L", true, 1, "0001"},
        {"no digits: last letter is type", "AB", true, lineCode(0, 2, 1), "AB0000"},
        {"type only", "D", true, lineCode(0, 7, 0), "D0000"},
        {"largest number", "ZD2147483647", true, lineCode(2147483647, 7, 26), "ZD2147483647"},
        {"every type letter S", "S9", true, lineCode(9, 5, 0), "S0009"},
        {"five digits", "AAP99999", true, lineCode(99999, 6, 27), "AAP99999"},
        {"sixteen characters", "S000000000000042", true, lineCode(42, 5, 0), "S0042"},
        {"lower-case keyword", "reset", false, kDummy, nullptr},
        {"type X", "X123", false, kDummy, nullptr},
        {"three area characters", "ABCL1", false, kDummy, nullptr},
        {"area 131", "EAL1", false, kDummy, nullptr},
        {"area 128", "DXL1", false, kDummy, nullptr},
        {"area character after Z", "[L1", false, kDummy, nullptr},
        {"area character backquote", "`L1", false, kDummy, nullptr},
        {"first area character bad", "?AL1", false, kDummy, nullptr},
        {"high byte area", "\xC4L1", false, kDummy, nullptr},
        {"high byte type", "A\xECL1", false, kDummy, nullptr},
        {"sign before digits", "L-5", false, kDummy, nullptr},
        {"number 2147483648", "L2147483648", false, kDummy, nullptr},
        {"eleven digits", "99999999999", false, kDummy, nullptr},
        {"seventeen characters", "L0000000000000001", false, kDummy, nullptr},
        {"sixteen-digit number part", "0000000000000001", false, kDummy, nullptr},
        {"keyword with a digit", "RESET1", false, kDummy, nullptr},
        {"tab is no blank", "AL\t0123", false, kDummy, nullptr},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.szName);
        std::string sText = row.sText;
        int64_t llCode = 12345;
        EXPECT_EQ(ToIntLineNo(sText.data(), &llCode), row.bValid);
        EXPECT_EQ(llCode, row.llCode);
        if (!row.bValid) continue;

        char szBuffer[32];
        ASSERT_TRUE(ToCharLineNo(llCode, szBuffer, sizeof szBuffer));
        EXPECT_STREQ(szBuffer, row.szPrinted);
        int64_t llBack = 12345;
        EXPECT_TRUE(ToIntLineNo(szBuffer, &llBack));
        EXPECT_EQ(llBack, row.llCode);
    }
}

struct CodeRow {
    const char* szName;
    int64_t llCode;
    bool bResult;
    std::string sPrinted;
};

// Codes that no valid name produces print by the field rules.
TEST(LineNumber, PrintsUnusualCodes) {
    char szNegative[32];
    std::snprintf(szNegative, sizeof szNegative, "L%04d", -1);
    const std::vector<CodeRow> rows = {
        {"area without type prints L", lineCode(5, 0, 1), true, "AL0005"},
        {"area 27 without type", lineCode(12, 0, 27), true, "AAL0012"},
        {"type byte 8", lineCode(1, 8, 0), false, "DUMMY"},
        {"type byte 255 reads -1: no letter", lineCode(5, 255, 0), true, "0005"},
        {"type byte 128 with area: letter L", lineCode(5, 128, 2), true, "BL0005"},
        {"area byte 128 reads negative: no letters", lineCode(5, 1, 128), true, "L0005"},
        {"area byte 200 with type 0", lineCode(5, 0, 200), true, "0005"},
        {"number with bit 31 set prints signed", lineCode(0xFFFFFFFFu, 1, 0), true, szNegative},
        {"most negative number", lineCode(0x80000000u, 7, 127), true, "DWD-2147483648"},
        {"bits 48-63 are not read", lineCode(5, 1, 0) + (int64_t{0x1234} << 48), true, "L0005"},
        {"most negative code", INT64_MIN, true, "0000"},
        {"negated AL0123", -lineCode(123, 1, 1), true, "AL0123"},
        {"negated 2", -2, true, "0002"},
        {"negated 32768", -32768, true, "32768"},
    };
    for (const CodeRow& row : rows) {
        SCOPED_TRACE(row.szName);
        char szBuffer[32];
        std::memset(szBuffer, 'x', sizeof szBuffer);
        EXPECT_EQ(ToCharLineNo(row.llCode, szBuffer, sizeof szBuffer), row.bResult);
        EXPECT_EQ(std::string(szBuffer), row.sPrinted);
    }
}

// code -> text -> code is the identity over every area, every type and a spread of numbers;
// an area without a type reads back with type L; the negation prints like the code.
TEST(LineNumber, RoundTripsEveryAreaAndType) {
    const uint32_t aNumbers[] = {0, 1, 9, 10, 99, 100, 999, 1000, 4711, 9999, 10000, 65535, 123456,
                                 99999999, 1000000000, 2147483646, 2147483647};
    static const char* const kTypes = "LBTRSPD";
    for (unsigned nArea = 0; nArea <= 127; ++nArea) {
        for (unsigned nType = 0; nType <= 7; ++nType) {
            for (uint32_t nNumber : aNumbers) {
                const int64_t llCode = lineCode(nNumber, nType, nArea);
                SCOPED_TRACE("area " + std::to_string(nArea) + " type " + std::to_string(nType) + " number " +
                             std::to_string(nNumber));
                char szText[16];
                ASSERT_TRUE(ToCharLineNo(llCode, szText, sizeof szText));
                std::string sExpected;
                if (llCode == 0) {
                    sExpected = "NEXTIND";
                } else {
                    char szNumber[16];
                    std::snprintf(szNumber, sizeof szNumber, "%04u", nNumber);
                    sExpected = surveyref::areaLetters(static_cast<int>(nArea));
                    if (nArea > 0 || nType > 0) sExpected += kTypes[nType == 0 ? 0 : nType - 1];
                    sExpected += szNumber;
                }
                ASSERT_EQ(std::string(szText), sExpected);

                int64_t llBack = 0;
                ASSERT_TRUE(ToIntLineNo(szText, &llBack));
                const unsigned nTypeBack = (nArea > 0 && nType == 0) ? 1 : nType;
                ASSERT_EQ(llBack, lineCode(nNumber, nTypeBack, nArea));

                // Negated codes 1 and 32767 are the keywords RESET and DUMMY.
                if (llCode != 0 && llCode != 1 && llCode != 32767) {
                    char szNegated[16];
                    ASSERT_TRUE(ToCharLineNo(-llCode, szNegated, sizeof szNegated));
                    ASSERT_STREQ(szNegated, sExpected.c_str());
                }
            }
        }
    }
}

// The fields of a code: number unsigned, type and area as signed bytes in the split and as
// unsigned bytes in the getters; keywords give no type and area.
TEST(LineNumber, SplitsCodesIntoFields) {
    struct Row {
        const char* szName;
        int64_t llCode;
        int64_t llNumber;
        int16_t nType, nArea;         // SplitIntLineNo
        int16_t nGetType, nGetArea;   // GetIntLineType, GetIntLineArea
    };
    const std::vector<Row> rows = {
        {"RESET", -1, -1, 0, 0, 0, 0},
        {"NEXTIND", 0, 0, 0, 0, 0, 0},
        {"DUMMY", kDummy, kDummy, 0, 0, 0, 0},
        {"AL0123", lineCode(123, 1, 1), 123, 1, 1, 1, 1},
        {"negated AL0123", -lineCode(123, 1, 1), 123, 1, 1, 1, 1},
        {"DWD max", lineCode(2147483647, 7, 127), 2147483647, 7, 127, 7, 127},
        {"number with bit 31", lineCode(0xFFFFFFFFu, 2, 3), 0xFFFFFFFFll, 2, 3, 2, 3},
        {"bytes 128 and 255", lineCode(7, 128, 255), 7, -128, -1, 128, 255},
        {"negated 32768", -32768, 32768, 0, 0, 0, 0},
        {"most negative code", INT64_MIN, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        int64_t llNumber = 99;
        int16_t nType = 99, nArea = 99;
        SplitIntLineNo(row.llCode, &llNumber, &nType, &nArea);
        EXPECT_EQ(llNumber, row.llNumber);
        EXPECT_EQ(nType, row.nType);
        EXPECT_EQ(nArea, row.nArea);
        EXPECT_EQ(GetIntLineType(row.llCode), row.nGetType);
        EXPECT_EQ(GetIntLineArea(row.llCode), row.nGetArea);
    }
    int16_t nArea = 99;
    SplitIntLineNo(lineCode(1, 2, 3), nullptr, nullptr, &nArea);  // null outputs are skipped
    EXPECT_EQ(nArea, 3);
}

// Blanks anywhere are removed in place: every way of putting blanks around and between the
// characters gives the same code and leaves the caller's text without them.
TEST(LineNumber, RemovesBlanksInPlace) {
    const std::string sName = "AL0123";
    const int64_t llExpected = lineCode(123, 1, 1);
    for (unsigned nMask = 0; nMask < (1u << (sName.size() + 1)); ++nMask) {
        std::string sText;
        for (size_t i = 0; i <= sName.size(); ++i) {
            if (nMask & (1u << i)) sText += (i % 2 == 0) ? " " : "   ";
            if (i < sName.size()) sText += sName[i];
        }
        SCOPED_TRACE("'" + sText + "'");
        std::vector<char> aText(sText.begin(), sText.end());
        aText.push_back('\0');
        int64_t llCode = 0;
        EXPECT_TRUE(ToIntLineNo(aText.data(), &llCode));
        EXPECT_EQ(llCode, llExpected);
        EXPECT_STREQ(aText.data(), "AL0123");
    }
    char szKeyword[] = " N E X T I N D ";
    int64_t llCode = 5;
    EXPECT_TRUE(ToIntLineNo(szKeyword, &llCode));
    EXPECT_EQ(llCode, 0);
    EXPECT_STREQ(szKeyword, "NEXTIND");
    char szBlanks[] = "     ";
    EXPECT_TRUE(ToIntLineNo(szBlanks, &llCode));
    EXPECT_EQ(llCode, 0);
    EXPECT_STREQ(szBlanks, "");
    // Blanks do not count towards the 16 characters.
    char szLong[] = " S 0 0 0 0 0 0 0 0 0 0 0 0 0 4 2 ";
    EXPECT_TRUE(ToIntLineNo(szLong, &llCode));
    EXPECT_EQ(llCode, lineCode(42, 5, 0));
}

// Null arguments fail without writing through them; long texts of any length are refused.
TEST(LineNumber, RefusesNullAndOverlongTexts) {
    int64_t llCode = 5;
    EXPECT_FALSE(ToIntLineNo(nullptr, &llCode));
    EXPECT_EQ(llCode, kDummy);
    char szText[] = "AL1";
    EXPECT_FALSE(ToIntLineNo(szText, nullptr));
    EXPECT_FALSE(ToCharLineNo(lineCode(1, 1, 1), nullptr, 16));

    std::string sHuge(100000, '7');
    EXPECT_FALSE(ToIntLineNo(sHuge.data(), &llCode));
    EXPECT_EQ(llCode, kDummy);
    std::string sZeros(100000, '0');
    sZeros.insert(0, "L");
    EXPECT_FALSE(ToIntLineNo(sZeros.data(), &llCode));
    EXPECT_EQ(llCode, kDummy);
}

// The printer writes at most nSize bytes: the whole text when it fits with its terminator,
// otherwise the empty text and false; bytes past nSize are never touched.
TEST(LineNumber, PrintsWithinTheBufferSize) {
    const std::vector<std::pair<int64_t, std::string>> rows = {
        {-1, "RESET"},
        {0, "NEXTIND"},
        {kDummy, "DUMMY"},
        {7, "0007"},
        {lineCode(7, 1, 0), "L0007"},
        {lineCode(123, 1, 1), "AL0123"},
        {lineCode(2147483647, 7, 127), "DWD2147483647"},
        {lineCode(0x80000000u, 7, 127), "DWD-2147483648"},
    };
    for (const auto& [llCode, sText] : rows) {
        for (int32_t nSize : sizesAround(sText.size())) {
            SCOPED_TRACE(sText + " in " + std::to_string(nSize) + " bytes");
            char szBuffer[40];
            std::memset(szBuffer, '#', sizeof szBuffer);
            const bool bFits = nSize >= static_cast<int32_t>(sText.size()) + 1;
            EXPECT_EQ(ToCharLineNo(llCode, szBuffer, nSize), bFits);
            if (bFits) {
                EXPECT_EQ(std::string(szBuffer), sText);
            } else if (nSize >= 1) {
                EXPECT_EQ(szBuffer[0], '\0');
            }
            const size_t nWritable = bFits ? sText.size() + 1 : (nSize >= 1 ? 1 : 0);
            for (size_t i = nWritable; i < sizeof szBuffer; ++i) ASSERT_EQ(szBuffer[i], '#') << "byte " << i;
        }
    }
    // "DUMMY" for an unprintable code obeys the size too.
    char szSmall[4];
    std::memset(szSmall, '#', sizeof szSmall);
    EXPECT_FALSE(ToCharLineNo(lineCode(1, 9, 0), szSmall, sizeof szSmall));
    EXPECT_EQ(szSmall[0], '\0');
    EXPECT_EQ(szSmall[1], '#');
}

}  // namespace
