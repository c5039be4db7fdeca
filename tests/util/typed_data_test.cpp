// Typed-data helpers: data-type sizes, the 64-bit absolute value, byte-order reversal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "qrcore/util.h"

namespace {

TEST(TypedData, DataTypeSizes) {
    for (int32_t nType = -3; nType <= 40; ++nType) {
        SCOPED_TRACE(nType);
        int32_t nExpected = 0;
        if (nType >= 1 && nType <= 8) nExpected = 1 << ((nType - 1) / 2);
        if (nType == 17) nExpected = 4;
        if (nType == 18) nExpected = 8;
        EXPECT_EQ(GetDataTypeBytes(nType), nExpected);
    }
    EXPECT_EQ(GetDataTypeBytes(INT32_MIN), 0);
    EXPECT_EQ(GetDataTypeBytes(INT32_MAX), 0);
    EXPECT_EQ(GetDataTypeBytes(2), 1);
    EXPECT_EQ(GetDataTypeBytes(4), 2);
    EXPECT_EQ(GetDataTypeBytes(6), 4);
    EXPECT_EQ(GetDataTypeBytes(8), 8);
}

TEST(TypedData, AbsoluteValueKeepsTheMostNegativeValue) {
    const int64_t values[] = {0, 1, -1, 5, -5, INT64_MAX, -INT64_MAX, INT64_MIN + 1, 1234567890123LL};
    for (int64_t v : values) {
        SCOPED_TRACE(v);
        EXPECT_EQ(QR_llabs(v), std::llabs(v));  // the C library's function agrees here
    }
    EXPECT_EQ(QR_llabs(INT64_MIN), INT64_MIN);
}

TEST(TypedData, BufferReverseAgainstStdReverse) {
    for (int32_t n = 0; n <= 65; ++n) {
        SCOPED_TRACE(n);
        std::vector<unsigned char> bytes(static_cast<std::size_t>(n) + 2);
        std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(1));
        std::vector<unsigned char> expected = bytes;
        std::reverse(expected.begin() + 1, expected.begin() + 1 + n);
        EXPECT_EQ(BufferReverse(bytes.data() + 1, n), n);
        EXPECT_EQ(bytes, expected);  // the bytes around the buffer stay
    }
    unsigned char bytes[] = {1, 2, 3};
    EXPECT_EQ(BufferReverse(bytes, 3), 3);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(BufferReverse(bytes, -4), -4);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(BufferReverse(nullptr, 8), 8);
}

}  // namespace
