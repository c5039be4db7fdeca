// In-place string helpers: blanks, replacements, line ends, fixed-width fields, double-byte
// character counts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qrcore/util.h"

namespace {

// A writable copy of sText with room for nExtra more bytes, filled with '#' as a guard.
std::vector<char> buffer(const std::string& sText, std::size_t nExtra = 8) {
    std::vector<char> chars(sText.size() + 1 + nExtra, '#');
    std::memcpy(chars.data(), sText.c_str(), sText.size() + 1);
    return chars;
}

TEST(StringUtils, DelAllBlankRemovesBlanksOnly) {
    const struct {
        const char* szIn;
        const char* szOut;
    } rows[] = {
        {"", ""}, {"   ", ""}, {" a b ", "ab"}, {"abc", "abc"}, {"\ta\t b", "\ta\tb"},
        {"  L 1 0 0 0 ", "L1000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szIn);
        auto chars = buffer(row.szIn);
        DelAllBlank(chars.data());
        EXPECT_STREQ(chars.data(), row.szOut);
    }
    DelAllBlank(nullptr);  // accepted, nothing happens
}

TEST(StringUtils, ReplaceCharCountsOverTheOriginalLength) {
    auto chars = buffer("a,b,,c");
    EXPECT_EQ(ReplaceChar(chars.data(), ',', ';'), 3);
    EXPECT_STREQ(chars.data(), "a;b;;c");

    // Replacing by the terminator still reaches every occurrence up to the old end.
    chars = buffer("a,b,c");
    EXPECT_EQ(ReplaceChar(chars.data(), ',', '\0'), 2);
    EXPECT_EQ(std::string(chars.data(), 6), std::string("a\0b\0c\0", 6));
    EXPECT_EQ(chars[6], '#');

    chars = buffer("abc");
    EXPECT_EQ(ReplaceChar(chars.data(), 'x', 'y'), 0);
    EXPECT_EQ(ReplaceChar(chars.data(), '\0', 'y'), 0);
    EXPECT_STREQ(chars.data(), "abc");
    auto high = buffer("\xB0\xA1\xB0");
    EXPECT_EQ(ReplaceChar(high.data(), '\xB0', 'x'), 2);
    EXPECT_STREQ(high.data(), "x\xA1x");
    EXPECT_EQ(ReplaceChar(nullptr, 'a', 'b'), 0);
}

TEST(StringUtils, ReplaceCRLFCutsAtTheFirstPair) {
    const struct {
        const char* szName;
        std::string sIn;
        bool bResult;
        std::string sOut;  // bytes up to and including the first terminator
    } rows[] = {
        {"pair", "abc\r\n", true, std::string("abc \0", 5)},
        {"pair alone", "\r\n", true, std::string(" \0", 2)},
        {"first pair only", "a\r\nb\r\n", true, std::string("a \0", 3)},
        {"ctrl-z first", "ab\x1A\r\n", false, std::string("ab\x1A\r\n\0", 6)},
        {"ctrl-z after", "ab\r\n\x1A", true, std::string("ab \0", 4)},
        {"cr alone", "ab\r", false, std::string("ab\r\0", 4)},
        {"lf cr", "ab\n\r", false, std::string("ab\n\r\0", 5)},
        {"empty", "", false, std::string("\0", 1)},
        {"ctrl-z last byte", "a\x1A", false, std::string("a\x1A\0", 3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        auto chars = buffer(row.sIn);
        EXPECT_EQ(ReplaceCRLF(chars.data()), row.bResult);
        EXPECT_EQ(std::string(chars.data(), row.sOut.size()), row.sOut);
    }
    EXPECT_FALSE(ReplaceCRLF(nullptr));
}

TEST(StringUtils, StrBytesIgnoresTrailingBlanksOnly) {
    const struct {
        const char* szIn;
        int32_t nBytes;
    } rows[] = {{"", 0}, {"  ", 0}, {"ab  ", 2}, {"  ab", 4}, {" a b ", 4}, {"ab\t", 3}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szIn);
        EXPECT_EQ(StrBytes(row.szIn), row.nBytes);
    }
    EXPECT_EQ(StrBytes(nullptr), 0);
}

TEST(StringUtils, StrSymbolsCountsDoubleBytePairs) {
    const struct {
        const char* szName;
        const char* szIn;
        int32_t nCount;
    } rows[] = {
        {"two pairs and two letters", "\xB0\xA1\xB0\xA2" "ab", 4},
        {"empty", "", 0},
        {"0x80 to 0xA0 are single", "\x80\x9F\xA0", 3},
        {"lone lead byte at the end", "ab\xB0", -1},
        {"lead byte before ascii", "\xB0" "a", -1},
        {"lead byte before 0xA0", "\xB0\xA0", -1},
        {"pair of 0xA1", "\xA1\xA1", 1},
        {"pair of 0xFF", "\xFF\xFF", 1},
        {"three high bytes", "\xB0\xB0\xB0", -1},
        {"single then pair", "\xA0\xA1\xA1", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        EXPECT_EQ(StrSymbols(row.szIn), row.nCount);
    }
    EXPECT_EQ(StrSymbols(nullptr), 0);
}

TEST(StringUtils, ToVFStringPadsToTheWidthWithoutTerminator) {
    auto chars = buffer("ab", 8);
    EXPECT_EQ(ToVFString(chars.data(), 5), 5);
    EXPECT_EQ(std::string(chars.data(), 6), "ab   #");  // exactly 5 bytes written, no terminator

    const struct {
        const char* szName;
        int32_t nWidth;
        int32_t nResult;
    } rows[] = {{"longer", 3, 6}, {"equal", 6, 6}, {"zero", 0, 6}, {"negative", -4, 6}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        auto text = buffer("abcdef", 4);
        EXPECT_EQ(ToVFString(text.data(), row.nWidth), row.nResult);
        EXPECT_EQ(std::string(text.data(), 8), std::string("abcdef\0#", 8));
    }

    // Width one more than the length: only the terminator becomes a blank.
    auto edge = buffer("abc", 2);
    EXPECT_EQ(ToVFString(edge.data(), 4), 4);
    EXPECT_EQ(std::string(edge.data(), 5), "abc #");
    auto empty = buffer("", 4);
    EXPECT_EQ(ToVFString(empty.data(), 3), 3);
    EXPECT_EQ(std::string(empty.data(), 4), "   #");
    EXPECT_EQ(ToVFString(nullptr, 5), 0);
}

}  // namespace
