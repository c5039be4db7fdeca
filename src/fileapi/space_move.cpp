// Raw file-handle API: the piecewise block move and the zero fill.
#include "fileapi/space_move.h"

#include <algorithm>

#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace qr {

namespace {
constexpr uint32_t kZeroChunk = 1024;  // piece of the zero fill

// One piece: read nChunk bytes at llRead, write them at llWrite. A read that stops short (the
// file ends inside the piece) writes nothing and fails with kErrorShortSource: the bytes that
// were read are only part of what the caller asked to move.
bool moveStep(void* hFile, unsigned char* pBuffer, int64_t llRead, int64_t llWrite, uint32_t nChunk,
              WriteBack* pWriteBack) {
    if (!QR_Seek(hFile, llRead, sys::kSeekBegin)) return false;
    uint32_t nRead = 0;
    if (!sys::readFile(hFile, pBuffer, nChunk, &nRead)) {
        setError(kErrSystem);
        return false;
    }
    if (nRead != nChunk) {
        setSystemError(sys::kErrorShortSource);
        return false;
    }
    if (!QR_Seek(hFile, llWrite, sys::kSeekBegin)) return false;
    if (QR_Write(hFile, pBuffer, nRead) != nRead) return false;
    if (pWriteBack != nullptr) pWriteBack->wrote(llWrite, nRead);
    return true;
}
}  // namespace

bool copyRange(void* hFile, unsigned char* pBuffer, int64_t llBuffer, int64_t llSrc, int64_t llDst,
               int64_t llLength, ProgressReport& progress, WriteBack* pWriteBack) {
    if (llLength <= 0 || llSrc == llDst) return true;
    int64_t llChunk = std::min(llBuffer, llLength);
    int64_t llRemaining = llLength;
    if (llSrc > llDst) {
        // Towards the beginning: front to back, so no piece overwrites bytes not yet read.
        int64_t llRead = llSrc;
        int64_t llWrite = llDst;
        while (llRemaining > 0) {
            if (!moveStep(hFile, pBuffer, llRead, llWrite, static_cast<uint32_t>(llChunk), pWriteBack)) return false;
            progress.advance(llChunk);
            llRemaining -= llChunk;
            llRead += llChunk;
            llWrite += llChunk;
            if (llRemaining < llChunk) llChunk = llRemaining;
        }
    } else {
        // Towards the end: back to front; the last piece is the first bytes of the block.
        int64_t llRead = llSrc + llLength - llChunk;
        int64_t llWrite = llDst + llLength - llChunk;
        while (llRemaining > 0) {
            if (!moveStep(hFile, pBuffer, llRead, llWrite, static_cast<uint32_t>(llChunk), pWriteBack)) return false;
            progress.advance(llChunk);
            llRemaining -= llChunk;
            if (llRemaining < llChunk) llChunk = llRemaining;
            llRead -= llChunk;
            llWrite -= llChunk;
        }
    }
    return true;
}

void WriteBack::wrote(int64_t llPos, int64_t llLength) {
    if (m_llHigh > m_llLow && (llPos + llLength < m_llLow || llPos > m_llHigh)) flushPending();
    if (m_llHigh == m_llLow) {
        m_llLow = llPos;
        m_llHigh = llPos + llLength;
    } else {
        m_llLow = std::min(m_llLow, llPos);
        m_llHigh = std::max(m_llHigh, llPos + llLength);
    }
    if (m_llHigh - m_llLow >= kBatch) flushPending();
}

void WriteBack::flushPending() {
    if (m_llHigh > m_llLow) sys::startWriteBack(m_hFile, m_llLow, m_llHigh - m_llLow);
    m_llLow = m_llHigh = 0;
}

bool writeZeros(void* hFile, int64_t llSize, ProgressReport& progress) {
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

}  // namespace qr
