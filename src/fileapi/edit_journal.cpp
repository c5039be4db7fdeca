// Raw file-handle API: the design of the edit journal, and the recovery of interrupted edits
// (the format is in journal_format.h, a running edit in journal_run.h and journal_run.cpp).
//
// THE EDIT JOURNAL
//
// An insertion, a removal and a block move all come down to one block move inside the file
// (source S, destination D, length L, shift d = |D - S| > 0), followed for an insertion by a zero
// fill of the gap and for a removal by cutting the file at its new size. The move runs in the
// direction that never overwrites a source byte before it has been read: towards the beginning
// front to back, towards the end back to front. "Done" counts the bytes, in that order, whose
// move is finished.
//
// What can go wrong. A process killed between two pieces leaves the file with a part of the move
// made; after a power cut any subset of the writes since the last flush may be on the disk, each
// possibly in part. Either way, redoing the rest of the move needs the source bytes of the rest,
// and a piece whose destination overlaps its own source (a shift smaller than the piece) has
// destroyed bytes that a redo of that piece would read.
//
// Epochs. The move is cut into epochs of E bytes (in move order). The file is flushed at the end
// of every epoch and nowhere inside one. The writes of an epoch with move offsets [lo, hi) land at
// [D + lo, D + hi): because of the direction they never touch the source of a later epoch, and
// they touch the epoch's own source only in a band of E - d bytes (none when d >= E). That band
// is all a redo of the epoch could miss, so it is saved in the journal before the epoch's first
// write: "the saved copy". Hence
//   - shifts of at least half the window: E = d, nothing is saved, the journal holds records only;
//   - smaller shifts: E = d + half the window, and the saved copy is half a window at most.
// The journal has two copy areas of half a window and two record slots, used in turn, so that an
// epoch's copy and record never overwrite those of the epoch before. It is bounded by one window
// plus its header whatever the size of the file, and no larger than the edit needs.
//
// The journal file (integers little-endian, 8 bytes each):
//   [0, 256)     header: magic, version, the data file's identity (volume, index, generation),
//                the edit (kind, S, D, L, size before and after, the gap), E and the size of a
//                copy area; checksum. Written once, never changed.
//   [256, 384)   record slot 0: magic, phase (move, finish, done), number, done, where the saved
//   [384, 512)   record slot 1: copy comes from, its length and checksum; checksum seeded with the
//                header's, so that a record can only belong to its own header.
//   [4096, ...)  copy areas 0 and 1.
// Record number n lives in slot n % 2 and keeps its saved copy in area n % 2.
//
// Order of writes and flushes (F: flush of the data file; J: flush of the journal; P: flush of the
// journal's folder):
//   1. Create the journal exclusively, locked (below) and readable by its owner only. Reserve the
//      journal's largest size and the blocks the file grows into. Write the saved copy of epoch
//      0, then the header and record 0 in one write inside the first 512-byte sector. J. P.
//   2. For each epoch n: the epoch's writes to the file. Unless it was the last, the saved copy of
//      epoch n + 1 (into the other area, from source bytes epoch n does not write). F. Unless it
//      was the last, record n + 1. J.
//   3. Insertion and removal: a "finish" record. J. The zero fill, or the cut. F.
//   4. A "done" record (no flush). Delete the journal while holding it, close it. P.
//
// Why the file or the journal holds every byte needed, at every instant. Let R be the valid record
// with the highest number (recovery reads both slots: a torn slot fails its checksum and the other
// still holds the record before it).
//   - R is written only after F of the epoch before it returned, so every epoch before R's is on
//     the disk: R's "done" holds after any crash. (R's saved copy may be written earlier, while
//     the epoch before still runs: it goes to the area R - 1 does not use, and its bytes are
//     source bytes that no epoch before R's writes.)
//   - R's epoch writes nothing to the file before J after R returned. If R's saved copy checks, it
//     is the band as it was before the epoch; recovery writes it back into the file, and then the
//     whole source of the epoch is in the file again (the epoch writes no other source byte), so
//     redoing the epoch from the file is exact. If the copy does not check, J after R never
//     completed, the epoch wrote nothing, and its source is intact in the file. Writing the next
//     epoch's copy cannot spoil R's, which lives in the other area.
//   - Redoing an epoch is idempotent: it reads only source bytes that the epoch does not write (or
//     the restored band), so recovery may itself be interrupted and is recovered the same way.
//     Recovery goes on with the same steps, numbers and flushes as the edit.
//   - The finish record is written after F of the last epoch, when the whole move is on the disk:
//     from then on recovery only redoes the zero fill or the cut (which destroy move sources and
//     could not be redone before it).
//   - Nothing in the file changes before the journal, directory entry included, is on the disk (J
//     and P of step 1; the reservation only gives the file blocks past its end). A journal whose
//     header is missing or all zeros belongs to an edit that never began and is simply removed.
//     Header and record 0 share one write inside one disk sector, so after a crash either both
//     are there or neither is: a header without a valid record is damage.
//   - The journal goes only after the edit is complete on the disk (F), and P makes its deletion
//     durable before the call returns: a journal can never come back after a power cut to redo a
//     step over data the caller wrote later. Until P returns, any record the journal could come
//     back with redoes a step whose result is already there. The done record makes a journal that
//     someone opens before our delete inert, and a journal someone else removed after it counts
//     as removed.
//   - A journal's name is removed only by the holder of its lock, and only while the name still
//     leads to the locked file (sys::deleteOpenFile): no one can free the name and create a newer
//     journal there in between, so no open elsewhere ever removes a journal of an edit running
//     now. An open elsewhere may still lock a new journal in the instant between its creation
//     and its creator's lock, find it empty ("never began") and remove it: the creator then
//     tries again, and an edit that finds the journal's lock held briefly waits for it (bounded),
//     rather than failing as if another edit were running.
// Power cuts are covered by these flushes, and a killed process a fortiori (the system keeps every
// write a killed process made). What the journal trusts: that the disk keeps a flushed write, that
// it writes a 512-byte sector whole, and that the file system keeps its own metadata consistent
// (ext4, XFS and NTFS journal it). A saved copy that rots on the disk after it was flushed cannot
// be told from one that was never flushed; the checksums catch torn and stray writes, not rot.
//
// Costs. Shifts of half a window or more add two flushes per epoch of d bytes and no copy. Smaller
// shifts write every moved byte twice (once saved, once moved) and add two flushes per half window.
// So that a flush does not find all of its epoch still to be written, the writes are handed to the
// disk in batches as they are made (sys::startWriteBack): the disk writes while the next bytes are
// copied. Memory stays the one move buffer of at most 1 MiB: the copy is saved through it piece by
// piece, and the epoch reads the same bytes again (from the system's cache) when it moves them.
//
// Locking. The journal is created and opened with share mode none, through the platform's own
// sharing: while its edit runs no other handle in any process can open it; when the process dies
// the system closes its handles and the journal can be opened, which makes it hot. Opening the
// journal is also the lock of a recovery, so two processes never recover one file together.
//
// Foreign and damaged journals. The header names the data file's identity and its sizes before
// and after. A journal whose identity differs, or whose file's size is not between those two, belongs
// to another file (the file was replaced, or copied elsewhere together with the journal) and is
// never applied; nor is one whose header or records do not check, nor one whose edit is not one
// the space functions could have started (source, destination, length, gap and both sizes related
// exactly as they relate them, and the layout of some window). All are reported, and both files
// are left as they are.
//
// WHO MAY WRITE A JOURNAL, AND WHEN IT IS APPLIED
//
// Recovery runs inside every open, by whoever opens, so the journal is the one file of the
// library that another user could use to make the owner's process write the owner's data. The
// checksums are unkeyed and the format is documented: anyone can write a journal that checks.
// What is believed is therefore decided by who could have written it, not by what it says.
//   - Which file a journal may change: only the data file it sits beside, and only when that file
//     has the identity in the header (volume, index, generation), a size between the edit's
//     sizes before and after, and (below) still the state the edit left it in.
//   - Whose journal is believed: a journal is opened without following a link (and without
//     waiting on a FIFO), and believed only when what was opened is a regular file with one
//     link, owned by the data file's owner, that nobody else may open (POSIX: no group or other
//     permission bits; Windows: an access list that grants nobody but the owner). Only the owner
//     (or the system's administrator, who can write the data file anyway) can make such a file.
//     An editor creates its journal that way from the first instant (mode 0600 in the create
//     call; Windows: the owner-only access list in the create call), and one whose process is
//     not the data file's owner (root editing a user's file) hands the journal to the owner
//     before writing it. An editor that may write the file but is neither its owner nor root
//     cannot make a journal anyone would believe: its chunked edits are refused
//     (kErrorJournalNotOurs), never run without one.
//   - Anything else at the journal's name (a link, a folder, a FIFO, another user's file, a file
//     others may read) is not ours: it is never read as a journal, never applied and never
//     removed. It does not stop an open of the data file, nor an edit (no one can deny the owner
//     their file by planting junk): the edit journals aside, at ".NAME.<16 random hex
//     digits>.qrjournal" in the same folder, created exclusively and owner-only like any journal
//     (something planted at a name tried only makes it try another, a few times). No one can
//     foresee that name, and no open searches for it: the file's mark (STALE JOURNALS below)
//     names it, and an open or QR_RecoverFile that finds something not ours at the usual name
//     follows the mark to it. The usual name's exclusive create alone does not keep a second
//     edit of the file out (one aside, one through another link, one that meets root's journal
//     for a user's file before it is handed to the owner): the mark does, set only where the
//     file carries none, or one whose journal no edit holds locked. Where the file system keeps
//     no marks, a journal aside could never be found again after a crash: the edit is refused
//     (kErrorJournalNotOurs) until the object is gone. QR_RecoverFile reports the object
//     (kErrorJournalNotOurs) whenever the mark leads to no journal aside; a journal aside
//     of the name opened that is foreign or stale is refused as such (by opens too), even once
//     the object is gone. A recovery without a mark looks at the usual name only, as ever.
//   - What a read-only open does: recovery writes the data file, so it runs only for a caller
//     who may write it (the data file is opened for writing to find out). A caller who may not
//     write it, or may not open the journal, gets kErrorJournalWaits: the edit waits for
//     `qrtool recover` by someone who may; nothing is opened, read as half-edited or changed.
//   - How a journal that no longer describes its file is recognised: see STALE JOURNALS below.
//
// STALE JOURNALS
//
// A journal describes one state of one file and must never be applied to a file changed after
// the edit stopped. Three checks, all before anything is redone (failing: kErrorJournalStale,
// both files left as they are):
//   - The mark. Before the first byte moves, the edit puts a mark on the data file itself (an
//     extended attribute "user.qrcore.journal": the edit's random nonce and the journal's full
//     path; flushed with the file), and removes it after the journal is gone, if it still
//     carries the edit's nonce (another edit may have marked the file by then). The header
//     records the nonce and whether the mark was set. A journal is applied only to a file
//     carrying its nonce. The mark travels with the file's identity: through another hard link or after a
//     rename, an open finds no journal beside the name it used, follows the mark to the journal
//     and finishes the edit there (a journal so found that is not this file's is left alone).
//   - The sample. Every record from the second on carries a checksum of up to 64 KiB of what the
//     epoch before it wrote (the start of its destination), read back from the file before the
//     record is written. Recovery reads those bytes again: a restore from a backup, or any write
//     to that piece since, changes them.
//   - Identity and size, as above: a file put in the place of the old one is another file.
// What is detected where:
//   - (a) an edit through hard link A killed, the file opened through link B: where the file
//     system keeps user extended attributes (ext4, XFS, btrfs, tmpfs since Linux 6.6), the open
//     through B finishes the edit first, so nothing is served half-edited and nothing written
//     later through B is overwritten. Elsewhere (and on Windows, which keeps no marks here) the
//     open through B cannot know: it serves the half-edited file; a later open through A then
//     refuses the journal when the sample changed and applies it when the writes through B
//     missed the sample (undetectable: no check short of a digest of the whole file catches a
//     write anywhere).
//   - (b) a restore from a backup with cp (same identity, size between before and after):
//     detected by the sample on every file system once the first stretch has been recorded.
//     Before that (the edit killed in its first stretch) no byte is known to be written; the
//     restored file is then edited as the journal says (the same edit, made on the restored
//     bytes), which cannot be told from an untouched file.
//   - (c) renamed after the crash: with marks, an open of the new name follows the mark and
//     finishes the edit; a new file under the old name has another identity and the journal is
//     refused as foreign. Without marks the renamed file is served half-edited (undetectable:
//     nothing beside its new name says it was edited).
//   The file's change time is not used: the edit's own partial writes change it too.
// A mark left behind by a crash between the journal's removal and the mark's (the edit was
// complete) names a journal that is gone, and is ignored. Since anyone who may write the file may
// write its mark, a mark is followed only to a regular file named as a journal (".qrjournal-" and
// 16 hex digits, or "." + a name + ".qrjournal", which takes in the names aside), and what is
// found there is then judged as any journal.
#include "fileapi/edit_journal.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "error/error_state.h"
#include "fileapi/journal_format.h"
#include "fileapi/journal_run.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace qr {

using namespace journal;

namespace {

std::atomic<bool> g_bJournal{true};
std::atomic<int64_t> g_llWindow{kDefaultWindow};

// Whether hFile carries the mark of the edit plan describes (true when the edit set none).
bool markHolds(void* hFile, const Plan& plan) {
    if (!plan.bMarked) return true;
    std::string sValue;
    bool bFound = false;
    return sys::fileMarkOf(hFile, kMarkName, &sValue, &bFound) && bFound &&
           sValue.compare(0, 17, markValue(plan.nNonce, {})) == 0;
}

// Applies the hot journal hJournal (open, locked) at sJournal to hFile. The journal handle is
// closed on every return; the journal is removed unless the result is kFailed. bByMark: the
// journal was found through the file's mark, not beside it: one that turns out not to be this
// file's is none of its business (kNothing, left alone).
Recovery recoverWith(void* hJournal, const std::string& sJournal, void* hFile, bool bByMark = false) {
    const auto fail = [&](uint32_t nCode) {
        sys::closeHandle(hJournal);
        if (bByMark && (nCode == sys::kErrorJournalForeign || nCode == sys::kErrorJournalStale)) return Recovery::kNothing;
        if (nCode != 0) setSystemError(nCode);
        return Recovery::kFailed;
    };
    // A journal with nothing to do goes; should that fail, it stays harmless (and is looked at
    // again by the next open).
    const auto removeInert = [&] {
        const uint32_t nSaved = sys::lastError();
        const bool bDeleted = sys::deleteOpenFile(hJournal, sJournal.c_str());
        sys::closeHandle(hJournal);
        if (bDeleted) sys::flushFolder(folderOf(sJournal).c_str());
        sys::setLastError(nSaved);
        return Recovery::kNothing;
    };

    // Header and both slots; what the journal does not reach reads as zeros.
    unsigned char first[kHeaderSize + 2 * kRecordSize] = {};
    bool bShort = false;
    if (!journalRead(hJournal, 0, first, sizeof first, &bShort)) return fail(0);
    if (std::all_of(first, first + kHeaderSize, [](unsigned char c) { return c == 0; }))
        return removeInert();  // an edit that never began
    Plan plan;
    if (!planFromHeader(decode<kHeaderWords>(first), &plan)) {
        const auto words = decode<kHeaderWords>(first);
        const bool bOld = words[0] == kHeaderMagic && words[1] == (kOldVersion | (u64(kHeaderSize) << 32));
        return fail(bOld ? sys::kErrorJournalVersion : sys::kErrorJournalDamaged);
    }
    const uint64_t nHeaderSum = headerWords(plan)[kHeaderWords - 1];

    // Whose journal is it?
    sys::FileIdentity identity;
    int64_t llSize = 0;
    if (!sys::fileIdentity(hFile, &identity) || !sys::getFileSize(hFile, &llSize)) {
        failSystem();
        return fail(0);
    }
    const SpaceEdit& e = plan.edit;
    if (!(identity == plan.identity) || llSize < std::min(e.llSizeBefore, e.llSizeAfter) ||
        llSize > std::max(e.llSizeBefore, e.llSizeAfter))
        return fail(sys::kErrorJournalForeign);

    Record newest;
    bool bFound = false;
    for (int nSlot = 0; nSlot < 2; ++nSlot) {
        Record record;
        if (recordFromWords(decode<kRecordWords>(first + kHeaderSize + nSlot * kRecordSize), nHeaderSum, &record) &&
            (!bFound || record.nNumber > newest.nNumber)) {
            newest = record;
            bFound = true;
        }
    }
    // Header and record 0 are written together: a valid header without a valid record is damage.
    if (!bFound || newest.nPhase < kPhaseMove || newest.nPhase > kPhaseDone) return fail(sys::kErrorJournalDamaged);
    if (newest.nPhase == kPhaseDone) return removeInert();
    if (newest.nPhase == kPhaseMove) {
        const Epoch epoch = newest.llDone >= 0 && newest.llDone < e.llLength && newest.llDone % plan.llEpoch == 0
                                ? epochAt(plan, newest.llDone)
                                : Epoch{0, 0, 0, -1, -1};
        if (newest.llCopyPos != epoch.llCopyPos || newest.llCopyLength != epoch.llCopyLength)
            return fail(sys::kErrorJournalDamaged);
    } else if (e.nKind == SpaceEdit::kMove || newest.llDone != e.llLength) {
        return fail(sys::kErrorJournalDamaged);
    }
    // Is the file still as the edit left it? Its mark travels with it (a copy restored over it
    // in place keeps it; a file put in its place has none), and a piece of what the edit wrote
    // must still be there (a restore or a write since changes it).
    if (!markHolds(hFile, plan)) return fail(sys::kErrorJournalStale);

    MoveBuffer buffer(e.llLength);
    if (buffer.data() == nullptr) {
        setError(kErrNoMemory);
        return fail(0);
    }
    Run run(hFile, hJournal, sJournal, plan, buffer.data(), buffer.size());
    if (!run.sampleHolds(newest)) return fail(sys::kErrorJournalStale);
    ProgressReport silent(0);
    bool bOk = (sys::reserveFileSpace(hJournal, journalSize(plan)) &&
                sys::reserveFileSpace(hFile, std::max(e.llSizeAfter, e.llDst + e.llLength))) ||
               failSystem();
    if (bOk && newest.nPhase == kPhaseMove) {
        bOk = run.restore(newest) && run.moveFrom(newest.llDone, silent);
    } else if (bOk) {
        run.continueAfter(newest);
        bOk = run.finish(silent);
    }
    if (!bOk) {
        run.abandon();
        return Recovery::kFailed;
    }
    return run.close() ? Recovery::kRecovered : Recovery::kFailed;
}

}  // namespace

bool spaceJournalEnabled() { return g_bJournal.load(std::memory_order_relaxed); }

void setJournalWindow(int64_t llBytes) {
    g_llWindow.store(llBytes <= 0 ? kDefaultWindow : std::clamp(llBytes, kMinWindow, kMaxWindow));
}

int64_t journalWindow() { return g_llWindow.load(std::memory_order_relaxed); }

std::string journalPathFor(const std::string& sFinalPath) {
    const std::size_t nSep = sFinalPath.find_last_of("/\\");
    const std::string sFolder = nSep == std::string::npos ? std::string() : sFinalPath.substr(0, nSep + 1);
    const std::string sName = nSep == std::string::npos ? sFinalPath : sFinalPath.substr(nSep + 1);
    if (sName.size() <= 200) return sFolder + "." + sName + ".qrjournal";
    // A name that leaves no room for the affixes is replaced by its checksum.
    Checksum sum(0);
    sum.update(reinterpret_cast<const unsigned char*>(sName.data()), sName.size());
    char szHex[17];
    uint64_t nValue = sum.value();
    for (int i = 15; i >= 0; --i, nValue >>= 4) szHex[i] = "0123456789abcdef"[nValue & 15];
    szHex[16] = '\0';
    return sFolder + ".qrjournal-" + szHex;
}

namespace {
// Whether sPath is named as a journal: ".qrjournal-" and 16 hex digits, or "." + a name +
// ".qrjournal" (which takes in the unforeseeable ".NAME.<16 hex digits>.qrjournal").
bool looksLikeJournal(const std::string& sPath) {
    const std::size_t nSep = sPath.find_last_of("/\\");
    const std::string sName = nSep == std::string::npos ? sPath : sPath.substr(nSep + 1);
    const std::string sPrefix = ".qrjournal-";
    const std::string sSuffix = ".qrjournal";
    if (sName.size() == sPrefix.size() + 16 && sName.compare(0, sPrefix.size(), sPrefix) == 0)
        return sName.find_first_not_of("0123456789abcdef", sPrefix.size()) == std::string::npos;
    return sName.size() > sSuffix.size() + 1 && sName[0] == '.' &&
           sName.compare(sName.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0;
}

}  // namespace

// Anyone who may write the file may write its mark: only a regular file named as a journal is
// ever opened through it (never a device or a FIFO somewhere else).
std::string journal::markedJournal(const std::string& sPath) {
    const uint32_t nSaved = sys::lastError();
    std::string sMark;
    bool bFound = false;
    sys::FileOwnership named;
    std::string sJournal;
    if (sys::fileMark(sPath.c_str(), kMarkName, &sMark, &bFound) && bFound && sMark.size() > 17 &&
        looksLikeJournal(sMark.substr(17)) && sys::pathOwnership(sMark.c_str() + 17, &named) && named.bRegular)
        sJournal = sMark.substr(17);
    sys::setLastError(nSaved);
    return sJournal;
}

namespace {
// The journal to look at for the file at sPath ("" for none): the one beside it, or, when there is
// none, the one the file's mark names (an edit made through another name of the file, or before
// it was renamed); *pbByMark tells which. Leaves the last error.
std::string journalToCheck(const std::string& sPath, bool* pbByMark) {
    const uint32_t nSaved = sys::lastError();
    std::string sJournal = journalPathFor(sPath);
    *pbByMark = !sys::findFile(sJournal.c_str());
    sys::setLastError(nSaved);
    return *pbByMark ? markedJournal(sPath) : sJournal;
}

// After something that is not ours was found at the journal's usual name: the journal an edit
// made under another name instead, which only the file's mark can name ("" for none).
std::string journalAside(const std::string& sPath, const std::string& sUsual) {
    const std::string sMarked = markedJournal(sPath);
    return sMarked == sUsual ? std::string() : sMarked;
}

// Whether sJournal is a name aside from the usual name sUsual, as createJournalAside makes them:
// the journal of an edit of this very name, which no other file's edit could have made.
bool isAsideOf(const std::string& sJournal, const std::string& sUsual) {
    const std::string sSuffix = ".qrjournal";
    const bool bSuffixed = sUsual.size() >= sSuffix.size() &&
                           sUsual.compare(sUsual.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0;
    const std::string sStem = (bSuffixed ? sUsual.substr(0, sUsual.size() - sSuffix.size()) : sUsual) + ".";
    return sJournal.size() == sStem.size() + 16 + sSuffix.size() && sJournal.compare(0, sStem.size(), sStem) == 0 &&
           sJournal.compare(sStem.size() + 16, sSuffix.size(), sSuffix) == 0 &&
           sJournal.find_first_not_of("0123456789abcdef", sStem.size()) == sStem.size() + 16;
}

// openJournal, waiting a little while the journal is busy.
Opened openWaiting(const std::string& sJournal, const sys::FileOwnership& data, void** phJournal) {
    Opened opened = openJournal(sJournal, data, phJournal);
    // A lock held for a moment by an open elsewhere that looks at a finished journal goes soon;
    // an edit running right now holds it longer.
    for (int nTry = 1; opened == Opened::kBusy && nTry < kLookTries; ++nTry) {
        std::this_thread::sleep_for(kLookPause);
        opened = openJournal(sJournal, data, phJournal);
    }
    return opened;
}
}  // namespace

bool finishInterruptedEdit(void* hFile) {
    const uint32_t nSaved = sys::lastError();
    const std::string sPath = sys::finalPathOf(hFile);
    bool bByMark = false;
    std::string sJournal = sPath.empty() ? std::string() : journalToCheck(sPath, &bByMark);
    if (sJournal.empty()) {
        sys::setLastError(nSaved);
        return true;
    }
    sys::FileOwnership data;
    if (!sys::fileOwnership(hFile, &data)) return failSystem();
    void* hJournal = nullptr;
    Opened opened = openWaiting(sJournal, data, &hJournal);
    if (opened == Opened::kNotOurs && !bByMark) {
        sJournal = journalAside(sPath, sJournal);
        bByMark = true;
        if (!sJournal.empty()) opened = openWaiting(sJournal, data, &hJournal);
    }
    switch (opened) {
    case Opened::kHot:
        return recoverWith(hJournal, sJournal, hFile, bByMark) != Recovery::kFailed;
    case Opened::kBusy:
        setSystemError(sys::kErrorSharingViolation);
        return false;
    case Opened::kWaits:
        setSystemError(sys::kErrorJournalWaits);
        return false;
    case Opened::kFailed:
        return false;
    case Opened::kNotOurs:  // left alone: the edit's own journal goes elsewhere
    case Opened::kNone:
        break;
    }
    sys::setLastError(nSaved);
    return true;
}

Recovery recoverFile(const char* szPath) {
    const uint32_t nSaved = sys::lastError();
    const std::string sPath = sys::finalPath(szPath);
    bool bByMark = false;
    std::string sJournal = sPath.empty() ? std::string() : journalToCheck(sPath, &bByMark);
    if (sJournal.empty()) {
        sys::setLastError(nSaved);
        return Recovery::kNothing;
    }
    // A journal aside from this very name (the object that made the edit go aside is gone since)
    // is this file's: what is wrong with it is reported, as below.
    if (bByMark && isAsideOf(sJournal, journalPathFor(sPath))) bByMark = false;
    sys::FileOwnership data;
    if (!sys::pathOwnership(sPath.c_str(), &data)) {
        failSystem();
        return Recovery::kFailed;
    }
    void* hJournal = nullptr;
    Opened opened = openJournal(sJournal, data, &hJournal);
    // Something not ours at the usual name is reported, unless the mark leads to the journal of
    // an edit made aside from it. That journal is no other file's (its name is of this file's
    // edit alone, which its mark names): one that is foreign or stale is reported as such.
    if (opened == Opened::kNotOurs && !bByMark) {
        const std::string sAside = journalAside(sPath, sJournal);
        const Opened aside = sAside.empty() ? Opened::kNone : openJournal(sAside, data, &hJournal);
        if (aside != Opened::kNone && aside != Opened::kNotOurs) {
            sJournal = sAside;
            opened = aside;
        }
    }
    switch (opened) {
    case Opened::kHot: break;
    case Opened::kNone: sys::setLastError(nSaved); return Recovery::kNothing;
    case Opened::kBusy: return Recovery::kBusy;
    case Opened::kNotOurs: return Recovery::kNotOurs;
    case Opened::kWaits: return Recovery::kWaits;
    case Opened::kFailed: return Recovery::kFailed;
    }
    // Recovery writes the file: only someone who may write it recovers.
    void* hFile = sys::createFile(sPath.c_str(), sys::kGenericRead | sys::kGenericWrite,
                                  sys::kShareRead | sys::kShareWrite, sys::kOpenExisting, false);
    if (!sys::isValidHandle(hFile)) {
        const uint32_t nError = sys::lastError();
        sys::closeHandle(hJournal);
        if (nError == sys::kErrorAccessDenied) return Recovery::kWaits;
        sys::setLastError(nError);
        failSystem();
        return Recovery::kFailed;
    }
    // The file opened must be the one whose owner the journal was checked against.
    sys::FileOwnership reached;
    if (!sys::fileOwnership(hFile, &reached) || reached.sOwner != data.sOwner) {
        sys::closeHandle(hFile);
        sys::closeHandle(hJournal);
        return Recovery::kNotOurs;
    }
    const Recovery result = recoverWith(hJournal, sJournal, hFile, bByMark);
    sys::closeHandle(hFile);
    return result;
}

}  // namespace qr

extern "C" {

QR_API bool QR_CALL QR_SetSpaceJournal(bool bEnabled) { return qr::g_bJournal.exchange(bEnabled); }

QR_API bool QR_CALL QR_RecoverFile(const char* szFileName, bool* pbRecovered) {
    if (pbRecovered != nullptr) *pbRecovered = false;
    if (szFileName == nullptr) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    if (!qr::sys::findFile(szFileName)) {
        qr::setError(qr::kErrSystem);
        return false;
    }
    switch (qr::recoverFile(szFileName)) {
    case qr::Recovery::kRecovered:
        if (pbRecovered != nullptr) *pbRecovered = true;
        return true;
    case qr::Recovery::kNothing:
        return true;
    case qr::Recovery::kBusy:
        qr::setSystemError(qr::sys::kErrorSharingViolation);
        return false;
    case qr::Recovery::kNotOurs:
        qr::setSystemError(qr::sys::kErrorJournalNotOurs);
        return false;
    case qr::Recovery::kWaits:
        qr::setSystemError(qr::sys::kErrorJournalWaits);
        return false;
    case qr::Recovery::kFailed:
        break;
    }
    return false;
}

}  // extern "C"
