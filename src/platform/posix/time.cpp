// POSIX backend: the current local time.
#include <cerrno>
#include <ctime>

#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_time.h"

namespace qr::sys {

bool localTimeNow(LocalTime& time) {
    if (const uint32_t nCode = takeFault(Op::Clock)) {
        setLastError(nCode);
        return false;
    }
    errno = 0;
    const std::time_t tNow = std::time(nullptr);
    if (tNow == static_cast<std::time_t>(-1)) {
        setLastError(errno != 0 ? static_cast<uint32_t>(errno) : kErrorInvalidArgument);
        return false;
    }
    std::tm tmLocal{};
    // localtime_r, not localtime: the result must not live in a buffer shared between threads.
    if (::localtime_r(&tNow, &tmLocal) == nullptr) {
        setLastError(errno != 0 ? static_cast<uint32_t>(errno) : kErrorInvalidArgument);
        return false;
    }
    time = localTimeFrom(tmLocal);
    return true;
}

}  // namespace qr::sys
