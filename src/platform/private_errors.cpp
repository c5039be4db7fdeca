// Platform layer, every backend: the texts of the conditions no operating system has (the
// library's own named objects and journals), for systemErrorText.
#include "platform/sys_error.h"

namespace qr::sys {

const char* privateErrorText(uint32_t nCode) {
    if (nCode == kErrorMappingOtherFile) return "The mapping name is already in use for another file";
    if (nCode == kErrorMappingNotAppendNull)
        return "A mapping object of that name exists without append-null mode: no terminator bytes can be "
               "added to its data";
    if (nCode == kErrorJournalForeign)
        return "The journal of an interrupted edit beside this file belongs to another file; it was not "
               "applied and both files were left as they are";
    if (nCode == kErrorJournalDamaged)
        return "The journal of an interrupted edit beside this file is damaged; it was not applied and "
               "both files were left as they are";
    return nullptr;
}

}  // namespace qr::sys
