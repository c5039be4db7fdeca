// Identifiers with control bytes written as "(hex)" text and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qrcore/util.h"

namespace {

constexpr char kGuard = '#';

// IDToString into a buffer of exactly the documented worst case (4 bytes per ID byte + 1),
// followed by guard bytes that must stay untouched.
std::string toText(const std::string& sID, int32_t* pnResult = nullptr) {
    std::vector<char> text(4 * sID.size() + 1 + 8, kGuard);
    const int32_t n = IDToString(text.data(), sID.c_str());
    if (pnResult != nullptr) *pnResult = n;
    for (std::size_t i = 4 * sID.size() + 1; i < text.size(); ++i) EXPECT_EQ(text[i], kGuard);
    EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(text.data()));
    return text.data();
}

// StringToID into a buffer of exactly one byte per text byte + 1, plus guard bytes. Returns the
// result and the ID bytes (result bytes when non-negative).
int32_t toID(const std::string& sText, std::string& sID) {
    std::vector<char> text(sText.begin(), sText.end());
    text.push_back('\0');
    std::vector<char> id(sText.size() + 1 + 8, kGuard);
    const int32_t n = StringToID(id.data(), text.data());
    for (std::size_t i = sText.size() + 1; i < id.size(); ++i) EXPECT_EQ(id[i], kGuard);
    sID.clear();
    if (n >= 0) {
        EXPECT_EQ(id[static_cast<std::size_t>(n)], '\0');
        sID.assign(id.data(), static_cast<std::size_t>(n));
    }
    return n;
}

TEST(IdText, IDToStringWritesControlBytesAsHexGroups) {
    const struct {
        std::string sID;
        const char* szText;
    } rows[] = {
        {"A\r\n", "A(d)(a)"}, {"\x1F", "(1f)"}, {"\x01", "(1)"}, {"\x10", "(10)"},
        {"", ""}, {"a(b)", "a(b)"}, {" \x7F\x80\xFF", " \x7F\x80\xFF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szText);
        int32_t n = 0;
        EXPECT_EQ(toText(row.sID, &n), row.szText);
        EXPECT_EQ(n, static_cast<int32_t>(std::strlen(row.szText)));
    }
    // All 31 control bytes at once: the worst case fills the buffer to its last byte.
    std::string sControls;
    for (int c = 0x1F; c >= 0x01; --c) sControls.push_back(static_cast<char>(c));
    const std::string sText = toText(sControls);
    EXPECT_EQ(sText.substr(0, 8), "(1f)(1e)");
    EXPECT_EQ(sText.substr(sText.size() - 6), "(2)(1)");

    char szText[4] = {kGuard, kGuard, kGuard, kGuard};
    EXPECT_EQ(IDToString(szText, nullptr), 0);
    EXPECT_EQ(szText[0], '\0');
    EXPECT_EQ(IDToString(nullptr, "abc"), 0);
}

TEST(IdText, StringToIDReadsGroups) {
    const struct {
        const char* szText;
        std::string sID;
    } rows[] = {
        {"A(1f)B", "A\x1F" "B"}, {"A(0)B", std::string("A\0B", 3)}, {"A(d)(a)", "A\r\n"},
        {"(41)", "A"}, {"(FF)", "\xFF"}, {"(Ab)", "\xAB"}, {"", ""}, {"plain", "plain"},
        {"a)b", "a)b"}, {"(1)(2)", "\x01\x02"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szText);
        std::string sID;
        EXPECT_EQ(toID(row.szText, sID), static_cast<int32_t>(row.sID.size()));
        EXPECT_EQ(sID, row.sID);
    }
}

TEST(IdText, StringToIDRejectsGroupsWithoutAValue) {
    const char* rows[] = {
        "A(123)",  // more than two characters
        "A(",      // no closing bracket
        "A(1f",    // no closing bracket after digits
        "()",      // empty group
        "(g)",     // not hexadecimal
        "(1g)",    // partly hexadecimal
        "( 1)",    // blank inside
        "(-1)",    // a sign is not a digit
        "(+f)",
        "((1)",    // "(" inside a group
        "ab(12",
    };
    for (const char* szText : rows) {
        SCOPED_TRACE(szText);
        std::string sID;
        EXPECT_EQ(toID(szText, sID), -1);
    }
    char szID[4];
    EXPECT_EQ(StringToID(szID, nullptr), 0);
    EXPECT_EQ(szID[0], '\0');
    char szText[] = "ab";
    EXPECT_EQ(StringToID(nullptr, szText), 0);
}

TEST(IdText, StringToIDCutsTheCallersTextAtEachGroup) {
    char szText[] = "A(1f)B(2)";
    char szID[16];
    EXPECT_EQ(StringToID(szID, szText), 4);
    EXPECT_EQ(std::string(szID, 5), std::string("A\x1F" "B\x02\0", 5));
    EXPECT_EQ(std::string(szText, sizeof szText - 1), std::string("A(1f\0B(2\0", 9));

    // The ")" of a group found too long is cut as well; the text before it is untouched.
    char szLong[] = "x(123)y";
    EXPECT_EQ(StringToID(szID, szLong), -1);
    EXPECT_EQ(std::string(szLong, sizeof szLong - 1), std::string("x(123\0y", 7));
}

TEST(IdText, RoundTripOfIdsWithoutOpeningBracket) {
    // Every ID of one and two bytes (without "(", which the text form cannot carry) ...
    std::string sID;
    for (int a = 1; a < 256; ++a) {
        if (a == '(') continue;
        for (int b = 0; b < 256; ++b) {
            if (b == '(') continue;
            std::string sIn(1, static_cast<char>(a));
            if (b != 0) sIn.push_back(static_cast<char>(b));
            const std::string sText = toText(sIn);
            ASSERT_EQ(toID(sText, sID), static_cast<int32_t>(sIn.size())) << a << ' ' << b;
            ASSERT_EQ(sID, sIn) << a << ' ' << b;
        }
    }
    // ... and random longer ones, rich in control bytes.
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> length(0, 200), control(1, 0x1F), any(1, 255);
    for (int nRound = 0; nRound < 2000; ++nRound) {
        std::string sIn;
        const int n = length(rng);
        for (int i = 0; i < n; ++i) {
            int c = (rng() % 2) != 0 ? control(rng) : any(rng);
            if (c == '(') c = ')';
            sIn.push_back(static_cast<char>(c));
        }
        const std::string sText = toText(sIn);
        ASSERT_EQ(toID(sText, sID), static_cast<int32_t>(sIn.size()));
        ASSERT_EQ(sID, sIn);
    }
}

TEST(IdText, OpeningBracketDoesNotSurviveTheRoundTrip) {
    const std::string sText = toText("a(1)");
    EXPECT_EQ(sText, "a(1)");
    std::string sID;
    EXPECT_EQ(toID(sText, sID), 2);
    EXPECT_EQ(sID, "a\x01");
}

}  // namespace
