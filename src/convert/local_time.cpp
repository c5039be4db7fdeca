// Conversions: the current local time as text ("MM/DD/YYYY hh:mm:ss").
#include <cstdio>

#include "platform/platform.h"
#include "qrcore/convert.h"

namespace {
constexpr int kTextLength = 19;  // "03/07/2009 14:05:09"
}  // namespace

extern "C" QR_API int32_t QR_CALL GetWinSysTime(char* szBuffer, int32_t nSize) {
    if (szBuffer == nullptr || nSize <= 0) return 0;
    szBuffer[0] = '\0';
    if (nSize < kTextLength + 1) return 0;
    qr::sys::LocalTime now{};
    if (!qr::sys::localTimeNow(now)) return 0;
    char szText[96];  // room for any int fields
    const int n = std::snprintf(szText, sizeof szText, "%02d/%02d/%04d %02d:%02d:%02d", now.nMonth,
                                now.nDay, now.nYear, now.nHour, now.nMinute, now.nSecond);
    // Only a year beyond 9999 could make the text longer; then nothing is written.
    if (n != kTextLength) return 0;
    for (int i = 0; i <= kTextLength; ++i) szBuffer[i] = szText[i];
    return kTextLength;
}
