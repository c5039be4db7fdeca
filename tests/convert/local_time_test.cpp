// The local time as text: format, agreement with the C library's local time, buffer sizes and
// a failing clock.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include "platform/platform.h"
#include "qrcore/convert.h"

namespace {

std::string expectedNow() {
    const std::time_t t = std::time(nullptr);
    const std::tm tmLocal = *std::localtime(&t);  // the tests use it from one thread
    char sz[32];
    std::strftime(sz, sizeof sz, "%m/%d/%Y %H:%M:%S", &tmLocal);
    return sz;
}

TEST(LocalTime, WritesMonthDayYearAndTime) {
    // Retried while the second turns over between the two readings.
    for (int nTry = 0; nTry < 5; ++nTry) {
        const std::string sBefore = expectedNow();
        char szBuffer[32];
        std::memset(szBuffer, '#', sizeof szBuffer);
        const int32_t n = GetWinSysTime(szBuffer, sizeof szBuffer);
        const std::string sAfter = expectedNow();
        ASSERT_EQ(n, 19);
        ASSERT_EQ(std::strlen(szBuffer), 19u);
        EXPECT_EQ(szBuffer[20], '#');
        EXPECT_TRUE(std::regex_match(szBuffer, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << szBuffer;
        if (sBefore == sAfter) {
            EXPECT_EQ(szBuffer, sBefore);
            return;
        }
    }
    FAIL() << "the clock kept changing";
}

TEST(LocalTime, BufferSizeBoundaries) {
    const struct {
        int32_t nSize;
        int32_t nResult;
    } rows[] = {{20, 19}, {19, 0}, {1, 0}, {0, 0}, {-5, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.nSize);
        char szBuffer[32];
        std::memset(szBuffer, '#', sizeof szBuffer);
        EXPECT_EQ(GetWinSysTime(szBuffer, row.nSize), row.nResult);
        const int32_t nWritten = row.nResult == 19 ? 20 : (row.nSize >= 1 ? 1 : 0);
        if (nWritten > 0) {
            EXPECT_EQ(szBuffer[nWritten - 1], '\0');
        }
        for (int i = nWritten; i < 32; ++i) ASSERT_EQ(szBuffer[i], '#') << i;
    }
    EXPECT_EQ(GetWinSysTime(nullptr, 64), 0);
}

TEST(LocalTime, FailingClockWritesAnEmptyText) {
    char szBuffer[32];
    std::memset(szBuffer, '#', sizeof szBuffer);
    qr::sys::injectFault(qr::sys::Op::Clock, 1, EOVERFLOW);
    EXPECT_EQ(GetWinSysTime(szBuffer, sizeof szBuffer), 0);
    qr::sys::clearFaults();
    EXPECT_EQ(szBuffer[0], '\0');
    EXPECT_EQ(szBuffer[1], '#');
    EXPECT_EQ(qr::sys::lastError(), static_cast<uint32_t>(EOVERFLOW));
    EXPECT_EQ(GetWinSysTime(szBuffer, sizeof szBuffer), 19);
}

}  // namespace
