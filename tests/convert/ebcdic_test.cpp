// EBCDIC <-> ASCII tables, all 256 entries each way, against the expected tables generated
// once from Python's cp037 codec (data/make_cp037_table.py), and the in-place string rules.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <string>

#include "qrcore/convert.h"

namespace {

struct Expected {
    std::array<int, 256> e2a{};
    std::array<int, 256> a2e{};
};

Expected loadExpected() {
    Expected expected;
    std::ifstream in(CP037_TABLE_PATH);
    EXPECT_TRUE(in.good()) << CP037_TABLE_PATH;
    for (int i = 0; i < 256; ++i) {
        int nIndex = -1, nAscii = -1, nIndex2 = -1, nEbcdic = -1;
        in >> std::hex >> nIndex >> nAscii >> nIndex2 >> nEbcdic;
        EXPECT_EQ(nIndex, i);
        EXPECT_EQ(nIndex2, i);
        expected.e2a[static_cast<std::size_t>(i)] = nAscii;
        expected.a2e[static_cast<std::size_t>(i)] = nEbcdic;
    }
    return expected;
}

int translateOne(int32_t(QR_CALL* f)(char*), int nByte) {
    char sz[2] = {static_cast<char>(nByte), '\0'};
    EXPECT_EQ(f(sz), 1);
    return static_cast<unsigned char>(sz[0]);
}

TEST(Ebcdic, EveryByteAgainstTheCodePage037Reference) {
    const Expected expected = loadExpected();
    // Byte 0 is the terminator and never translated; all 255 others, one by one and at once.
    std::string sAllE, sAllA;
    for (int b = 1; b < 256; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(translateOne(EbcdicToAscii, b), expected.e2a[static_cast<std::size_t>(b)]);
        EXPECT_EQ(translateOne(AsciiToEbcdic, b), expected.a2e[static_cast<std::size_t>(b)]);
        sAllE.push_back(static_cast<char>(b));
    }
    sAllA = sAllE;
    EXPECT_EQ(EbcdicToAscii(sAllE.data()), 255);
    EXPECT_EQ(AsciiToEbcdic(sAllA.data()), 255);
    for (int b = 1; b < 256; ++b) {
        EXPECT_EQ(static_cast<unsigned char>(sAllE[static_cast<std::size_t>(b - 1)]), expected.e2a[static_cast<std::size_t>(b)]) << b;
        EXPECT_EQ(static_cast<unsigned char>(sAllA[static_cast<std::size_t>(b - 1)]), expected.a2e[static_cast<std::size_t>(b)]) << b;
    }
}

TEST(Ebcdic, DocumentedExamples) {
    char szHello[] = "\xC8\x85\x93\x93\x96";
    EXPECT_EQ(EbcdicToAscii(szHello), 5);
    EXPECT_STREQ(szHello, "Hello");
    EXPECT_EQ(AsciiToEbcdic(szHello), 5);
    EXPECT_STREQ(szHello, "\xC8\x85\x93\x93\x96");

    char szBlanks[] = "\x4A\x6A\xB0\xBA\xBB";
    EXPECT_EQ(EbcdicToAscii(szBlanks), 5);
    EXPECT_STREQ(szBlanks, "     ");
    char szOthers[] = "[]\t\n";
    EXPECT_EQ(AsciiToEbcdic(szOthers), 4);
    EXPECT_STREQ(szOthers, "\x40\x40\x40\x40");
    char szNot[] = "\x5F";
    EbcdicToAscii(szNot);
    EXPECT_STREQ(szNot, "^");
}

TEST(Ebcdic, ZeroByteEndsTheConversion) {
    char szData[] = "\xC1\0\xC2";
    EXPECT_EQ(EbcdicToAscii(szData), 1);
    EXPECT_EQ(std::string(szData, 3), std::string("A\0\xC2", 3));
    char szEmpty[] = "";
    EXPECT_EQ(EbcdicToAscii(szEmpty), 0);
    EXPECT_EQ(AsciiToEbcdic(nullptr), 0);
    EXPECT_EQ(EbcdicToAscii(nullptr), 0);
}

TEST(Ebcdic, PrintableAsciiRoundTrips) {
    // Long enough to pass through the eight-byte rounds and the tail.
    for (int nRepeat = 1; nRepeat <= 3; ++nRepeat) {
        std::string sText;
        for (int r = 0; r < nRepeat; ++r)
            for (int c = 0x20; c <= 0x7E; ++c) sText.push_back(static_cast<char>(c));
        std::string sWork = sText;
        EXPECT_EQ(AsciiToEbcdic(sWork.data()), static_cast<int32_t>(sText.size()));
        EXPECT_EQ(EbcdicToAscii(sWork.data()), static_cast<int32_t>(sText.size()));
        for (std::size_t i = 0; i < sText.size(); ++i) {
            const char c = sText[i];
            EXPECT_EQ(sWork[i], (c == '[' || c == ']') ? ' ' : c) << i;
        }
    }
}

}  // namespace
