// Raw file-handle API: inserting, removing, moving and zeroing ranges inside an open file.
//
// The chunked move reads and writes through QR_Seek, QR_Read and QR_Write with one buffer of
// at most 1 MiB and ends with one flush. AllocateDiskSpace and FreeDiskSpace first try to
// insert or remove the range in place when position and size are whole file-system blocks;
// that gives exactly the bytes the chunked move would, and where the file system refuses, the
// file is unchanged and the chunked move runs instead.
#include "fileapi/space_functions.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>

#include "error/error_state.h"
#include "fileapi/progress.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace {

constexpr int64_t kMoveChunk = 0x100000;  // largest piece one move step copies
constexpr uint32_t kZeroChunk = 1024;     // piece of the zero fill
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

// One piece: read nChunk bytes at llRead, write what was read at llWrite. A read that stops
// short (the block runs past the end of the file) writes only the bytes read and then fails
// without an error number, like a read at the end; a short write fails with the number
// QR_Write reported.
bool moveStep(void* hFile, unsigned char* pBuffer, int64_t llRead, int64_t llWrite, uint32_t nChunk) {
    if (!QR_Seek(hFile, llRead, qr::sys::kSeekBegin)) return false;
    const uint32_t nRead = QR_Read(hFile, pBuffer, nChunk);
    if (nRead == 0) return false;
    if (!QR_Seek(hFile, llWrite, qr::sys::kSeekBegin)) return false;
    if (QR_Write(hFile, pBuffer, nRead) != nRead) return false;
    return nRead == nChunk;
}

bool moveBlock(void* hFile, const _tagMoveData& move, qr::ProgressReport& progress) {
    const int64_t llLength = move.llLength;
    if (llLength <= 0 || move.llSrcPos == move.llDstPos) return false;
    if (!rangeAddressable(move.llSrcPos, llLength) || !rangeAddressable(move.llDstPos, llLength))
        return failInvalidRange();

    int64_t llChunk = std::min(kMoveChunk, llLength);
    auto* pBuffer = static_cast<unsigned char*>(qr::sys::memAlloc(static_cast<std::size_t>(llChunk)));
    if (pBuffer == nullptr) {
        qr::setError(qr::kErrNoMemory);
        return false;
    }
    bool bOk = true;
    int64_t llRemaining = llLength;
    if (move.llSrcPos > move.llDstPos) {
        // Towards the beginning: front to back, so no piece overwrites bytes not yet read.
        int64_t llRead = move.llSrcPos;
        int64_t llWrite = move.llDstPos;
        while (bOk && llRemaining > 0) {
            bOk = moveStep(hFile, pBuffer, llRead, llWrite, static_cast<uint32_t>(llChunk));
            if (!bOk) break;
            progress.advance(llChunk);
            llRemaining -= llChunk;
            llRead += llChunk;
            llWrite += llChunk;
            if (llRemaining < llChunk) llChunk = llRemaining;
        }
    } else {
        // Towards the end: back to front; the last piece is the first bytes of the block.
        int64_t llRead = move.llSrcPos + llLength - llChunk;
        int64_t llWrite = move.llDstPos + llLength - llChunk;
        while (bOk && llRemaining > 0) {
            bOk = moveStep(hFile, pBuffer, llRead, llWrite, static_cast<uint32_t>(llChunk));
            if (!bOk) break;
            progress.advance(llChunk);
            llRemaining -= llChunk;
            if (llRemaining < llChunk) llChunk = llRemaining;
            llRead -= llChunk;
            llWrite -= llChunk;
        }
    }
    // One flush for the whole move; its failure is reported with the system's own code.
    if (bOk && !qr::sys::flushFileBuffers(hFile)) {
        qr::setError(static_cast<int32_t>(qr::sys::lastError()));
        bOk = false;
    }
    qr::sys::memFree(pBuffer);
    return bOk;
}

// Writes llSize zero bytes at the file pointer in pieces of 1024 bytes.
bool writeZeros(void* hFile, int64_t llSize, qr::ProgressReport& progress) {
    static const unsigned char s_zeros[kZeroChunk] = {};
    int64_t llPiece = kZeroChunk;
    while (llSize > 0) {
        if (llSize < llPiece) llPiece = llSize;
        const auto nPiece = static_cast<uint32_t>(llPiece);
        // A short write has reported 1000000; going on would leave a gap that is not zero.
        if (QR_Write(hFile, s_zeros, nPiece) != nPiece) return false;
        progress.advance(llPiece);
        llSize -= llPiece;
    }
    return true;
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
    if (!writeZeros(hFile, llSize, progress)) return false;
    progress.finish();
    return true;
}

QR_API bool QR_CALL AllocateDiskSpace(void* hFile, int64_t llPos, int64_t llSize) {
    if (llSize <= 0) return false;
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
    if (!reserveUpTo(hFile, llFileSize + llSize)) return false;
    if (!moveBlock(hFile, _tagMoveData{llPos, llPos + llSize, llTail}, progress)) return false;
    if (!QR_Seek(hFile, llPos, qr::sys::kSeekBegin)) return false;
    if (!writeZeros(hFile, llSize, progress)) return false;
    progress.finish();
    return true;
}

QR_API bool QR_CALL FreeDiskSpace(void* hFile, int64_t llPos, int64_t llSize) {
    if (llSize <= 0) return false;
    int64_t llFileSize = 0;
    if (!fileSize(hFile, &llFileSize)) return false;
    if (!rangeAddressable(llPos, llSize)) return failInvalidRange();
    // A range that reaches or passes the end is refused and the file stays as it was.
    const int64_t llTail = llFileSize - llPos - llSize;
    if (llTail <= 0) return false;

    qr::ProgressReport progress(llTail);
    if (fastPathFits(hFile, llPos, llSize) && qr::sys::collapseRange(hFile, llPos, llSize)) {
        if (!finishInPlace(hFile, llFileSize - llSize)) return false;
        progress.finish();
        return true;
    }
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
