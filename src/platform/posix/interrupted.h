// POSIX backend: system calls restarted after a signal interrupted them.
#pragma once

#include <cerrno>

namespace qr::sys {

// Calls fnCall until it returns something other than -1 with errno EINTR, and returns that.
// A signal arriving during a blocking call is not a failure of the call.
template <typename Call>
auto retryInterrupted(Call fnCall) {
    auto result = fnCall();
    while (result == -1 && errno == EINTR) result = fnCall();
    return result;
}

}  // namespace qr::sys
