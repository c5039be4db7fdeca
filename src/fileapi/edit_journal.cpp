// Raw file-handle API: the edit journal of the space functions and the recovery of interrupted
// edits.
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
//     removed. It does not stop an open of the data file (no one can deny the owner their file
//     by planting junk); QR_RecoverFile reports it (kErrorJournalNotOurs), and a chunked edit,
//     which would need the name for its own journal, is refused with the same text until the
//     object is gone. (Journaling under another name would need every open to search for it.)
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
//     path; flushed with the file), and removes it after the journal is gone. The header records
//     the nonce and whether the mark was set. A journal is applied only to a file carrying its
//     nonce. The mark travels with the file's identity: through another hard link or after a
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
// complete) names a journal that is gone, and is ignored.
#include "fileapi/edit_journal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <thread>

#include "error/error_state.h"
#include "fileapi/space_move.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace qr {

namespace {

// 64 MiB: per 2 GiB moved, 64 stretches of a small shift (two flushes each) instead of one flush;
// a smaller window costs more flushes, a larger one more journal space.
constexpr int64_t kDefaultWindow = 64 * 0x100000;
constexpr int64_t kMinWindow = 2 * 4096;
constexpr int64_t kMaxWindow = 1024LL * 0x100000;

std::atomic<bool> g_bJournal{true};
std::atomic<int64_t> g_llWindow{kDefaultWindow};

constexpr uint64_t kHeaderMagic = 0x0031524E4A435251ULL;  // "QRCJNR1\0"
constexpr uint64_t kRecordMagic = 0x0031434552435251ULL;  // "QRCREC1\0"
constexpr uint64_t kVersion = 2;  // 1: no mark, no samples
constexpr uint64_t kOldVersion = 1;
constexpr int64_t kSample = 64 * 1024;  // bytes of an epoch's result a record checks
const char* const kMarkName = "qrcore.journal";
constexpr int64_t kHeaderSize = 256;
constexpr int64_t kRecordSize = 128;
constexpr int64_t kSlotBase = kHeaderSize;  // slot n % 2 at kSlotBase + (n % 2) * kRecordSize
constexpr int64_t kCopyBase = 4096;         // area n % 2 at kCopyBase + (n % 2) * copy size
constexpr std::size_t kHeaderWords = kHeaderSize / 8;
constexpr std::size_t kRecordWords = kRecordSize / 8;

enum Phase : uint64_t { kPhaseMove = 1, kPhaseFinish = 2, kPhaseDone = 3 };

// ---- checksums ------------------------------------------------------------------------------

// A 64-bit checksum of four lanes of 8-byte words (fast enough to run over every saved byte at
// the speed of memory). Detects torn and stray writes; not a cryptographic hash.
class Checksum {
public:
    explicit Checksum(uint64_t nSeed) {
        m_lanes = {nSeed + kP1 + kP2, nSeed + kP2, nSeed, nSeed - kP1};
    }
    void update(const unsigned char* pData, std::size_t nSize) {
        m_nTotal += nSize;
        if (m_nCarry != 0) {
            const std::size_t nTake = std::min(nSize, sizeof m_carry - m_nCarry);
            std::memcpy(m_carry + m_nCarry, pData, nTake);
            m_nCarry += nTake;
            pData += nTake;
            nSize -= nTake;
            if (m_nCarry < sizeof m_carry) return;
            block(m_carry);
            m_nCarry = 0;
        }
        for (; nSize >= sizeof m_carry; pData += sizeof m_carry, nSize -= sizeof m_carry) block(pData);
        std::memcpy(m_carry, pData, nSize);
        m_nCarry = nSize;
    }
    uint64_t value() const {
        uint64_t nHash = rotl(m_lanes[0], 1) + rotl(m_lanes[1], 7) + rotl(m_lanes[2], 12) + rotl(m_lanes[3], 18);
        nHash ^= m_nTotal * kP1;
        for (std::size_t i = 0; i < m_nCarry; ++i) nHash = rotl(nHash ^ (m_carry[i] * kP2), 11) * kP1;
        nHash ^= nHash >> 33;
        nHash *= kP2;
        nHash ^= nHash >> 29;
        return nHash;
    }

private:
    static constexpr uint64_t kP1 = 0x9E3779B185EBCA87ULL;
    static constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4FULL;
    static uint64_t rotl(uint64_t n, int nBits) { return (n << nBits) | (n >> (64 - nBits)); }
    // A little-endian word, whatever the host's order.
    static uint64_t load(const unsigned char* p) {
        uint64_t n = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&n, p, sizeof n);
        } else {
            for (int i = 7; i >= 0; --i) n = (n << 8) | p[i];
        }
        return n;
    }
    void block(const unsigned char* p) {
        for (std::size_t i = 0; i < 4; ++i) m_lanes[i] = rotl(m_lanes[i] + load(p + 8 * i) * kP2, 31) * kP1;
    }

    std::array<uint64_t, 4> m_lanes{};
    unsigned char m_carry[32] = {};
    std::size_t m_nCarry = 0;
    uint64_t m_nTotal = 0;
};

template <std::size_t N>
uint64_t checksumOf(const std::array<uint64_t, N>& words, uint64_t nSeed) {
    unsigned char bytes[8 * (N - 1)];
    for (std::size_t i = 0; i + 1 < N; ++i)
        for (std::size_t b = 0; b < 8; ++b) bytes[8 * i + b] = static_cast<unsigned char>(words[i] >> (8 * b));
    Checksum sum(nSeed);
    sum.update(bytes, sizeof bytes);
    return sum.value();
}

template <std::size_t N>
void encode(const std::array<uint64_t, N>& words, unsigned char* pOut) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t b = 0; b < 8; ++b) pOut[8 * i + b] = static_cast<unsigned char>(words[i] >> (8 * b));
}

template <std::size_t N>
std::array<uint64_t, N> decode(const unsigned char* pIn) {
    std::array<uint64_t, N> words{};
    for (std::size_t i = 0; i < N; ++i)
        for (int b = 7; b >= 0; --b) words[i] = (words[i] << 8) | pIn[8 * i + static_cast<std::size_t>(b)];
    return words;
}

uint64_t u64(int64_t ll) { return static_cast<uint64_t>(ll); }
int64_t i64(uint64_t n) { return static_cast<int64_t>(n); }

// ---- the plan ---------------------------------------------------------------------------------

// The edit with its identity and the journal's layout.
struct Plan {
    SpaceEdit edit;
    sys::FileIdentity identity;
    int64_t llEpoch = 0;  // E
    int64_t llArea = 0;   // size of one copy area
    uint64_t nNonce = 0;  // names this edit in the data file's mark
    bool bMarked = false; // the data file carries the mark (where the file system keeps marks)
};

int64_t shiftOf(const SpaceEdit& edit) {
    return edit.llDst > edit.llSrc ? edit.llDst - edit.llSrc : edit.llSrc - edit.llDst;
}

Plan makePlan(const SpaceEdit& edit, const sys::FileIdentity& identity) {
    Plan plan;
    plan.edit = edit;
    plan.identity = identity;
    const int64_t llShift = shiftOf(edit);
    const int64_t llHalf = journalWindow() / 2;
    plan.llEpoch = llShift >= llHalf ? llShift : llShift + llHalf;
    // The largest band any epoch saves (only full epochs can be larger than the shift).
    plan.llArea = std::max<int64_t>(0, std::min(plan.llEpoch, edit.llLength) - llShift);
    return plan;
}

// The largest size the journal reaches: the header and slots, and the copy areas its epochs use
// (the second only when there is a second epoch).
int64_t journalSize(const Plan& plan) {
    if (plan.llArea == 0) return kHeaderSize + 2 * kRecordSize;
    return kCopyBase + (plan.edit.llLength > plan.llEpoch ? 2 : 1) * plan.llArea;
}

// One epoch: the part of the move between two flushes, and the band of its source it overwrites.
struct Epoch {
    int64_t llSrc, llDst, llLength;
    int64_t llCopyPos, llCopyLength;
};

Epoch epochAt(const Plan& plan, int64_t llDone) {
    const SpaceEdit& e = plan.edit;
    const int64_t llShift = shiftOf(e);
    const int64_t llLength = std::min(plan.llEpoch, e.llLength - llDone);
    const bool bTowardsEnd = e.llDst > e.llSrc;
    const int64_t llLow = bTowardsEnd ? e.llLength - llDone - llLength : llDone;
    Epoch epoch{e.llSrc + llLow, e.llDst + llLow, llLength, 0, std::max<int64_t>(0, llLength - llShift)};
    epoch.llCopyPos = bTowardsEnd ? epoch.llSrc + llShift : epoch.llSrc;
    return epoch;
}

std::array<uint64_t, kHeaderWords> headerWords(const Plan& plan) {
    std::array<uint64_t, kHeaderWords> w{};
    const SpaceEdit& e = plan.edit;
    w[0] = kHeaderMagic;
    w[1] = kVersion | (u64(kHeaderSize) << 32);
    w[2] = plan.identity.nVolume;
    w[3] = plan.identity.nIndex;
    w[4] = plan.identity.nGeneration;
    w[5] = e.nKind;
    w[6] = u64(e.llSrc);
    w[7] = u64(e.llDst);
    w[8] = u64(e.llLength);
    w[9] = u64(e.llSizeBefore);
    w[10] = u64(e.llSizeAfter);
    w[11] = u64(e.llFillPos);
    w[12] = u64(e.llFillSize);
    w[13] = u64(plan.llEpoch);
    w[14] = u64(plan.llArea);
    w[15] = plan.nNonce;
    w[16] = plan.bMarked ? 1 : 0;
    w[kHeaderWords - 1] = checksumOf(w, 0);
    return w;
}

bool addable(int64_t a, int64_t b) { return a >= 0 && b >= 0 && a <= std::numeric_limits<int64_t>::max() - b; }

// True when edit is one that AllocateDiskSpace, FreeDiskSpace or MoveData starts: source,
// destination, length, gap and both sizes related exactly as they relate them.
bool editPossible(const SpaceEdit& e) {
    if (e.llLength <= 0 || e.llSrc == e.llDst || !addable(e.llSrc, e.llLength) || !addable(e.llDst, e.llLength) ||
        e.llSizeBefore <= 0 || e.llSrc + e.llLength > e.llSizeBefore)
        return false;
    const int64_t llShift = shiftOf(e);
    switch (e.nKind) {
    case SpaceEdit::kAllocate:  // the tail from the position on moves up by the gap, which is zeroed
        return e.llDst > e.llSrc && e.llSrc + e.llLength == e.llSizeBefore && e.llFillPos == e.llSrc &&
               e.llFillSize == llShift && addable(e.llSizeBefore, llShift) &&
               e.llSizeAfter == e.llSizeBefore + llShift;
    case SpaceEdit::kFree:  // the tail after the range moves down onto it; the file loses the range
        return e.llDst < e.llSrc && e.llSrc + e.llLength == e.llSizeBefore &&
               e.llSizeAfter == e.llSizeBefore - llShift && e.llFillPos == 0 && e.llFillSize == 0;
    case SpaceEdit::kMove:  // a block inside the file; the file grows only to the block's new end
        return e.llSizeAfter == std::max(e.llSizeBefore, e.llDst + e.llLength) && e.llFillPos == 0 &&
               e.llFillSize == 0;
    default: return false;
    }
}

// The plan a header describes; false when it does not check or describes no edit this library
// could have started (so nothing it says is ever acted upon).
bool planFromHeader(const std::array<uint64_t, kHeaderWords>& w, Plan* pPlan) {
    if (w[0] != kHeaderMagic || w[1] != (kVersion | (u64(kHeaderSize) << 32))) return false;
    if (w[kHeaderWords - 1] != checksumOf(w, 0) || w[16] > 1) return false;
    Plan plan;
    plan.identity = {w[2], w[3], w[4]};
    SpaceEdit& e = plan.edit;
    e.nKind = static_cast<uint32_t>(w[5]);
    e.llSrc = i64(w[6]);
    e.llDst = i64(w[7]);
    e.llLength = i64(w[8]);
    e.llSizeBefore = i64(w[9]);
    e.llSizeAfter = i64(w[10]);
    e.llFillPos = i64(w[11]);
    e.llFillSize = i64(w[12]);
    plan.llEpoch = i64(w[13]);
    plan.llArea = i64(w[14]);
    plan.nNonce = w[15];
    plan.bMarked = w[16] == 1;
    if (w[5] < SpaceEdit::kAllocate || w[5] > SpaceEdit::kMove || !editPossible(e)) return false;
    // The layout makePlan gives for some window between the smallest and the largest.
    const int64_t llShift = shiftOf(e);
    const bool bWholeShift = plan.llEpoch == llShift && llShift >= kMinWindow / 2;
    const bool bHalfWindow = plan.llEpoch > llShift && plan.llEpoch - llShift >= kMinWindow / 2 &&
                             plan.llEpoch - llShift <= kMaxWindow / 2 && llShift < plan.llEpoch - llShift;
    if (!bWholeShift && !bHalfWindow) return false;
    if (plan.llArea != std::max<int64_t>(0, std::min(plan.llEpoch, e.llLength) - llShift)) return false;
    *pPlan = plan;
    return true;
}

struct Record {
    uint64_t nPhase = 0;
    uint64_t nNumber = 0;
    int64_t llDone = 0;
    int64_t llCopyPos = 0;
    int64_t llCopyLength = 0;
    uint64_t nCopySum = 0;
    // What the epochs before this record already wrote, checked before anything is redone: a
    // piece of the file and its checksum (none for record 0).
    int64_t llSamplePos = 0;
    int64_t llSampleLength = 0;
    uint64_t nSampleSum = 0;
};

std::array<uint64_t, kRecordWords> recordWords(const Record& r, uint64_t nHeaderSum) {
    std::array<uint64_t, kRecordWords> w{};
    w[0] = kRecordMagic;
    w[1] = r.nPhase;
    w[2] = r.nNumber;
    w[3] = u64(r.llDone);
    w[4] = u64(r.llCopyPos);
    w[5] = u64(r.llCopyLength);
    w[6] = r.nCopySum;
    w[7] = u64(r.llSamplePos);
    w[8] = u64(r.llSampleLength);
    w[9] = r.nSampleSum;
    w[kRecordWords - 1] = checksumOf(w, nHeaderSum);
    return w;
}

bool recordFromWords(const std::array<uint64_t, kRecordWords>& w, uint64_t nHeaderSum, Record* pRecord) {
    if (w[0] != kRecordMagic || w[kRecordWords - 1] != checksumOf(w, nHeaderSum)) return false;
    *pRecord = {w[1], w[2], i64(w[3]), i64(w[4]), i64(w[5]), w[6], i64(w[7]), i64(w[8]), w[9]};
    return true;
}

// ---- I/O helpers ------------------------------------------------------------------------------

// A failed flush reports the system's own code, as the final flush of a move always did.
bool failFlush() {
    setError(static_cast<int32_t>(sys::lastError()));
    return false;
}

bool failSystem() {
    setError(kErrSystem);
    return false;
}

bool journalWrite(void* hJournal, int64_t llPos, const unsigned char* pData, int64_t llSize) {
    uint32_t nWritten = 0;
    if (!sys::setFilePointer(hJournal, llPos, sys::kSeekBegin, nullptr) ||
        !sys::writeFile(hJournal, pData, static_cast<uint32_t>(llSize), &nWritten))
        return failSystem();
    return true;
}

// Reads exactly llSize bytes at llPos; *pbShort is set when the journal ends before.
bool journalRead(void* hJournal, int64_t llPos, unsigned char* pData, int64_t llSize, bool* pbShort) {
    uint32_t nRead = 0;
    if (!sys::setFilePointer(hJournal, llPos, sys::kSeekBegin, nullptr) ||
        !sys::readFile(hJournal, pData, static_cast<uint32_t>(llSize), &nRead))
        return failSystem();
    *pbShort = nRead != static_cast<uint32_t>(llSize);
    return true;
}

std::string folderOf(const std::string& sPath) {
    const std::size_t nSep = sPath.find_last_of("/\\");
    if (nSep == std::string::npos) return ".";
    return nSep == 0 ? sPath.substr(0, 1) : sPath.substr(0, nSep);
}

// ---- one journaled run --------------------------------------------------------------------------

// The journal of one edit while it runs (or is recovered): its handle, where it lives, the plan,
// and the move buffer.
class Run {
public:
    Run(void* hFile, void* hJournal, std::string sJournal, const Plan& plan, unsigned char* pBuffer,
        int64_t llBuffer)
        : m_hFile(hFile), m_hJournal(hJournal), m_sJournal(std::move(sJournal)), m_plan(plan),
          m_nHeaderSum(headerWords(plan)[kHeaderWords - 1]), m_pBuffer(pBuffer), m_llBuffer(llBuffer) {}

    // Step 1: saved copy of epoch 0, header and record 0, J, P.
    bool start() {
        const Epoch epoch = epochAt(m_plan, 0);
        Record record{kPhaseMove, 0, 0, epoch.llCopyPos, epoch.llCopyLength, 0};
        if (!saveCopy(epoch, 0, &record.nCopySum)) return false;
        unsigned char first[kHeaderSize + kRecordSize];
        encode(headerWords(m_plan), first);
        encode(recordWords(record, m_nHeaderSum), first + kHeaderSize);
        if (!journalWrite(m_hJournal, 0, first, sizeof first)) return false;
        if (!sys::flushFileData(m_hJournal)) return failFlush();
        if (!sys::flushFolder(folderOf(m_sJournal).c_str())) return failFlush();
        m_nNext = 1;
        return true;
    }

    // Recovery of a move epoch: puts R's band back into the file when its copy checks.
    bool restore(const Record& record) {
        m_nNext = record.nNumber + 1;
        m_sample = record;
        if (record.llCopyLength <= 0) return true;
        const int64_t llArea = kCopyBase + static_cast<int64_t>(record.nNumber % 2) * m_plan.llArea;
        Checksum sum(m_nHeaderSum);
        for (int64_t llOff = 0; llOff < record.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, record.llCopyLength - llOff);
            bool bShort = false;
            if (!journalRead(m_hJournal, llArea + llOff, m_pBuffer, llPiece, &bShort)) return false;
            if (bShort) return true;  // never flushed: the band is still in the file
            sum.update(m_pBuffer, static_cast<std::size_t>(llPiece));
        }
        if (sum.value() != record.nCopySum) return true;  // never flushed: the band is still in the file
        for (int64_t llOff = 0; llOff < record.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, record.llCopyLength - llOff);
            bool bShort = false;
            if (!journalRead(m_hJournal, llArea + llOff, m_pBuffer, llPiece, &bShort)) return false;
            const auto nPiece = static_cast<uint32_t>(llPiece);
            if (!QR_Seek(m_hFile, record.llCopyPos + llOff, sys::kSeekBegin) ||
                QR_Write(m_hFile, m_pBuffer, nPiece) != nPiece)
                return false;
        }
        return true;
    }

    // Steps 2 to 4 from the epoch at llDone (whose record is on the disk) on.
    bool moveFrom(int64_t llDone, ProgressReport& progress) {
        const SpaceEdit& e = m_plan.edit;
        while (llDone < e.llLength) {
            const Epoch epoch = epochAt(m_plan, llDone);
            WriteBack writeBack(m_hFile);
            if (!copyRange(m_hFile, m_pBuffer, m_llBuffer, epoch.llSrc, epoch.llDst, epoch.llLength, progress, &writeBack))
                return false;
            writeBack.flushPending();
            llDone += epoch.llLength;
            // The next epoch's copy goes to the other area and its source is not written by this
            // epoch, so it is saved while this epoch's writes are still on their way to the disk;
            // only its record waits for F.
            const bool bLast = llDone >= e.llLength;
            const Epoch next = bLast ? epoch : epochAt(m_plan, llDone);
            if (!takeSample(epoch)) return false;
            Record record{kPhaseMove, m_nNext, llDone, next.llCopyPos, next.llCopyLength, 0};
            withSample(&record);
            if (!bLast && !saveCopy(next, m_nNext, &record.nCopySum)) return false;
            if (!sys::flushFileData(m_hFile)) return failFlush();
            if (bLast) break;
            if (!writeRecord(record)) return false;
            if (!sys::flushFileData(m_hJournal)) return failFlush();
        }
        if (e.nKind == SpaceEdit::kMove) return true;
        Record finishRecord{kPhaseFinish, m_nNext, e.llLength, 0, 0, 0};
        withSample(&finishRecord);
        if (!writeRecord(finishRecord)) return false;
        if (!sys::flushFileData(m_hJournal)) return failFlush();
        return finish(progress);
    }

    // Step 3 after the finish record: the zero fill or the cut, F.
    bool finish(ProgressReport& progress) {
        const SpaceEdit& e = m_plan.edit;
        if (e.nKind == SpaceEdit::kAllocate) {
            if (!QR_Seek(m_hFile, e.llFillPos, sys::kSeekBegin)) return false;
            if (!writeZeros(m_hFile, e.llFillSize, progress)) return false;
        } else if (e.nKind == SpaceEdit::kFree) {
            if (!QR_Seek(m_hFile, e.llSizeAfter, sys::kSeekBegin)) return false;
            if (!sys::setEndOfFile(m_hFile)) return failSystem();
        }
        if (!sys::flushFileData(m_hFile)) return failFlush();
        return true;
    }

    // Step 4: done record, delete, close, P. The journal handle is closed whatever happens. It is
    // deleted while still locked, so that its name cannot meanwhile lead to a newer journal.
    bool close() {
        const bool bMarked = writeRecord({kPhaseDone, m_nNext, m_plan.edit.llLength, 0, 0, 0});
        const bool bDeleted = bMarked && sys::deleteOpenFile(m_hJournal, m_sJournal.c_str());
        const uint32_t nError = sys::lastError();
        sys::closeHandle(m_hJournal);
        m_hJournal = nullptr;
        if (!bMarked) return false;
        // With the done record written, a journal someone else removed is as good as removed.
        if (!bDeleted && nError != sys::kErrorNotFound) {
            sys::setLastError(nError);
            return failSystem();
        }
        if (!sys::flushFolder(folderOf(m_sJournal).c_str())) return failFlush();
        // The journal is gone for good: the mark goes too. One left by a crash here names a
        // journal that is not there any more, and is ignored.
        if (m_plan.bMarked) sys::removeFileMark(m_hFile, kMarkName);
        return true;
    }

    // Whether what the epochs before record already wrote is still in the file.
    bool sampleHolds(const Record& record) {
        if (record.llSampleLength <= 0) return true;
        if (record.llSampleLength > std::min(kSample, m_llBuffer)) return false;
        const auto nLength = static_cast<uint32_t>(record.llSampleLength);
        uint32_t nRead = 0;
        if (!QR_Seek(m_hFile, record.llSamplePos, sys::kSeekBegin) ||
            !sys::readFile(m_hFile, m_pBuffer, nLength, &nRead) || nRead != nLength)
            return false;
        Checksum sum(m_nHeaderSum);
        sum.update(m_pBuffer, nLength);
        return sum.value() == record.nSampleSum;
    }

    // After a failure: the journal stays, hot once its handle is closed.
    void abandon() {
        if (m_hJournal != nullptr) sys::closeHandle(m_hJournal);
        m_hJournal = nullptr;
    }

    // Recovery of the finish step: new records follow R's number, and carry its sample on.
    void continueAfter(const Record& record) {
        m_nNext = record.nNumber + 1;
        m_sample = record;
    }

private:
    // The sample of what epoch wrote: the first bytes of its destination, read back.
    bool takeSample(const Epoch& epoch) {
        const int64_t llLength = std::min({kSample, m_llBuffer, epoch.llLength});
        const auto nLength = static_cast<uint32_t>(llLength);
        uint32_t nRead = 0;
        if (!QR_Seek(m_hFile, epoch.llDst, sys::kSeekBegin)) return false;
        if (!sys::readFile(m_hFile, m_pBuffer, nLength, &nRead)) return failSystem();
        if (nRead != nLength) {
            setSystemError(sys::kErrorShortSource);
            return false;
        }
        Checksum sum(m_nHeaderSum);
        sum.update(m_pBuffer, nLength);
        m_sample.llSamplePos = epoch.llDst;
        m_sample.llSampleLength = llLength;
        m_sample.nSampleSum = sum.value();
        return true;
    }
    void withSample(Record* pRecord) const {
        pRecord->llSamplePos = m_sample.llSamplePos;
        pRecord->llSampleLength = m_sample.llSampleLength;
        pRecord->nSampleSum = m_sample.nSampleSum;
    }

    // Saves the epoch's band (if any) into copy area nNumber % 2; *pnSum is its checksum.
    bool saveCopy(const Epoch& epoch, uint64_t nNumber, uint64_t* pnSum) {
        Checksum sum(m_nHeaderSum);
        const int64_t llArea = kCopyBase + static_cast<int64_t>(nNumber % 2) * m_plan.llArea;
        WriteBack writeBack(m_hJournal);
        for (int64_t llOff = 0; llOff < epoch.llCopyLength; llOff += m_llBuffer) {
            const int64_t llPiece = std::min(m_llBuffer, epoch.llCopyLength - llOff);
            const auto nPiece = static_cast<uint32_t>(llPiece);
            if (!QR_Seek(m_hFile, epoch.llCopyPos + llOff, sys::kSeekBegin)) return false;
            if (QR_Read(m_hFile, m_pBuffer, nPiece) != nPiece) {
                // The source lies inside the file: a short read means it changed under us.
                if (GetDllErrorNo() != kErrSystem) setSystemError(sys::kErrorInvalidArgument);
                return false;
            }
            sum.update(m_pBuffer, nPiece);
            if (!journalWrite(m_hJournal, llArea + llOff, m_pBuffer, llPiece)) return false;
            writeBack.wrote(llArea + llOff, llPiece);
        }
        writeBack.flushPending();
        *pnSum = sum.value();
        return true;
    }

    bool writeRecord(const Record& record) {
        unsigned char bytes[kRecordSize];
        encode(recordWords(record, m_nHeaderSum), bytes);
        const int64_t llSlot = kSlotBase + static_cast<int64_t>(record.nNumber % 2) * kRecordSize;
        if (!journalWrite(m_hJournal, llSlot, bytes, kRecordSize)) return false;
        m_nNext = record.nNumber + 1;
        return true;
    }

    void* m_hFile;
    void* m_hJournal;
    std::string m_sJournal;
    Plan m_plan;
    uint64_t m_nHeaderSum;
    unsigned char* m_pBuffer;
    int64_t m_llBuffer;
    uint64_t m_nNext = 0;
    Record m_sample;  // the sample of the last epoch this run (or the record it goes on from) made
};

// The move buffer of one call, released on every return.
class MoveBuffer {
public:
    explicit MoveBuffer(int64_t llLength) : m_llSize(std::min(kMoveChunk, llLength)) {
        m_pBytes = static_cast<unsigned char*>(sys::memAlloc(static_cast<std::size_t>(m_llSize)));
    }
    ~MoveBuffer() { sys::memFree(m_pBytes); }
    MoveBuffer(const MoveBuffer&) = delete;
    MoveBuffer& operator=(const MoveBuffer&) = delete;
    unsigned char* data() const { return m_pBytes; }
    int64_t size() const { return m_llSize; }

private:
    int64_t m_llSize;
    unsigned char* m_pBytes = nullptr;
};

// ---- recovery ----------------------------------------------------------------------------------

// The mark a journaled edit leaves on its data file: the edit's nonce and where its journal is.
std::string markValue(uint64_t nNonce, const std::string& sJournal) {
    char szNonce[17];
    for (int i = 15; i >= 0; --i, nNonce >>= 4) szNonce[i] = "0123456789abcdef"[nNonce & 15];
    szNonce[16] = '\0';
    return std::string(szNonce) + " " + sJournal;
}

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

enum class Opened { kHot, kNone, kBusy, kNotOurs, kWaits, kFailed };

// A journal is believed only when its owner is the data file's and nobody else may open it:
// nobody but that owner (or the administrator) can have written it.
bool trusted(const sys::FileOwnership& journal, const sys::FileOwnership& data) {
    return journal.bRegular && journal.bOwnerOnly && journal.nLinks == 1 && journal.sOwner == data.sOwner;
}

// What is at sJournal, when it could not be opened, or was found by its name only.
Opened classifyByName(const std::string& sJournal, const sys::FileOwnership& data, Opened ours) {
    sys::FileOwnership journal;
    if (!sys::pathOwnership(sJournal.c_str(), &journal))
        return sys::lastError() == sys::kErrorNotFound ? Opened::kNone : Opened::kNotOurs;
    return trusted(journal, data) ? ours : Opened::kNotOurs;
}

// Opens the journal at sJournal of a file owned as data, locked: kHot with *phJournal; kNone
// (there is none), kBusy (locked by an edit running right now), kNotOurs (something that is not
// the owner's private journal: left alone), kWaits (the owner's journal, which this caller may
// not open) or kFailed (reported).
Opened openJournal(const std::string& sJournal, const sys::FileOwnership& data, void** phJournal) {
    *phJournal = sys::createPrivateFile(sJournal.c_str(), sys::kGenericRead | sys::kGenericWrite, 0, sys::kOpenExisting);
    if (sys::isValidHandle(*phJournal)) {
        sys::FileOwnership journal;
        if (!sys::fileOwnership(*phJournal, &journal)) {
            failSystem();
            sys::closeHandle(*phJournal);
            return Opened::kFailed;
        }
        if (trusted(journal, data)) return Opened::kHot;
        sys::closeHandle(*phJournal);
        return Opened::kNotOurs;
    }
    const uint32_t nError = sys::lastError();
    if (nError == sys::kErrorNotFound) return Opened::kNone;
    if (nError == sys::kErrorJournalNotOurs) return Opened::kNotOurs;
    // Someone else's object may be locked by them, or closed to us: only the owner's counts.
    if (nError == sys::kErrorSharingViolation) return classifyByName(sJournal, data, Opened::kBusy);
    if (nError == sys::kErrorAccessDenied) return classifyByName(sJournal, data, Opened::kWaits);
    failSystem();
    return Opened::kFailed;
}

// How long an edit waits for someone else's brief look at the journal's name to end: an open
// elsewhere that holds a finished journal while it removes it, or that opened the edit's new
// journal in the instant between its creation and its lock (and so found it empty and removes it).
constexpr int kLookTries = 200;
constexpr auto kLookPause = std::chrono::milliseconds(5);

// Creates the journal at sJournal, locked; kInvalidHandle with the last error set.
void* createJournal(const std::string& sJournal) {
    for (int nTry = 0;; ++nTry) {
        void* hJournal = sys::createPrivateFile(sJournal.c_str(), sys::kGenericRead | sys::kGenericWrite, 0, sys::kCreateNew);
        if (sys::isValidHandle(hJournal)) return hJournal;
        const uint32_t nError = sys::lastError();
        const bool bLooked = nError == sys::kErrorSharingViolation || nError == sys::kErrorAlreadyExists ||
                             nError == sys::kErrorFileExists;
        if (!bLooked || nTry + 1 >= kLookTries) return hJournal;
        std::this_thread::sleep_for(kLookPause);
    }
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

bool runJournaledEdit(void* hFile, const SpaceEdit& edit, ProgressReport& progress) {
    const std::string sPath = sys::finalPathOf(hFile);
    if (sPath.empty()) {
        if (sys::lastError() != sys::kErrorNotFound) return failSystem();
        // Deleted while open: no one can ever open it again, so there is nothing to recover.
        MoveBuffer buffer(edit.llLength);
        if (buffer.data() == nullptr) {
            setError(kErrNoMemory);
            return false;
        }
        if (!sys::reserveFileSpace(hFile, std::max(edit.llSizeAfter, edit.llDst + edit.llLength))) return failSystem();
        if (!copyRange(hFile, buffer.data(), buffer.size(), edit.llSrc, edit.llDst, edit.llLength, progress)) return false;
        Plan plan = makePlan(edit, {});
        Run run(hFile, nullptr, {}, plan, buffer.data(), buffer.size());
        return run.finish(progress);
    }
    sys::FileIdentity identity;
    if (!sys::fileIdentity(hFile, &identity)) return failSystem();
    const std::string sJournal = journalPathFor(sPath);

    MoveBuffer buffer(edit.llLength);
    if (buffer.data() == nullptr) {
        setError(kErrNoMemory);
        return false;
    }
    sys::FileOwnership data;
    if (!sys::fileOwnership(hFile, &data)) return failSystem();
    void* hJournal = createJournal(sJournal);
    if (!sys::isValidHandle(hJournal)) {
        // The name is taken: by the owner's own journal (an edit running right now), or by
        // something no recovery would believe, which the edit must not use or remove.
        const uint32_t nError = sys::lastError();
        if (nError != sys::kErrorJournalNotOurs && classifyByName(sJournal, data, Opened::kHot) != Opened::kNotOurs) {
            sys::setLastError(nError);
            return failSystem();
        }
        setSystemError(sys::kErrorJournalNotOurs);
        return false;
    }
    // Until the file is first written, a failure takes the journal away again: the file is as it
    // was. (Should the delete fail, the journal describes an edit that recovery can still make.)
    const auto discard = [&] {
        const uint32_t nSaved = sys::lastError();
        sys::closeHandle(hJournal);
        sys::deleteFile(sJournal.c_str());
        sys::setLastError(nSaved);
    };
    // A journal is believed only when it is the data file's owner's: one made by the
    // administrator is handed over; anyone else cannot make one.
    if (!sys::giveFileTo(hJournal, data.sOwner)) {
        discard();
        if (sys::lastError() != sys::kErrorAccessDenied) return failSystem();
        setSystemError(sys::kErrorJournalNotOwner);
        return false;
    }
    // Everything the edit will write past an end, the journal's second copy area included, is
    // given blocks before the first byte moves: a full disk then fails here, with the file as it
    // was and no journal. The journal first: its blocks go with it when it is discarded.
    Plan plan = makePlan(edit, identity);
    plan.nNonce = (static_cast<uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
    if (!sys::reserveFileSpace(hJournal, journalSize(plan)) ||
        !sys::reserveFileSpace(hFile, std::max(edit.llSizeAfter, edit.llDst + edit.llLength))) {
        discard();
        return failSystem();
    }
    // The mark goes on the file (and to the disk) before its first byte moves, so that a journal
    // is applied only to the file it was written for, whatever name leads to it now.
    if (sys::setFileMark(hFile, kMarkName, markValue(plan.nNonce, sJournal))) {
        plan.bMarked = true;
        if (!sys::flushFileBuffers(hFile)) {
            sys::removeFileMark(hFile, kMarkName);
            discard();
            return failFlush();
        }
    } else if (sys::lastError() != sys::kErrorNotSupported) {
        discard();
        return failSystem();
    }
    Run run(hFile, hJournal, sJournal, plan, buffer.data(), buffer.size());
    if (!run.start()) {
        if (plan.bMarked) sys::removeFileMark(hFile, kMarkName);
        discard();
        return false;
    }
    if (!run.moveFrom(0, progress)) {
        run.abandon();
        return false;
    }
    return run.close();
}

bool leaveJournalOf(void* hFile, const SpaceEdit& edit) {
    const std::string sPath = sys::finalPathOf(hFile);
    sys::FileIdentity identity;
    if (sPath.empty() || !sys::fileIdentity(hFile, &identity)) return failSystem();
    const Plan plan = makePlan(edit, identity);
    const Epoch epoch = epochAt(plan, 0);
    unsigned char first[kHeaderSize + kRecordSize];
    encode(headerWords(plan), first);
    encode(recordWords({kPhaseMove, 0, 0, epoch.llCopyPos, epoch.llCopyLength, 0}, headerWords(plan)[kHeaderWords - 1]),
           first + kHeaderSize);
    void* hJournal = sys::createPrivateFile(journalPathFor(sPath).c_str(), sys::kGenericRead | sys::kGenericWrite, 0,
                                            sys::kCreateNew);
    if (!sys::isValidHandle(hJournal)) return failSystem();
    const bool bOk = journalWrite(hJournal, 0, first, sizeof first);
    sys::closeHandle(hJournal);
    return bOk;
}

namespace {
// The journal to look at for the file at sPath ("" for none): the one beside it, or, when there is
// none, the one the file's mark names (an edit made through another name of the file, or before
// it was renamed); *pbByMark tells which. Leaves the last error.
std::string journalToCheck(const std::string& sPath, bool* pbByMark) {
    const uint32_t nSaved = sys::lastError();
    *pbByMark = false;
    std::string sJournal = journalPathFor(sPath);
    std::string sMark;
    bool bFound = false;
    if (!sys::findFile(sJournal.c_str())) {
        sJournal.clear();
        if (sys::fileMark(sPath.c_str(), kMarkName, &sMark, &bFound) && bFound && sMark.size() > 17 &&
            sys::findFile(sMark.c_str() + 17)) {
            sJournal = sMark.substr(17);
            *pbByMark = true;
        }
    }
    sys::setLastError(nSaved);
    return sJournal;
}
}  // namespace

bool finishInterruptedEdit(void* hFile) {
    const uint32_t nSaved = sys::lastError();
    const std::string sPath = sys::finalPathOf(hFile);
    bool bByMark = false;
    const std::string sJournal = sPath.empty() ? std::string() : journalToCheck(sPath, &bByMark);
    if (sJournal.empty()) {
        sys::setLastError(nSaved);
        return true;
    }
    sys::FileOwnership data;
    if (!sys::fileOwnership(hFile, &data)) return failSystem();
    void* hJournal = nullptr;
    Opened opened = openJournal(sJournal, data, &hJournal);
    // A lock held for a moment by an open elsewhere that looks at a finished journal goes soon;
    // an edit running right now holds it longer.
    for (int nTry = 1; opened == Opened::kBusy && nTry < kLookTries; ++nTry) {
        std::this_thread::sleep_for(kLookPause);
        opened = openJournal(sJournal, data, &hJournal);
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
    case Opened::kNotOurs:  // the edit's own journal decides (it cannot take the name)
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
    const std::string sJournal = sPath.empty() ? std::string() : journalToCheck(sPath, &bByMark);
    if (sJournal.empty()) {
        sys::setLastError(nSaved);
        return Recovery::kNothing;
    }
    sys::FileOwnership data;
    if (!sys::pathOwnership(sPath.c_str(), &data)) {
        failSystem();
        return Recovery::kFailed;
    }
    void* hJournal = nullptr;
    switch (openJournal(sJournal, data, &hJournal)) {
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
    sys::FileOwnership opened;
    if (!sys::fileOwnership(hFile, &opened) || opened.sOwner != data.sOwner) {
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
