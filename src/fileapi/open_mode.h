// Raw file-handle API: decoding the open mode of QR_NewFile and QR_OpenFile into platform
// access rights and share flags.
#pragma once

#include <cstdint>

namespace qr {

struct OpenMode {
    uint32_t nAccess = 0;  // sys::kGenericRead / kGenericWrite
    uint32_t nShare = 0;   // sys::kShareRead / kShareWrite
};

// Access in bits 0-7 (0 or 3 read and write, 1 read, 2 write), sharing in bits 8-14 (0, 0x100,
// 0x200, 0x300); bits 15-31 are ignored. False for any other access or sharing value; *pMode
// is then unchanged.
bool decodeOpenMode(uint32_t nMode, OpenMode* pMode);

}  // namespace qr
