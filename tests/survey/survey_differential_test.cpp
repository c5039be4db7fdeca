// Survey codecs against the reference model: random names built from the characters that
// matter to the codecs, and random codes, with random buffer sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "qrcore/survey.h"
#include "survey_reference.h"

namespace {

// Names from letters of both alphabets, area edge characters, digits, blanks, high bytes and
// keyword pieces, 0 to 20 characters long.
std::string randomName(std::mt19937_64& rng) {
    static const char* const kPieces[] = {"A", "b", "L", "l", "D", "w", "N", "s", "T", "i", "X", "Z", "@",
                                          "[", "`", "?", "-", " ", " ", "0", "1", "5", "9", "00", "42",
                                          "\xC4", "\xFF", "RESET", "NEXTIND", "DUMMY", "2147483647",
                                          "2147483648", "65535", "65536"};
    const size_t nPieces = sizeof kPieces / sizeof kPieces[0];
    std::string sName;
    const unsigned nCount = static_cast<unsigned>(rng() % 9);
    for (unsigned i = 0; i < nCount; ++i) sName += kPieces[rng() % nPieces];
    if (sName.size() > 20) sName.resize(20);
    return sName;
}

TEST(SurveyReference, TextToCodeAgreesWithReference) {
    std::mt19937_64 rng(20261209);
    for (int nRound = 0; nRound < 200000; ++nRound) {
        const std::string sName = randomName(rng);
        SCOPED_TRACE("'" + sName + "'");

        std::string sOurs = sName, sRef = sName;
        int64_t llOurs = 1, llRef = 2;
        ASSERT_EQ(ToIntLineNo(sOurs.data(), &llOurs), surveyref::toIntLine(sRef, llRef));
        ASSERT_EQ(llOurs, llRef);
        ASSERT_EQ(std::string(sOurs.c_str()), sRef);

        sOurs = sName;
        sRef = sName;
        int32_t lOurs = 1, lRef = 2;
        ASSERT_EQ(ToIntFlightNo(sOurs.data(), &lOurs), surveyref::toIntFlight(sRef, lRef));
        ASSERT_EQ(lOurs, lRef);
        ASSERT_EQ(std::string(sOurs.c_str()), sRef);

        const int nNumberSize = static_cast<int>(rng() % 20) - 1;
        const int nAreaSize = static_cast<int>(rng() % 5);
        SCOPED_TRACE("sizes " + std::to_string(nNumberSize) + ", " + std::to_string(nAreaSize));
        sOurs = sName;
        sRef = sName;
        char szNumber[24], szArea[8];
        std::memset(szNumber, 0, sizeof szNumber);
        std::memset(szArea, 0, sizeof szArea);
        char cType = '#';
        const surveyref::LineSplit split = surveyref::splitLine(sRef, nNumberSize, nAreaSize);
        ASSERT_EQ(SplitCharLineNo(sOurs.data(), szNumber, static_cast<int16_t>(nNumberSize), &cType, szArea,
                                  static_cast<int16_t>(nAreaSize)),
                  split.bOk);
        ASSERT_EQ(std::string(szNumber), split.sNumber);
        ASSERT_EQ(cType, split.cType);
        ASSERT_EQ(std::string(szArea), split.sArea);

        // The getters split with 16- and 4-byte buffers of their own.
        sOurs = sName;
        sRef = sName;
        const surveyref::LineSplit fixed = surveyref::splitLine(sRef, 16, 4);
        ASSERT_EQ(GetCharLineType(sOurs.data(), &cType), fixed.bOk);
        ASSERT_EQ(cType, fixed.cType);
        sOurs = sName;
        sRef = sName;
        const surveyref::LineSplit areaSplit = surveyref::splitLine(sRef, 16, nAreaSize);
        std::memset(szArea, 0, sizeof szArea);
        ASSERT_EQ(GetCharLineArea(sOurs.data(), szArea, static_cast<int16_t>(nAreaSize)), areaSplit.bOk);
        ASSERT_EQ(std::string(szArea), areaSplit.sArea);
    }
}

TEST(SurveyReference, CodeToTextAgreesWithReference) {
    std::mt19937_64 rng(7);
    for (int nRound = 0; nRound < 200000; ++nRound) {
        // Fields of every width, small values more often, the keywords now and then.
        uint64_t llBits = rng();
        switch (rng() % 4) {
            case 0: llBits &= 0xFFFF0000FFFFull; break;
            case 1: llBits &= 0x7F070000FFFFull; break;
            case 2: llBits = static_cast<uint64_t>(static_cast<int64_t>(rng() % 5) - 3) * (rng() % 2 ? 1 : 32767); break;
            default: break;
        }
        const int64_t llCode = static_cast<int64_t>(rng() % 2 ? llBits : 0 - llBits);
        const int32_t nSize = static_cast<int32_t>(rng() % 18);
        SCOPED_TRACE("code " + std::to_string(llCode) + " size " + std::to_string(nSize));

        std::string sRef;
        const bool bRef = surveyref::toCharLine(llCode, sRef);
        const bool bFits = sRef.size() + 1 <= static_cast<size_t>(nSize);
        char szBuffer[24];
        std::memset(szBuffer, '#', sizeof szBuffer);
        ASSERT_EQ(ToCharLineNo(llCode, szBuffer, nSize), bRef && bFits);
        ASSERT_EQ(std::string(szBuffer, strnlen(szBuffer, sizeof szBuffer)), bFits ? sRef : (nSize > 0 ? "" : std::string(24, '#')));

        int64_t llNumber = 0;
        int16_t nType = 0, nArea = 0;
        SplitIntLineNo(llCode, &llNumber, &nType, &nArea);
        const bool bKeyword = llCode == -1 || llCode == 0 || llCode == -32767;
        const uint64_t llAbs = llCode < 0 ? 0 - static_cast<uint64_t>(llCode) : static_cast<uint64_t>(llCode);
        ASSERT_EQ(llNumber, bKeyword ? llCode : static_cast<int64_t>(llAbs & 0xFFFFFFFFu));
        ASSERT_EQ(nType, bKeyword ? 0 : static_cast<int8_t>(llAbs >> 32));
        ASSERT_EQ(nArea, bKeyword ? 0 : static_cast<int8_t>(llAbs >> 40));
        ASSERT_EQ(GetIntLineType(llCode), llCode == -1 || llCode == -32767 ? 0 : static_cast<uint8_t>(llAbs >> 32));
        ASSERT_EQ(GetIntLineArea(llCode), llCode == -1 || llCode == -32767 ? 0 : static_cast<uint8_t>(llAbs >> 40));

        const int32_t lCode = static_cast<int32_t>(static_cast<uint32_t>(rng() % 3 == 0 ? llBits & 0x7F07FFFFu : llBits));
        std::string sFlightRef;
        const bool bFlightRef = surveyref::toCharFlight(lCode, sFlightRef);
        const bool bFlightFits = sFlightRef.size() + 1 <= static_cast<size_t>(nSize);
        std::memset(szBuffer, '#', sizeof szBuffer);
        ASSERT_EQ(ToCharFlightNo(lCode, szBuffer, nSize), bFlightRef && bFlightFits);
        ASSERT_EQ(std::string(szBuffer, strnlen(szBuffer, sizeof szBuffer)),
                  bFlightFits ? sFlightRef : (nSize > 0 ? "" : std::string(24, '#')));
    }
}

}  // namespace
