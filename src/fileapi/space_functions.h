// Raw file-handle API: switches of the in-file space functions for tests and benchmarks.
#pragma once

namespace qr {

// Whether AllocateDiskSpace and FreeDiskSpace may insert or remove whole file-system blocks in
// place instead of moving the tail (on by default). Both paths give the same bytes; turning it
// off forces the chunked move, so the two can be compared.
void setSpaceFastPath(bool bEnabled);
bool spaceFastPath();

}  // namespace qr
