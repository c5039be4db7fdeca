// Raw file-handle API: the open-mode decoder.
#include "fileapi/open_mode.h"

#include "platform/platform.h"

namespace qr {

bool decodeOpenMode(uint32_t nMode, OpenMode* pMode) {
    OpenMode mode;
    switch (nMode & 0xFFu) {
    case 0:
    case 3: mode.nAccess = sys::kGenericRead | sys::kGenericWrite; break;
    case 1: mode.nAccess = sys::kGenericRead; break;
    case 2: mode.nAccess = sys::kGenericWrite; break;
    default: return false;
    }
    switch (nMode & 0x7F00u) {
    case 0x0000: mode.nShare = 0; break;
    case 0x0100: mode.nShare = sys::kShareRead; break;
    case 0x0200: mode.nShare = sys::kShareWrite; break;
    case 0x0300: mode.nShare = sys::kShareRead | sys::kShareWrite; break;
    default: return false;
    }
    *pMode = mode;
    return true;
}

}  // namespace qr
