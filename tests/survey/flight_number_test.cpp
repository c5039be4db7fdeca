// Flight-number codec: names to codes and back, blanks, failures and buffer sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qrcore/survey.h"
#include "survey_reference.h"

namespace {

using surveyref::flightCode;

// Buffer sizes around a text of nLength characters: none, too small, exact, roomy, and the sizes
// at which the printer writes straight into the caller's buffer.
std::vector<int32_t> sizesAround(size_t nLength) {
    std::vector<int32_t> aSizes = {-2, -1, 0, 16, 17, 40};
    for (int32_t n = 1; n <= static_cast<int32_t>(nLength) + 2; ++n) aSizes.push_back(n);
    return aSizes;
}

constexpr int32_t kDummy = -32767;

struct TextRow {
    const char* szName;
    std::string sText;
    bool bValid;
    int32_t lCode;
    const char* szPrinted;
};

TEST(FlightNumber, TextsAndCodesBothWays) {
    const std::vector<TextRow> rows = {
        {"keyword RESET", "RESET", true, -1, "RESET"},
        {"keyword NEXTIND", "NEXTIND", true, 0, "NEXTIND"},
        {"keyword DUMMY", "DUMMY", true, kDummy, "DUMMY"},
        {"area AA, type S", "AAS5", true, flightCode(5, 2, 27), "AAS05"},
        {"lower case", "aas5", true, flightCode(5, 2, 27), "AAS05"},
        {"type N", "N12", true, flightCode(12, 1, 0), "N12"},
        {"one digit", "N7", true, flightCode(7, 1, 0), "N07"},
        {"number only", "7", true, 7, "07"},
        {"type alone", "N", true, flightCode(0, 1, 0), "N00"},
        {"zero is NEXTIND", "0", true, 0, "NEXTIND"},
        {"empty text is NEXTIND", "", true, 0, "NEXTIND"},
        {"highest area DW", "DWN1", true, flightCode(1, 1, 127), "DWN01"},
        {"area character 64", "@C3", true, flightCode(3, 3, 0), "C03"},
        {"area A@ is Z", "A@T3", true, flightCode(3, 4, 26), "ZT03"},
        {"type I, largest number", "I65535", true, flightCode(65535, 5, 0), "I65535"},
        {"number stops at non-digit", "ZS12X9", true, flightCode(12, 2, 26), "ZS12"},
        {"no digits", "BC", true, flightCode(0, 3, 2), "BC00"},
        {"leading zeros of any length", "C" + std::string(5000, '0') + "12", true, flightCode(12, 3, 0), "C12"},
        {"lower-case keyword", "dummy", false, kDummy, nullptr},
        {"type X", "X5", false, kDummy, nullptr},
        {"line type L", "AL5", false, kDummy, nullptr},
        {"three area characters", "ABCN1", false, kDummy, nullptr},
        {"area 131", "EAN1", false, kDummy, nullptr},
        {"area character after Z", "[N1", false, kDummy, nullptr},
        {"high byte area", "\xB0N1", false, kDummy, nullptr},
        {"number 65536", "N65536", false, kDummy, nullptr},
        {"number 65536 without type", "65536", false, kDummy, nullptr},
        {"a thousand digits", std::string(1000, '9'), false, kDummy, nullptr},
        {"long area", std::string(10000, 'A') + "N1", false, kDummy, nullptr},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.szName);
        std::string sText = row.sText;
        int32_t lCode = 12345;
        EXPECT_EQ(ToIntFlightNo(sText.data(), &lCode), row.bValid);
        EXPECT_EQ(lCode, row.lCode);
        if (!row.bValid) continue;

        char szBuffer[16];
        ASSERT_TRUE(ToCharFlightNo(lCode, szBuffer, sizeof szBuffer));
        EXPECT_STREQ(szBuffer, row.szPrinted);
        int32_t lBack = 12345;
        EXPECT_TRUE(ToIntFlightNo(szBuffer, &lBack));
        EXPECT_EQ(lBack, row.lCode);
    }
}

TEST(FlightNumber, PrintsUnusualCodes) {
    struct Row {
        const char* szName;
        int32_t lCode;
        bool bResult;
        const char* szPrinted;
    };
    const std::vector<Row> rows = {
        {"type byte 6", flightCode(1, 6, 0), false, "DUMMY"},
        {"area without type prints N", flightCode(4, 0, 1), true, "AN04"},
        {"type byte 255 reads -1: no letter", flightCode(4, 255, 0), true, "04"},
        {"type byte 200 with area: letter N", flightCode(4, 200, 3), true, "CN04"},
        {"negated AAS05", -flightCode(5, 2, 27), true, "AAS05"},
        {"most negative code: area byte 128", INT32_MIN, true, "00"},
        {"negated 2", -2, true, "02"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        char szBuffer[16];
        EXPECT_EQ(ToCharFlightNo(row.lCode, szBuffer, sizeof szBuffer), row.bResult);
        EXPECT_STREQ(szBuffer, row.szPrinted);
    }
}

TEST(FlightNumber, RoundTripsEveryAreaAndType) {
    const uint32_t aNumbers[] = {0, 1, 9, 10, 42, 99, 100, 999, 1000, 9999, 10000, 32767, 32768, 65534, 65535};
    static const char* const kTypes = "NSCTI";
    for (unsigned nArea = 0; nArea <= 127; ++nArea) {
        for (unsigned nType = 0; nType <= 5; ++nType) {
            for (uint32_t nNumber : aNumbers) {
                const int32_t lCode = flightCode(nNumber, nType, nArea);
                SCOPED_TRACE("area " + std::to_string(nArea) + " type " + std::to_string(nType) + " number " +
                             std::to_string(nNumber));
                char szText[9];
                ASSERT_TRUE(ToCharFlightNo(lCode, szText, sizeof szText));
                std::string sExpected;
                if (lCode == 0) {
                    sExpected = "NEXTIND";
                } else {
                    char szNumber[8];
                    std::snprintf(szNumber, sizeof szNumber, "%02u", nNumber);
                    sExpected = surveyref::areaLetters(static_cast<int>(nArea));
                    if (nArea > 0 || nType > 0) sExpected += kTypes[nType == 0 ? 0 : nType - 1];
                    sExpected += szNumber;
                }
                ASSERT_EQ(std::string(szText), sExpected);

                int32_t lBack = 0;
                ASSERT_TRUE(ToIntFlightNo(szText, &lBack));
                const unsigned nTypeBack = (nArea > 0 && nType == 0) ? 1 : nType;
                ASSERT_EQ(lBack, flightCode(nNumber, nTypeBack, nArea));

                // Negated codes 1 and 32767 are the keywords RESET and DUMMY.
                if (lCode != 0 && lCode != 1 && lCode != 32767) {
                    char szNegated[9];
                    ASSERT_TRUE(ToCharFlightNo(-lCode, szNegated, sizeof szNegated));
                    ASSERT_STREQ(szNegated, sExpected.c_str());
                }
            }
        }
    }
}

TEST(FlightNumber, RemovesBlanksInPlace) {
    const std::string sName = "AAS5";
    for (unsigned nMask = 0; nMask < (1u << (sName.size() + 1)); ++nMask) {
        std::string sText;
        for (size_t i = 0; i <= sName.size(); ++i) {
            if (nMask & (1u << i)) sText += (i % 2 == 0) ? "  " : " ";
            if (i < sName.size()) sText += sName[i];
        }
        SCOPED_TRACE("'" + sText + "'");
        int32_t lCode = 0;
        EXPECT_TRUE(ToIntFlightNo(sText.data(), &lCode));
        EXPECT_EQ(lCode, flightCode(5, 2, 27));
        EXPECT_STREQ(sText.c_str(), "AAS5");
    }
    char szKeyword[] = "RE SET ";
    int32_t lCode = 0;
    EXPECT_TRUE(ToIntFlightNo(szKeyword, &lCode));
    EXPECT_EQ(lCode, -1);
    EXPECT_STREQ(szKeyword, "RESET");
}

TEST(FlightNumber, RefusesNullArguments) {
    int32_t lCode = 5;
    EXPECT_FALSE(ToIntFlightNo(nullptr, &lCode));
    EXPECT_EQ(lCode, kDummy);
    char szText[] = " N1";
    EXPECT_FALSE(ToIntFlightNo(szText, nullptr));
    EXPECT_STREQ(szText, " N1");
    EXPECT_FALSE(ToCharFlightNo(flightCode(1, 1, 1), nullptr, 16));
}

TEST(FlightNumber, PrintsWithinTheBufferSize) {
    const std::vector<std::pair<int32_t, std::string>> rows = {
        {-1, "RESET"},
        {0, "NEXTIND"},
        {kDummy, "DUMMY"},
        {flightCode(1, 6, 0), "DUMMY"},
        {7, "07"},
        {flightCode(7, 1, 0), "N07"},
        {flightCode(65535, 5, 127), "DWI65535"},
    };
    for (const auto& [lCode, sText] : rows) {
        const bool bPrintable = !(lCode == flightCode(1, 6, 0));
        for (int32_t nSize : sizesAround(sText.size())) {
            SCOPED_TRACE(sText + " in " + std::to_string(nSize) + " bytes");
            char szBuffer[40];
            std::memset(szBuffer, '#', sizeof szBuffer);
            const bool bFits = nSize >= static_cast<int32_t>(sText.size()) + 1;
            EXPECT_EQ(ToCharFlightNo(lCode, szBuffer, nSize), bFits && bPrintable);
            if (bFits) {
                EXPECT_EQ(std::string(szBuffer), sText);
            } else if (nSize >= 1) {
                EXPECT_EQ(szBuffer[0], '\0');
            }
            const size_t nWritable = bFits ? sText.size() + 1 : (nSize >= 1 ? 1 : 0);
            for (size_t i = nWritable; i < sizeof szBuffer; ++i) ASSERT_EQ(szBuffer[i], '#') << "byte " << i;
        }
    }
}

}  // namespace
