// Raw file-handle API: the edit journal's format: its plan of an edit (epochs, copy areas), the
// header and records as they lie on the disk, their checksums, and the mark on the data file.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "fileapi/edit_journal.h"
#include "platform/platform.h"

namespace qr::journal {

// 64 MiB: per 2 GiB moved, 64 stretches of a small shift (two flushes each) instead of one flush;
// a smaller window costs more flushes, a larger one more journal space.
constexpr int64_t kDefaultWindow = 64 * 0x100000;
constexpr int64_t kMinWindow = 2 * 4096;
constexpr int64_t kMaxWindow = 1024LL * 0x100000;

constexpr uint64_t kHeaderMagic = 0x0031524E4A435251ULL;  // "QRCJNR1\0"
constexpr uint64_t kRecordMagic = 0x0031434552435251ULL;  // "QRCREC1\0"
constexpr uint64_t kVersion = 2;  // 1: no mark, no samples
constexpr uint64_t kOldVersion = 1;
constexpr int64_t kSample = 64 * 1024;  // bytes of an epoch's result a record checks
inline constexpr const char* kMarkName = "qrcore.journal";
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
inline uint64_t checksumOf(const std::array<uint64_t, N>& words, uint64_t nSeed) {
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

inline uint64_t u64(int64_t ll) { return static_cast<uint64_t>(ll); }
inline int64_t i64(uint64_t n) { return static_cast<int64_t>(n); }

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

inline int64_t shiftOf(const SpaceEdit& edit) {
    return edit.llDst > edit.llSrc ? edit.llDst - edit.llSrc : edit.llSrc - edit.llDst;
}

inline Plan makePlan(const SpaceEdit& edit, const sys::FileIdentity& identity) {
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
inline int64_t journalSize(const Plan& plan) {
    if (plan.llArea == 0) return kHeaderSize + 2 * kRecordSize;
    return kCopyBase + (plan.edit.llLength > plan.llEpoch ? 2 : 1) * plan.llArea;
}

// One epoch: the part of the move between two flushes, and the band of its source it overwrites.
struct Epoch {
    int64_t llSrc, llDst, llLength;
    int64_t llCopyPos, llCopyLength;
};

inline Epoch epochAt(const Plan& plan, int64_t llDone) {
    const SpaceEdit& e = plan.edit;
    const int64_t llShift = shiftOf(e);
    const int64_t llLength = std::min(plan.llEpoch, e.llLength - llDone);
    const bool bTowardsEnd = e.llDst > e.llSrc;
    const int64_t llLow = bTowardsEnd ? e.llLength - llDone - llLength : llDone;
    Epoch epoch{e.llSrc + llLow, e.llDst + llLow, llLength, 0, std::max<int64_t>(0, llLength - llShift)};
    epoch.llCopyPos = bTowardsEnd ? epoch.llSrc + llShift : epoch.llSrc;
    return epoch;
}

inline std::array<uint64_t, kHeaderWords> headerWords(const Plan& plan) {
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

inline bool addable(int64_t a, int64_t b) { return a >= 0 && b >= 0 && a <= std::numeric_limits<int64_t>::max() - b; }

// True when edit is one that AllocateDiskSpace, FreeDiskSpace or MoveData starts: source,
// destination, length, gap and both sizes related exactly as they relate them.
inline bool editPossible(const SpaceEdit& e) {
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
inline bool planFromHeader(const std::array<uint64_t, kHeaderWords>& w, Plan* pPlan) {
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

inline std::array<uint64_t, kRecordWords> recordWords(const Record& r, uint64_t nHeaderSum) {
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

inline bool recordFromWords(const std::array<uint64_t, kRecordWords>& w, uint64_t nHeaderSum, Record* pRecord) {
    if (w[0] != kRecordMagic || w[kRecordWords - 1] != checksumOf(w, nHeaderSum)) return false;
    *pRecord = {w[1], w[2], i64(w[3]), i64(w[4]), i64(w[5]), w[6], i64(w[7]), i64(w[8]), w[9]};
    return true;
}

// The mark a journaled edit leaves on its data file: the edit's nonce and where its journal is.
inline std::string markValue(uint64_t nNonce, const std::string& sJournal) {
    char szNonce[17];
    for (int i = 15; i >= 0; --i, nNonce >>= 4) szNonce[i] = "0123456789abcdef"[nNonce & 15];
    szNonce[16] = '\0';
    return std::string(szNonce) + " " + sJournal;
}

}  // namespace qr::journal
