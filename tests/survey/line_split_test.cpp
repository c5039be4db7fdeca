// Line-name splitting: number part, type character and area text, with the buffer sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qrcore/survey.h"

namespace {

struct SplitRow {
    const char* szName;
    std::string sText;
    int16_t nNumberSize;
    int16_t nAreaSize;
    bool bResult;
    const char* szNumber;
    char cType;
    const char* szArea;
};

// Outputs filled before a failing step keep their values; the others are empty.
TEST(LineSplit, SplitsNamesIntoParts) {
    const std::vector<SplitRow> rows = {
        {"area, type, number", "AL0123", 16, 4, true, "0123", 'L', "A"},
        {"lower case keeps area case", "al123", 16, 4, true, "123", 'L', "a"},
        {"two area characters", "ab t7", 16, 4, true, "7", 'T', "ab"},
        {"keyword", "RESET", 16, 4, true, "RESET", '\0', ""},
        {"keyword with blanks", " D U M M Y", 16, 4, true, "DUMMY", '\0', ""},
        {"lower-case keyword is a name", "reset", 16, 8, false, "", 'T', ""},
        {"number only", "0042", 16, 4, true, "0042", '\0', ""},
        {"digits then letters", "12AB", 16, 4, true, "12AB", '\0', ""},
        {"non-digits after the number", "L12A34", 16, 4, true, "12A34", 'L', ""},
        {"no digits", "AB", 16, 4, true, "", 'B', "A"},
        {"type is not checked", "Q5", 16, 4, true, "5", 'Q', ""},
        {"area is not checked", "?!X5", 16, 4, true, "5", 'X', "?!"},
        {"high bytes kept as they stand", "\xE9\xE4" "1", 16, 4, true, "1", '\xE4', "\xE9"},
        {"empty text", "", 16, 4, true, "", '\0', ""},
        {"three area characters", "ABCL1", 16, 4, false, "1", 'L', ""},
        {"NEXTIND longer than 4", "NEXTIND", 4, 4, false, "", '\0', ""},
        {"RESET without room for terminator", "RESET", 5, 4, false, "", '\0', ""},
        {"RESET just fits", "RESET", 6, 4, true, "RESET", '\0', ""},
        {"text as long as the number size", "AL12", 4, 4, true, "12", 'L', "A"},
        {"text one longer than the number size", "AL123", 4, 4, false, "", '\0', ""},
        {"number part without room for terminator", "1234", 4, 4, false, "", '\0', ""},
        {"number part just fits", "1234", 5, 4, true, "1234", '\0', ""},
        {"area without room for terminator", "ABL1", 16, 2, false, "1", 'L', ""},
        {"area just fits", "ABL1", 16, 3, true, "1", 'L', "AB"},
        {"one area character just fits", "AL1", 16, 2, true, "1", 'L', "A"},
        {"negative number size", "L1", -1, 4, false, "", '\0', ""},
    };
    for (const SplitRow& row : rows) {
        SCOPED_TRACE(row.szName);
        std::string sText = row.sText;
        char szNumber[32];
        char szArea[8];
        std::memset(szNumber, '#', sizeof szNumber);
        std::memset(szArea, '#', sizeof szArea);
        char cType = '#';
        EXPECT_EQ(SplitCharLineNo(sText.data(), szNumber, row.nNumberSize, &cType, szArea, row.nAreaSize),
                  row.bResult);
        if (row.nNumberSize > 0) {
            EXPECT_STREQ(szNumber, row.szNumber);
        }
        EXPECT_EQ(cType, row.cType);
        EXPECT_STREQ(szArea, row.szArea);
        // Nothing is written past the given sizes.
        for (int i = row.nNumberSize > 0 ? row.nNumberSize : 0; i < static_cast<int>(sizeof szNumber); ++i)
            ASSERT_EQ(szNumber[i], '#') << "number byte " << i;
        for (int i = row.nAreaSize; i < static_cast<int>(sizeof szArea); ++i)
            ASSERT_EQ(szArea[i], '#') << "area byte " << i;
    }
}

// A zero size means no room at all: the buffer is not touched.
TEST(LineSplit, LeavesZeroSizedBuffersAlone) {
    char szText[8] = "AL1";
    char szNumber[4] = {'#', '#', '#', '#'};
    char szArea[4] = {'#', '#', '#', '#'};
    char cType = '#';
    EXPECT_FALSE(SplitCharLineNo(szText, szNumber, 0, &cType, szArea, 4));
    EXPECT_EQ(szNumber[0], '#');
    EXPECT_EQ(szArea[0], '\0');

    std::strcpy(szText, "AL1");
    std::memset(szArea, '#', sizeof szArea);
    EXPECT_FALSE(SplitCharLineNo(szText, szNumber, 4, &cType, szArea, 0));
    EXPECT_STREQ(szNumber, "1");
    EXPECT_EQ(cType, 'L');
    EXPECT_EQ(szArea[0], '#');

    EXPECT_FALSE(SplitCharLineNo(nullptr, szNumber, 4, &cType, szArea, 4));
    EXPECT_EQ(szNumber[0], '\0');
    EXPECT_EQ(cType, '\0');
    std::strcpy(szText, " AL1");
    EXPECT_FALSE(SplitCharLineNo(szText, szNumber, 4, nullptr, szArea, 4));
    EXPECT_STREQ(szText, " AL1");  // a refused call does not touch the text
}

// The type and area getters split with 16-byte number and 4-byte area buffers of their own.
TEST(LineSplit, GettersUseTheirOwnBuffers) {
    struct Row {
        const char* szName;
        std::string sText;
        bool bResult;
        char cType;
        const char* szArea;
    };
    const std::vector<Row> rows = {
        {"plain", " a l 0123", true, 'L', "a"},
        {"two area characters", "DWB7", true, 'B', "DW"},
        {"keyword", "NEXTIND", true, '\0', ""},
        {"sixteen characters", "AS00000000000042", true, 'S', "A"},
        {"seventeen characters", "AS000000000000042", false, '\0', ""},
        {"three area characters", "ABCL1", false, 'L', ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        std::string sText = row.sText;
        char cType = '#';
        EXPECT_EQ(GetCharLineType(sText.data(), &cType), row.bResult);
        EXPECT_EQ(cType, row.cType);
        EXPECT_EQ(sText.find(' '), std::string::npos);

        sText = row.sText;
        char szArea[4];
        std::memset(szArea, '#', sizeof szArea);
        EXPECT_EQ(GetCharLineArea(sText.data(), szArea, sizeof szArea), row.bResult);
        EXPECT_STREQ(szArea, row.szArea);
    }
    char szText[] = "ABL1";
    char szArea[2] = {'#', '#'};
    EXPECT_FALSE(GetCharLineArea(szText, szArea, sizeof szArea));
    EXPECT_EQ(szArea[0], '\0');
    EXPECT_EQ(szArea[1], '#');
    EXPECT_FALSE(GetCharLineType(szText, nullptr));
}

}  // namespace
