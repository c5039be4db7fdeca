// File objects: what CxFile and CTempFile share about temporary files: generated names, opening
// the generated placeholder, and zero-filling.
#pragma once

#include <cstdint>
#include <string>

namespace qr {

// Bytes a zero-filling write hands to QR_Write at most, and the least size of a CTempFile.
inline constexpr int64_t kZeroPiece = 1024000;

// Creates a new, unique, empty file in the folder for temporary files, named with up to three
// characters of szPrefix (szDefault when szPrefix is null), and returns its full path. "" with
// error 1000000 when the folder is unknown or no file could be created there.
std::string makeTempPath(const char* szPrefix, const char* szDefault);

// Opens the placeholder a generated name left behind, emptied, for reading and writing without
// sharing. No overwrite question is asked: the file is the library's own and nobody has seen
// it. Returns the handle; the invalid-handle value with error 1000000 on failure.
void* openTempPlaceholder(const char* szPath);

// Writes llCount zero bytes at hFile's file pointer in pieces of at most kZeroPiece bytes,
// without allocating. False as soon as a piece writes nothing (QR_Write has stored its error).
bool writeZeros(void* hFile, int64_t llCount);

}  // namespace qr
