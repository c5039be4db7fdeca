// Test support for the space functions: the same edits applied to a byte vector, and small
// file helpers, as the independent reference the file results are compared with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fileapitest {

using Bytes = std::vector<unsigned char>;

// The documented results, written from their definitions (false where the call is refused).
bool modelAllocate(Bytes& bytes, int64_t llPos, int64_t llSize);
bool modelFree(Bytes& bytes, int64_t llPos, int64_t llSize);
bool modelMove(Bytes& bytes, int64_t llSrc, int64_t llDst, int64_t llLength);
void modelZero(Bytes& bytes, int64_t llPos, int64_t llSize);

// The chunked move stopped after its first nSteps pieces (1 MiB each, front to back when the
// block moves towards the beginning, back to front otherwise), as a failure leaves the file.
void modelMoveSteps(Bytes& bytes, int64_t llSrc, int64_t llDst, int64_t llLength, int nSteps);
// How many pieces the chunked move of llLength bytes takes.
int moveSteps(int64_t llLength);

Bytes randomBytes(std::size_t nSize, uint32_t nSeed);
// Bytes [llPos, llPos + nCount) of a file, for files too large to read whole. The file may be
// open elsewhere if that open shares reading.
Bytes readRange(const std::string& sPath, int64_t llPos, std::size_t nCount);
// The whole file, read in one go (byte-wise stream reading is slow under the sanitizers).
Bytes readAll(const std::string& sPath);

}  // namespace fileapitest
