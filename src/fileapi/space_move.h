// Raw file-handle API: the piecewise block move and the zero fill that the space functions and
// the edit journal are built from.
#pragma once

#include <cstdint>

#include "fileapi/progress.h"

namespace qr {

inline constexpr int64_t kMoveChunk = 0x100000;  // largest piece one move step copies

// Copies llLength bytes from llSrc to llDst in the same file, as if through an intermediate
// copy, in pieces of at most llBuffer bytes through QR_Seek, QR_Read and QR_Write: front to
// back when the block moves towards the beginning, back to front otherwise, so that no piece
// overwrites a byte not yet read. Advances progress by each piece. Does not flush. A read that
// stops short (the file ends inside the block) writes nothing of its piece and reports 1000000
// with kErrorShortSource; a failed seek, read or write has reported 1000000. With a
// pWriteBack, written pieces are handed to the disk as they accumulate (for a flush that follows
// soon).
class WriteBack;
bool copyRange(void* hFile, unsigned char* pBuffer, int64_t llBuffer, int64_t llSrc, int64_t llDst,
               int64_t llLength, ProgressReport& progress, WriteBack* pWriteBack = nullptr);

// Gathers adjacent written ranges of one file and starts their write to the disk (without
// waiting, sys::startWriteBack) whenever kBatch bytes have gathered, and at flushPending(). Few
// large requests cost the system less than one per piece.
class WriteBack {
public:
    explicit WriteBack(void* hFile) : m_hFile(hFile) {}
    void wrote(int64_t llPos, int64_t llLength);
    void flushPending();

private:
    static constexpr int64_t kBatch = 8 * 0x100000;
    void* m_hFile;
    int64_t m_llLow = 0;
    int64_t m_llHigh = 0;
};

// Writes llSize zero bytes at the file pointer in pieces of 1024 bytes; a short write has
// reported 1000000.
bool writeZeros(void* hFile, int64_t llSize, ProgressReport& progress);

}  // namespace qr
