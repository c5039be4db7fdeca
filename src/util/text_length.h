// Utilities: the one rule for reporting byte counts through the 32-bit results of the text,
// record and conversion functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qr {

// nBytes as int32_t, saturated at INT32_MAX (texts of 2 GiB and more).
inline int32_t clampLength(std::size_t nBytes) {
    return nBytes > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(nBytes);
}

}  // namespace qr
