// POSIX backend: what a file handle points to, for the backend files that work on descriptors
// (files, share locks, range edits, mappings). Portable code never sees this.
#pragma once

#include <cstdint>

namespace qr::sys {

// One open file. The handle given out is the address of this record; a live registry tells
// real handles from stale or made-up pointers, so an operation on a closed handle fails with
// kErrorInvalidHandle instead of touching freed memory or somebody else's descriptor.
struct FileHandle {
    int nFd = -1;           // close-on-exec; its own open file description
    uint32_t nAccess = 0;   // kGenericRead | kGenericWrite as granted to the caller
    uint32_t nShare = 0;    // kShareRead | kShareWrite as given at open
    bool bInheritable = false;  // marked for children started with inheritance on purpose
    bool bSparse = false;       // marked sparse: a mapping grows the file without reserving blocks
};

// The record behind hFile, or null (last error set to kErrorInvalidHandle) when hFile is null,
// kInvalidHandle or not a live handle of this process.
FileHandle* lookupHandle(void* hFile);

// The descriptor of hFile for other backend files (mmap, fstat); -1 for an invalid handle
// (last error set). The descriptor stays owned by the handle: never close it.
int descriptorOf(void* hFile);

// The access granted to hFile (kGenericRead/kGenericWrite bits); 0 for an invalid handle.
uint32_t accessOf(void* hFile);

// Registers a new record (takes ownership) and returns it as a handle.
void* registerHandle(FileHandle* pHandle);
// Removes hFile from the registry and returns its record (the caller closes and frees it), or
// null when hFile is not a live handle.
FileHandle* unregisterHandle(void* hFile);

}  // namespace qr::sys
