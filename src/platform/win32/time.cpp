// Win32 backend: the current local time from the C run-time's 64-bit calendar time.
#include <time.h>

#include <ctime>

#include "platform/sys_time.h"
#include "platform/win32/seam.h"

namespace qr::sys {

bool localTimeNow(LocalTime& time) {
    if (win32::faulted(Op::Clock)) return false;
    const __time64_t tNow = ::_time64(nullptr);
    if (tNow == static_cast<__time64_t>(-1)) return win32::fail(ERROR_INVALID_PARAMETER);
    tm tmLocal{};
    // _localtime64_s, not localtime: the result must not live in a buffer shared between threads.
    if (::_localtime64_s(&tmLocal, &tNow) != 0) return win32::fail(ERROR_INVALID_PARAMETER);
    time = localTimeFrom(tmLocal);
    return true;
}

}  // namespace qr::sys
