// Packed decimal numbers: examples, half-bytes above 9, wrapping beyond 32 bits, and random
// numbers against their decimal digits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "qrcore/convert.h"

namespace {

TEST(Bcd, DocumentedExamples) {
    const unsigned char a1234[] = {0x34, 0x12};
    EXPECT_EQ(BcdTol(a1234, 2), 1234);
    const unsigned char a1[] = {0x01};
    EXPECT_EQ(BcdTol(a1, 1), 1);
    const unsigned char a10[] = {0x0A};
    EXPECT_EQ(BcdTol(a10, 1), 10);
    const unsigned char aFF[] = {0xFF};
    EXPECT_EQ(BcdTol(aFF, 1), 165);  // 15 * 10 + 15
    EXPECT_EQ(BcdTol(a1234, 0), 0);
    EXPECT_EQ(BcdTol(a1234, -3), 0);
    EXPECT_EQ(BcdTol(nullptr, 4), 0);
    const unsigned char aMax[] = {0x47, 0x36, 0x48, 0x47, 0x21};
    EXPECT_EQ(BcdTol(aMax, 5), INT32_MAX);  // 2147483647
}

TEST(Bcd, WrapsModuloTwoToThe32) {
    const unsigned char aNext[] = {0x48, 0x36, 0x48, 0x47, 0x21};  // 2147483648
    EXPECT_EQ(BcdTol(aNext, 5), INT32_MIN);
    const unsigned char aTen[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01};  // 10^10
    EXPECT_EQ(BcdTol(aTen, 6), static_cast<int32_t>(10000000000ULL % 4294967296ULL));
    std::vector<unsigned char> nines(40, 0x99);  // 10^80 - 1: long, no undefined behaviour
    uint32_t nExpected = 0;
    for (int i = 0; i < 80; ++i) nExpected = nExpected * 10u + 9u;
    EXPECT_EQ(BcdTol(nines.data(), 40), static_cast<int32_t>(nExpected));
}

TEST(Bcd, RandomNumbersAgainstTheirDigits) {
    std::mt19937_64 rng(11);
    for (int nRound = 0; nRound < 20000; ++nRound) {
        const uint64_t nValue = rng() % 10000000000ULL;  // up to ten digits
        std::vector<unsigned char> bytes;
        uint64_t v = nValue;
        for (int k = 0; k < 5; ++k) {
            const auto nLow = static_cast<unsigned>(v % 10);
            v /= 10;
            const auto nHigh = static_cast<unsigned>(v % 10);
            v /= 10;
            bytes.push_back(static_cast<unsigned char>(nHigh << 4 | nLow));
        }
        ASSERT_EQ(BcdTol(bytes.data(), 5), static_cast<int32_t>(static_cast<uint32_t>(nValue)))
            << nValue;
    }
}

}  // namespace
