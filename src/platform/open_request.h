// Platform layer, every backend: the checks every createFile makes before the system sees a
// request, so that every backend refuses the same requests with the same meaning.
#pragma once

#include <cstdint>

namespace qr::sys {

// 0 when the request may go to the system; otherwise the code to fail with:
// kErrorInvalidArgument for a null path, access bits beyond read and write (the systems give
// others meanings of their own), an unknown disposition, truncation without write access, or a
// name whose last component is a search pattern; kErrorNotFound for an empty path.
uint32_t openRequestError(const char* szPath, uint32_t nAccess, uint32_t nDisposition);

}  // namespace qr::sys
