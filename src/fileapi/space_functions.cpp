// Raw file-handle API: inserting, removing, moving and zeroing ranges inside an open file.
//
// The chunked move reads and writes through QR_Seek, QR_Read and QR_Write with one buffer of
// at most 1 MiB. AllocateDiskSpace and FreeDiskSpace first try to insert or remove the range in
// place when position and size are whole file-system blocks; that gives exactly the bytes the
// chunked move would, and where the file system refuses, the file is unchanged and the chunked
// move runs instead. With the journal on (the default), the chunked move of the three edits
// runs under the journal of edit_journal.cpp, which lets the next open finish an edit that was
// interrupted; with it off, the move is flushed once at its end and a crash leaves it part-way.
#include "fileapi/space_functions.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "fileapi/progress.h"
#include "fileapi/space_move.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace {

constexpr int64_t kMaxPos = std::numeric_limits<int64_t>::max();

std::atomic<bool> g_bFastPath{true};

// Position and length that the chunked move can address without overflow: a move step seeks
// to them, and a seek before 0 would fail only after earlier pieces had been written.
bool rangeAddressable(int64_t llPos, int64_t llLength) {
    return llPos >= 0 && llLength >= 0 && llPos <= kMaxPos - llLength;
}

// Reports error 1000000 for an argument the platform would refuse (a position before 0 or
// past the largest offset), before anything is touched.
bool failInvalidRange() {
    qr::setSystemError(qr::sys::kErrorInvalidArgument);
    return false;
}

// The unjournaled move: one buffer, the pieces, one flush at the end (whose failure reports the
// system's own code).
bool moveBlock(void* hFile, const _tagMoveData& move, qr::ProgressReport& progress) {
    const int64_t llChunk = std::min(qr::kMoveChunk, move.llLength);
    auto* pBuffer = static_cast<unsigned char*>(qr::sys::memAlloc(static_cast<std::size_t>(llChunk)));
    if (pBuffer == nullptr) {
        qr::setError(qr::kErrNoMemory);
        return false;
    }
    bool bOk = qr::copyRange(hFile, pBuffer, llChunk, move.llSrcPos, move.llDstPos, move.llLength, progress);
    if (bOk && !qr::sys::flushFileBuffers(hFile)) {
        qr::setError(static_cast<int32_t>(qr::sys::lastError()));
        bOk = false;
    }
    qr::sys::memFree(pBuffer);
    return bOk;
}

// Makes sure the file can grow to llEnd before anything is written (1000000 on failure, with
// the system's code: no space, file too large). A move or fill that ran out of space half-way
// would leave a file that is neither the old one nor the new one.
bool reserveUpTo(void* hFile, int64_t llEnd) {
    if (qr::sys::reserveFileSpace(hFile, llEnd)) return true;
    qr::setError(qr::kErrSystem);
    return false;
}

// The file's size, or false after reporting 1000000.
bool fileSize(void* hFile, int64_t* pllSize) {
    if (qr::sys::getFileSize(hFile, pllSize)) return true;
    qr::setError(qr::kErrSystem);
    return false;
}

// True when the in-place edit may be tried for llPos and llSize (whole blocks).
bool fastPathFits(void* hFile, int64_t llPos, int64_t llSize) {
    if (!g_bFastPath.load(std::memory_order_relaxed)) return false;
    const uint32_t nBlock = qr::sys::fileBlockSize(hFile);
    return nBlock != 0 && llPos % nBlock == 0 && llSize % nBlock == 0;
}

// After an in-place edit: flush like the chunked move, and leave the file pointer where the
// chunked path leaves it.
bool finishInPlace(void* hFile, int64_t llPointer) {
    if (!qr::sys::flushFileBuffers(hFile)) {
        qr::setError(static_cast<int32_t>(qr::sys::lastError()));
        return false;
    }
    return QR_Seek(hFile, llPointer, qr::sys::kSeekBegin);
}

// With the journal on, an earlier interrupted edit of the file is finished before this one
// measures it.
bool readyToEdit(void* hFile) { return !qr::spaceJournalEnabled() || qr::finishInterruptedEdit(hFile); }

// The journaled edit, and the last progress report when it succeeds.
bool journaled(void* hFile, const qr::SpaceEdit& edit, qr::ProgressReport& progress) {
    if (!qr::runJournaledEdit(hFile, edit, progress)) return false;
    progress.finish();
    return true;
}

}  // namespace

namespace qr {

void setSpaceFastPath(bool bEnabled) { g_bFastPath.store(bEnabled); }
bool spaceFastPath() { return g_bFastPath.load(); }

}  // namespace qr

extern "C" {

QR_API bool QR_CALL MoveData(void* hFile, const _tagMoveData* pMoveData) {
    if (pMoveData == nullptr) return failInvalidRange();
    const _tagMoveData move = *pMoveData;
    if (move.llLength <= 0 || move.llSrcPos == move.llDstPos) return false;
    if (!rangeAddressable(move.llSrcPos, move.llLength) || !rangeAddressable(move.llDstPos, move.llLength))
        return failInvalidRange();
    if (!readyToEdit(hFile)) return false;
    int64_t llFileSize = 0;
    if (!fileSize(hFile, &llFileSize)) return false;
    // A block that runs past the end of the file cannot be moved whole: refused before any byte
    // moves (moving the part that can be read would leave a block that is neither).
    if (move.llSrcPos + move.llLength > llFileSize) {
        qr::setSystemError(qr::sys::kErrorShortSource);
        return false;
    }
    if (qr::spaceJournalEnabled()) {
        const int64_t llAfter = std::max(llFileSize, move.llDstPos + move.llLength);
        qr::ProgressReport progress(move.llLength);
        return journaled(hFile,
                         {qr::SpaceEdit::kMove, move.llSrcPos, move.llDstPos, move.llLength, llFileSize, llAfter, 0, 0},
                         progress);
    }
    if (!reserveUpTo(hFile, move.llDstPos + move.llLength)) return false;
    qr::ProgressReport progress(move.llLength);
    if (!moveBlock(hFile, move, progress)) return false;
    progress.finish();
    return true;
}

QR_API bool QR_CALL InitiateSpaceIntoZero(void* hFile, int64_t llPos, int64_t llSize) {
    if (!QR_Seek(hFile, llPos, qr::sys::kSeekBegin)) return false;
    if (llSize > 0) {
        if (llPos > kMaxPos - llSize) return failInvalidRange();
        if (!reserveUpTo(hFile, llPos + llSize)) return false;  // leaves the file pointer
    }
    qr::ProgressReport progress(llSize);
    if (!qr::writeZeros(hFile, llSize, progress)) return false;
    progress.finish();
    return true;
}

QR_API bool QR_CALL AllocateDiskSpace(void* hFile, int64_t llPos, int64_t llSize) {
    if (llSize <= 0) return false;
    if (!readyToEdit(hFile)) return false;
    int64_t llFileSize = 0;
    if (!fileSize(hFile, &llFileSize)) return false;
    if (!rangeAddressable(llPos, llSize)) return failInvalidRange();
    // A position at or after the end leaves nothing to move: refused, nothing written.
    if (llPos >= llFileSize) return false;
    const int64_t llTail = llFileSize - llPos;
    if (llFileSize > kMaxPos - llSize) return failInvalidRange();

    qr::ProgressReport progress(llTail + llSize);
    if (fastPathFits(hFile, llPos, llSize) && qr::sys::insertRange(hFile, llPos, llSize)) {
        if (!finishInPlace(hFile, llPos + llSize)) return false;
        progress.finish();
        return true;
    }
    if (qr::spaceJournalEnabled())
        return journaled(hFile,
                         {qr::SpaceEdit::kAllocate, llPos, llPos + llSize, llTail, llFileSize, llFileSize + llSize,
                          llPos, llSize},
                         progress);
    if (!reserveUpTo(hFile, llFileSize + llSize)) return false;
    if (!moveBlock(hFile, _tagMoveData{llPos, llPos + llSize, llTail}, progress)) return false;
    if (!QR_Seek(hFile, llPos, qr::sys::kSeekBegin)) return false;
    if (!qr::writeZeros(hFile, llSize, progress)) return false;
    progress.finish();
    return true;
}

QR_API bool QR_CALL FreeDiskSpace(void* hFile, int64_t llPos, int64_t llSize) {
    if (llSize <= 0) return false;
    if (!readyToEdit(hFile)) return false;
    int64_t llFileSize = 0;
    if (!fileSize(hFile, &llFileSize)) return false;
    if (!rangeAddressable(llPos, llSize)) return failInvalidRange();
    // A range that reaches or passes the end is refused and the file stays as it was.
    const int64_t llTail = llFileSize - llPos - llSize;
    if (llTail <= 0) return false;
    // A file mapped anywhere cannot lose its tail: refused before anything moves.
    if (!qr::sys::checkFileNotMapped(hFile)) {
        qr::setError(qr::kErrSystem);
        return false;
    }

    qr::ProgressReport progress(llTail);
    if (fastPathFits(hFile, llPos, llSize) && qr::sys::collapseRange(hFile, llPos, llSize)) {
        if (!finishInPlace(hFile, llFileSize - llSize)) return false;
        progress.finish();
        return true;
    }
    if (qr::spaceJournalEnabled())
        return journaled(hFile,
                         {qr::SpaceEdit::kFree, llPos + llSize, llPos, llTail, llFileSize, llFileSize - llSize, 0, 0},
                         progress);
    if (!moveBlock(hFile, _tagMoveData{llPos + llSize, llPos, llTail}, progress)) return false;
    if (!QR_Seek(hFile, llFileSize - llSize, qr::sys::kSeekBegin)) return false;
    if (!qr::sys::setEndOfFile(hFile)) {
        qr::setError(qr::kErrSystem);
        return false;
    }
    progress.finish();
    return true;
}

}  // extern "C"
