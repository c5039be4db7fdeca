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
    if (nCode == kErrorJournalNotOurs)
        return "The name of this file's journal holds something that is not its owner's private journal; it "
               "was neither applied nor removed, and no journaled edit of the file runs until it is gone";
    if (nCode == kErrorJournalWaits)
        return "An edit of this file was interrupted and waits to be finished by 'qrtool recover' run by "
               "someone who may write the file; nothing was opened or changed";
    if (nCode == kErrorJournalStale)
        return "The journal of an interrupted edit no longer describes this file (changed, restored or "
               "renamed after the edit stopped); it was not applied and both files were left as they are";
    if (nCode == kErrorJournalVersion)
        return "The journal of an interrupted edit beside this file was written in an older format; it was "
               "not applied and both files were left as they are (finish it with the version that wrote it)";
    if (nCode == kErrorJournalNotOwner)
        return "Only the owner of this file or the administrator can make an edit of it that survives an "
               "interruption; the edit was refused and nothing changed";
    if (nCode == kErrorShortSource)
        return "The file ended before the bytes a move was to read; nothing of the short piece was written";
    return nullptr;
}

}  // namespace qr::sys
