// Raw file-handle API: the journal that lets an insertion, removal or block move interrupted at
// any instant (killed process, crashed host, power cut) be finished by the next open, so that a
// file is always exactly as before the edit or exactly as after it.
#pragma once

#include <cstdint>
#include <string>

#include "fileapi/progress.h"

namespace qr {

// One edit as the journal runs it: a block move inside the file, then (for an insertion) a zero
// fill of the gap or (for a removal) cutting the file at its new size.
struct SpaceEdit {
    enum Kind : uint32_t { kAllocate = 1, kFree = 2, kMove = 3 };
    uint32_t nKind = kMove;
    int64_t llSrc = 0;         // the move: source, destination and length (above 0), with the
    int64_t llDst = 0;         // source inside the file
    int64_t llLength = 0;
    int64_t llSizeBefore = 0;  // the file's size before and after the edit
    int64_t llSizeAfter = 0;
    int64_t llFillPos = 0;     // kAllocate: the gap the move leaves, filled with zeros after it
    int64_t llFillSize = 0;
};

// Whether the space functions journal their chunked edits (on unless switched off).
bool spaceJournalEnabled();

// Before an edit measures the file: finishes an earlier interrupted edit of hFile's file whose
// journal is hot, through hFile. False after reporting the error (1000000 with the sharing
// violation text when an edit of the file is running right now, kErrorJournalForeign/Damaged,
// or the error of the failing step).
bool finishInterruptedEdit(void* hFile);

// Runs edit on hFile (open for reading and writing) under a journal beside the file (aside from
// its usual name when that holds something not ours, where the file keeps marks), reporting
// progress through progress (finish() is the caller's). False after reporting the error: the
// number of the failing step (1000000; a flush's own system code; 1000004 for no buffer). A
// failure before the file's first write removes the journal again and leaves the file as it
// was; a later one leaves the journal, and the next open (or edit, or QR_RecoverFile) finishes
// the edit. A file with no name any more (deleted while open) is edited without a journal, as no
// one could open it again to recover it.
bool runJournaledEdit(void* hFile, const SpaceEdit& edit, ProgressReport& progress);

enum class Recovery {
    kNothing,    // no journal, or one of an edit that never began or had finished (removed)
    kRecovered,  // an interrupted edit was finished and its journal removed
    kBusy,       // the journal is locked: an edit of the file is running right now
    kFailed,     // reported: the journal could not be applied (left in place), or does not
                 // belong to the file or does not check (kErrorJournalForeign/Damaged)
    kNotOurs,    // the journal's name holds something that is not the owner's private journal:
                 // left alone
    kWaits,      // the owner's journal, which this caller may not apply (it may not write the
                 // file or open the journal): nothing changed
};

// Looks for the journal of szPath (an existing file; wildcards are not resolved) and, when it is
// hot, finishes its edit. kFailed has reported the error; the others report nothing (kWaits and
// kNotOurs leave the last error as it was).
Recovery recoverFile(const char* szPath);

// The journal's name for the file whose full path (as sys::finalPath gives it) is sFinalPath: a
// hidden file in the same folder.
std::string journalPathFor(const std::string& sFinalPath);

// Test seam: leaves the journal an edit of hFile's file would have on the disk when its process
// died right before the first byte moved (header and first record, no saved copy), for an edit
// that is not checked: a stand-in for any journal with valid checksums. False after reporting.
bool leaveJournalOf(void* hFile, const SpaceEdit& edit);

// Test seam: the journal window (the bound on the saved copy, see edit_journal.cpp); 0 restores
// the default. Smaller windows give more epochs on small files.
void setJournalWindow(int64_t llBytes);
int64_t journalWindow();

}  // namespace qr
