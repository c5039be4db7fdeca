// Platform layer, every backend: the checks of a createFile request before the system sees it.
#include "platform/open_request.h"

#include "platform/sys_error.h"
#include "platform/sys_files.h"

namespace qr::sys {

uint32_t openRequestError(const char* szPath, uint32_t nAccess, uint32_t nDisposition) {
    const uint32_t kAccessBits = kGenericRead | kGenericWrite;
    const bool bBadDisposition = nDisposition < kCreateNew || nDisposition > kTruncateExisting;
    const bool bTruncateWithoutWrite = nDisposition == kTruncateExisting && (nAccess & kGenericWrite) == 0;
    if (szPath == nullptr || (nAccess & ~kAccessBits) != 0 || bBadDisposition || bTruncateWithoutWrite)
        return kErrorInvalidArgument;
    if (*szPath == '\0') return kErrorNotFound;
    if (isWildcardName(szPath)) return kErrorInvalidArgument;
    return 0;
}

}  // namespace qr::sys
